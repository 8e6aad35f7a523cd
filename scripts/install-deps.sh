#!/usr/bin/env bash
# Installs what building, testing and benchmarking need, when it is missing (Debian packages):
# Assimp reads rigged characters; its test models are real files the tests import. Package names
# given as arguments are installed too (`make fuzz`: clang and its libFuzzer runtime).
set -euo pipefail
need=()
# ffmpeg encodes `tessamire render --movie`; assimp-testmodels holds models made elsewhere that
# the tests import and the README renders.
for pkg in cmake g++ make python3 libgtest-dev libbenchmark-dev libassimp-dev ffmpeg assimp-testmodels "$@"; do dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg"); done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # Wait for another installation on the same machine rather than fail.
  apt=(apt-get -o DPkg::Lock::Timeout=600)
  $SUDO "${apt[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO "${apt[@]}" install -y -qq "${need[@]}"
fi
