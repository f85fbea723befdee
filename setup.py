"""Builds the Python package's extension with the project's CMake build.

The extension (zeqwucha._core) and the copy of the module it loads
(zeqwucha/libzeqwucha.so) are made by the CMake target zeqwucha_py in a
Release build folder: $ZEQ_BUILD_DIR when set (CI points it at the build of
./run-tests), else build/ in the source tree, configured when missing.  The
package then carries both files, so an installed package needs no build tree.
"""
import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(os.environ.get("ZEQ_BUILD_DIR") or HERE / "build").resolve()
        if not (build / "CMakeCache.txt").exists():
            # The same configuration as ./zeq and ./run-tests make, which reuse it.
            subprocess.check_call(["cmake", "-S", str(HERE), "-B", str(build), "-G", "Ninja",
                                   "-DCMAKE_BUILD_TYPE=Release"])
        subprocess.check_call(["cmake", "--build", str(build), "-j2", "--target", "zeqwucha_py"])
        built = build / "python" / "zeqwucha"
        core = built / pathlib.Path(self.get_ext_filename("_core")).name
        if not core.exists():
            sys.exit(f"{core} was not built: the build folder is for another Python "
                     f"(configure it with -DPython_EXECUTABLE={sys.executable}, "
                     f"or set ZEQ_BUILD_DIR to one that is)")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(core, target)
        shutil.copyfile(built / "libzeqwucha.so", target.parent / "libzeqwucha.so")


setup(
    ext_modules=[Extension("zeqwucha._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build/setuptools"}},
)
