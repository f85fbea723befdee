# Debian packages: `cpack -G DEB` in the build folder writes one .deb per
# component, with dependencies from dpkg-shlibdeps where they are shared
# libraries and named below where they are not (the tool and the extensions
# load the module with dlopen, Python loads the extension).
set(CPACK_PACKAGE_NAME zeqwucha)
set(CPACK_PACKAGE_VENDOR "zeqwucha developers")
set(CPACK_PACKAGE_CONTACT "zeqwucha developers <zeqwucha@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_COMPONENTS_ALL module dev zeq)
set(ZEQ_EXACT "(= ${PROJECT_VERSION}-1)")

set(CPACK_DEBIAN_MODULE_PACKAGE_NAME libzeqwucha${PROJECT_VERSION_MAJOR})
# A shlibs file (for packages that link the module) and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_MODULE_DESCRIPTION "zeqwucha loadable module
The host language's character functions on a byte and a multibyte route, a
random-number engine with 19 methods, string kernels and settings accessors,
as the shared library a host loads (libzeqwucha.so).")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzeqwucha-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libzeqwucha${PROJECT_VERSION_MAJOR} ${ZEQ_EXACT}, libicu-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION "zeqwucha headers and reference host
The records a host exchanges with the zeqwucha module (zeq/*.h), the
reference host as a static library with its headers, a pkg-config file and a
CMake package (find_package(zeqwucha)).")

set(CPACK_DEBIAN_ZEQ_PACKAGE_NAME zeq)
set(CPACK_DEBIAN_ZEQ_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_ZEQ_PACKAGE_DEPENDS "libzeqwucha${PROJECT_VERSION_MAJOR} ${ZEQ_EXACT}")
set(CPACK_COMPONENT_ZEQ_DESCRIPTION "command-line front end of the zeqwucha module
Evaluates the module's character functions, draws its random streams and
adds function columns to CSV files, through the reference host.")

if(TARGET zeqsqlite)
  list(APPEND CPACK_COMPONENTS_ALL sqlite)
  set(CPACK_DEBIAN_SQLITE_PACKAGE_NAME libzeqwucha-sqlite)
  set(CPACK_DEBIAN_SQLITE_PACKAGE_DEPENDS "libzeqwucha${PROJECT_VERSION_MAJOR} ${ZEQ_EXACT}")
  set(CPACK_DEBIAN_SQLITE_PACKAGE_SUGGESTS sqlite3)
  set(CPACK_COMPONENT_SQLITE_DESCRIPTION "SQLite extension of the zeqwucha module
The module's functions as SQL functions and its random streams as a table,
loaded with .load /usr/lib/zeqwucha/libzeqsqlite.")
endif()

if(TARGET zeqwucha_py)
  list(APPEND CPACK_COMPONENTS_ALL python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-zeqwucha)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  # The extension is built for one interpreter version.
  string(REGEX REPLACE "^\\.cpython-([0-9])([0-9]+)-.*" "\\1.\\2" ZEQ_PY_VERSION "${PYTHON_MODULE_EXTENSION}")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "libzeqwucha${PROJECT_VERSION_MAJOR} ${ZEQ_EXACT}, python3 (>= ${ZEQ_PY_VERSION}), python3 (<< ${ZEQ_PY_VERSION}.999), python3-numpy, python3-pandas")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS python3-dask)
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python interface of the zeqwucha module
The module's functions over numpy arrays and pandas columns, its random
streams as numpy arrays, and Dask helpers.")
endif()

include(CPack)
