#!/usr/bin/env bash
# Installs the build dependencies when they are missing (Debian/Ubuntu).
set -euo pipefail
pkgs="build-essential cmake ninja-build python3 libgtest-dev libgmock-dev libbenchmark-dev libicu-dev pkg-config ccache librandom123-dev libedlib-dev libsqlite3-dev sqlite3 libcli11-dev
  pybind11-dev python3-dev python3-numpy python3-pandas python3-dask python3-distributed python3-pytest
  python3-levenshtein python3-jellyfish gnuplot-nox
  python3-hypothesis libpcg-cpp-dev
  clang-14 libclang-rt-14-dev llvm-14
  help2man bash-completion python3-build python3-setuptools python3-wheel python3-venv python3-pip python3-pybind11 dpkg-dev"
missing=""
for p in $pkgs; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
