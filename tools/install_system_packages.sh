#!/usr/bin/env bash
# Installs the Debian packages the build and the C++ tests need, when missing:
# a C++20 compiler and GoogleTest; with --fuzz also clang and its runtime
# libraries (libFuzzer, sanitizers) for `make fuzz-native`. Needs root (or sudo) only when something
# is actually missing.
set -euo pipefail
need=()
command -v g++ >/dev/null 2>&1 || need+=(g++)
dpkg -s libgtest-dev >/dev/null 2>&1 || need+=(libgtest-dev)
python3 -c 'import venv, ensurepip' >/dev/null 2>&1 || need+=(python3-venv)
if [ "${1:-}" = "--fuzz" ]; then
  command -v clang++ >/dev/null 2>&1 || need+=(clang)
  dpkg -s libclang-rt-dev >/dev/null 2>&1 || need+=(libclang-rt-dev)
fi
[ ${#need[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing Debian packages: ${need[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
