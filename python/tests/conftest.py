"""Shared helpers: the zeq tool, whose answers the extension must repeat."""
import os
import pathlib
import subprocess

import pytest

import zeqwucha

BUILD = pathlib.Path(zeqwucha.__file__).resolve().parents[2]


def zeq_tool():
    path = os.environ.get("ZEQ_TOOL") or str(BUILD / "zeq")
    if not os.path.exists(path):
        pytest.skip(f"no zeq tool at {path}")
    return path


def run_zeq(*args, encoding="latin-1"):
    """zeq's output lines (one per statement or draw)."""
    cmd = [zeq_tool(), *(a.encode(encoding) for a in args)]
    if args[0] != "rand":
        cmd[1:1] = ["--encoding", encoding]
    done = subprocess.run(cmd, capture_output=True, timeout=60)
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    return done.stdout.decode(encoding, "surrogateescape").split("\n")[:-1]


def literal(value):
    """An argument as zeq's statements write it."""
    if value is None:
        return "."
    if isinstance(value, str):
        return '"' + value.replace('"', '""') + '"'
    return repr(value)


def statement(name, args):
    return f"{name.upper()}({', '.join(literal(a) for a in args)})"
