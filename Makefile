# Wraps the CMake presets. `make run` and `make test` do all the set-up on a fresh machine.
# PRESET picks the build variant of CMakePresets.json: plain (build/: the Release type), address
# (build-asan/), thread (build-tsan/) or fuzz (build-fuzz/: clang with libFuzzer, see `make fuzz`);
# the last three build at -O1 with line tables only (-g1): their reports still name file and
# line, and they compile in about 60% of the time -O2 with full debug information takes.
PRESET ?= plain
BUILD := $(if $(filter address,$(PRESET)),build-asan,$(if $(filter thread,$(PRESET)),build-tsan,$(if $(filter fuzz,$(PRESET)),build-fuzz,build)))
JOBS ?= $(shell nproc)
# Compilers run through ccache when it is installed (scripts/install-deps.sh adds it). Paths are
# taken relative to the checkout and the working folder is left out of the key, so clones in other
# folders share what one compiled; CMake reads the launchers when it first configures a folder.
ifneq ($(shell command -v ccache),)
export CMAKE_C_COMPILER_LAUNCHER := ccache
export CMAKE_CXX_COMPILER_LAUNCHER := ccache
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
endif

.PHONY: deps configure build program run test soak fuzz bench install windows test-windows package-windows format clean

deps:
	@scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

# Every target but the benchmarks: the plug-in, the program and the test suite.
build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Only the plug-in and the program, all that `make run` needs.
program: configure
	cmake --build $(BUILD) -j $(JOBS) --target tessamire tessamire_cli

run: program
	$(BUILD)/tessamire run --out out

test: build
	ctest --preset $(PRESET) -j $(JOBS)

# The soak test at its full length: 10,000 evaluations with random changes between them.
SOAK_EVALUATIONS ?= 10000
soak: build
	TESSAMIRE_SOAK_EVALUATIONS=$(SOAK_EVALUATIONS) $(BUILD)/tessamire_tests --gtest_filter='Soak.*'

# The libFuzzer targets of fuzz/ over their seed corpora, sharing FUZZ_BUDGET seconds in all
# (FUZZ_SECONDS instead gives each target that long); clang is installed here when missing.
# Fails on any crash, sanitizer report, leak, timeout or allocation over 2 GB.
FUZZ_BUDGET ?= 300
FUZZ_TARGETS := scene_file obj weights_file pc2 mdd character character_transport
fuzz: deps
	@scripts/install-deps.sh clang libclang-rt-dev
	cmake --preset fuzz
	cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	FUZZ_BUDGET=$(FUZZ_BUDGET) fuzz/run.sh build-fuzz $(FUZZ_TARGETS)

# Installs bin/tessamire, lib/tessamire/plugins/tessamire/ and (plain builds) the Python module
# under PREFIX; the installed tree finds its plug-ins relative to the program, so it may be moved.
PREFIX ?= /usr/local
install: program
	$(if $(filter plain,$(PRESET)),cmake --build $(BUILD) -j $(JOBS) --target tessamire_python)
	cmake --install $(BUILD) --prefix $(PREFIX)

bench: deps
	@scripts/install-deps.sh libopenmesh-dev libtinyobjloader-dev time
	cmake --preset $(PRESET)
	cmake --build $(BUILD) -j $(JOBS) --target tessamire_bench $(if $(filter plain,$(PRESET)),tessamire_python)
	$(BUILD)/tessamire_bench --benchmark_counters_tabular=true
	$(if $(filter plain,$(PRESET)),PYTHONPATH=$(BUILD)/python /usr/bin/python3 bench/python_apply.py)

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
	rm -rf build build-asan build-tsan build-fuzz build-windows dist
