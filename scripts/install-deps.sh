#!/usr/bin/env bash
# Installs what building, testing and benchmarking need, when it is missing (Debian packages).
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
command -v python3 >/dev/null || need+=(python3)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
for pkg in "$@"; do dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg"); done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
