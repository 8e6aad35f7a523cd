# Wraps the CMake presets. `make run` and `make test` do all the set-up on a fresh machine.
# PRESET picks the build variant of CMakePresets.json: plain (build/), address (build-asan/) or
# thread (build-tsan/).
PRESET ?= plain
BUILD := $(if $(filter address,$(PRESET)),build-asan,$(if $(filter thread,$(PRESET)),build-tsan,build))
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test bench install windows test-windows package-windows format clean

deps:
	@scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/tessamire run --out out

test: build
	ctest --preset $(PRESET) -j $(JOBS)

# Installs bin/tessamire and lib/tessamire/plugins/tessamire/ under PREFIX; the installed tree
# finds its plug-ins relative to the program, so it may be moved.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

bench: deps
	@scripts/install-deps.sh libopenmesh-dev
	cmake --preset $(PRESET)
	cmake --build $(BUILD) -j $(JOBS) --target tessamire_bench
	$(BUILD)/tessamire_bench --benchmark_counters_tabular=true

# Windows x86-64 (build-windows/): the plug-in folder plugins/tessamire/, tessamire.exe and
# tessamire_tests.exe, cross-built with mingw-w64.
windows: deps
	@scripts/windows-deps.sh
	cmake --preset windows
	cmake --build build-windows -j $(JOBS)

# The whole test suite under wine, and the Windows program against the native one (built first).
test-windows: build windows
	ctest --preset windows -j $(JOBS)

# dist/tessamire-windows-x86_64.zip: the plug-in folder as a user copies it into the host's.
package-windows: windows
	scripts/package-windows.sh build-windows dist/tessamire-windows-x86_64.zip

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf build build-asan build-tsan build-windows dist
