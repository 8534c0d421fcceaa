#!/usr/bin/env bash
# Installs with apt-get whatever this machine lacks for building and testing; installs
# nothing when everything is there. Usage: ensure-deps.sh [linux|windows|fuzz]...
set -euo pipefail
want=()
need() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || want+=("$1"); }
for what in "${@:-linux}"; do
  case "$what" in
    linux) for p in cmake ninja-build g++ make libgtest-dev python3 iproute2; do need "$p"; done ;;
    sanitizers) for p in g++; do need "$p"; done ;;
    fuzz) for p in clang libclang-rt-14-dev; do need "$p"; done ;;
    windows) for p in g++-mingw-w64-x86-64-posix wine wine64; do need "$p"; done ;;
    bench) for p in libbenchmark-dev; do need "$p"; done ;;
  esac
done
[ ${#want[@]} -eq 0 ] && exit 0
echo "Installing: ${want[*]}"
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${want[@]}"
