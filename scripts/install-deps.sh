#!/usr/bin/env bash
# Installs what building, testing and benchmarking need, when it is missing (Debian packages);
# extra package names may be given.
set -euo pipefail
need=()
for pkg in cmake g++ make python3 libgtest-dev libbenchmark-dev "$@"; do dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg"); done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # Wait for another installation on the same machine rather than fail.
  apt=(apt-get -o DPkg::Lock::Timeout=600)
  $SUDO "${apt[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO "${apt[@]}" install -y -qq "${need[@]}"
fi
