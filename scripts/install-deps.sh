#!/usr/bin/env bash
# Installs what building, testing and benchmarking need, when it is missing (Debian packages):
# Assimp reads rigged characters; its test models are real files the tests import. Package names
# given as arguments are installed too (`make fuzz`: clang and its libFuzzer runtime). Then the
# npm packages package-lock.json pins go into node_modules/: three.js and esbuild, from which the
# build makes the page `tessamire view` writes, puppeteer-core, which drives chromium in the
# page's browser tests, and the Khronos glTF validator, which checks every glTF file the tests
# write.
set -euo pipefail
need=()
# ffmpeg encodes `tessamire render --movie`; assimp-testmodels holds models made elsewhere that
# the tests import and the README renders.
# chromium runs the page's tests headless, drawing WebGL in software. pybind11, Python's headers
# and numpy build the Python module; pytest runs its tests; venv, setuptools, wheel and build
# make and install its package with no network (pyproject.toml). fmt's headers give the shortest digits
# of the numbers written to OBJ files, fast_float's read them. libstb-dev's stb_image_write.h
# encodes PNG pictures (the Windows cross build takes the same header). clang-tidy measures the
# length of every function for `make test`. nlohmann's JSON reader lets the tests' glTF player read
# back what the writers wrote. Eigen's headers give the bake its dense factorisations. ccache keeps compiled objects between builds (the Makefile uses it
# when present), so a second build of the same sources, in any clone, costs little.
for pkg in cmake g++ make ccache python3 libgtest-dev libbenchmark-dev libassimp-dev libfmt-dev libfast-float-dev ffmpeg assimp-testmodels chromium \
  pybind11-dev python3-dev python3-numpy python3-pytest python3-venv python3-setuptools python3-wheel \
  python3-build libstb-dev clang-tidy nlohmann-json3-dev libeigen3-dev "$@"; do dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg"); done
# Dask's distributed runs the Python package's farm (tessamire.farm) on worker processes; without
# its recommends, which would bring a web dashboard and its plotting stack the farm does not use.
lean=()
dpkg -s python3-distributed >/dev/null 2>&1 || lean+=(python3-distributed)
# Node.js and npm from Debian, unless a Node.js with its npm is there already.
command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 || need+=(nodejs npm)
if [ ${#need[@]} -gt 0 ] || [ ${#lean[@]} -gt 0 ]; then
  echo "installing: ${need[*]} ${lean[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # Wait for another installation on the same machine rather than fail.
  apt=(apt-get -o DPkg::Lock::Timeout=600)
  $SUDO "${apt[@]}" update -qq
  [ ${#need[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive $SUDO "${apt[@]}" install -y -qq "${need[@]}"
  [ ${#lean[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive $SUDO "${apt[@]}" install -y -qq --no-install-recommends \
      "${lean[@]}"
fi

# node_modules/ as the lock file pins it, fetched again when the lock file is newer than what npm
# last installed.
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ ! -f "$root/node_modules/.package-lock.json" ] || [ "$root/package-lock.json" -nt "$root/node_modules/.package-lock.json" ]; then
  echo "installing the npm packages of package-lock.json into node_modules/"
  (cd "$root" && npm ci --no-audit --no-fund --loglevel=error)
fi
