#!/usr/bin/env python3
"""Runs the README's sqlite3 session and compares the shell's output with the
README's.  The session is the console block after the marker line
<!-- sqlite session -->: the lines between `$ sqlite3 <<'EOF'` and `EOF` are
the shell's input, the lines after `EOF` its output.

usage: shell_test.py SQLITE3 README BUILD_DIR
The session runs in a scratch folder whose `build` is BUILD_DIR, as from the
top of the source tree."""
import os
import subprocess
import sys
import tempfile


def session(readme):
    lines = open(readme, encoding="utf-8").read().split("\n")
    start = lines.index("<!-- sqlite session -->")
    block = []
    for line in lines[start + 2:]:
        if line.startswith("```"):
            break
        block.append(line)
    head = block.index("$ sqlite3 <<'EOF'")
    end = block.index("EOF", head)
    return block[head + 1:end], block[end + 1:]


def main(shell, readme, build):
    given, expected = session(readme)
    with tempfile.TemporaryDirectory() as top:
        os.symlink(os.path.abspath(build), os.path.join(top, "build"))
        run = subprocess.run([shell], input="\n".join(given) + "\n", cwd=top,
                             capture_output=True, text=True, timeout=120)
    got = run.stdout.rstrip("\n").split("\n")
    if got != expected or run.returncode != 0:
        print("README session differs (exit %d)" % run.returncode)
        print("--- expected\n" + "\n".join(expected))
        print("--- got\n" + "\n".join(got) + "\n" + run.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
