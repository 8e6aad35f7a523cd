# Wraps the CMake steps. `make run` and `make test` do all the set-up on a fresh machine.
BUILD ?= build
SANITIZE ?=
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test bench format clean

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSAMIRE_SANITIZE=$(SANITIZE)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/tessamire run --out out

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: deps
	@scripts/install-deps.sh libopenmesh-dev
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSAMIRE_SANITIZE=$(SANITIZE)
	cmake --build $(BUILD) -j $(JOBS) --target tessamire_bench
	$(BUILD)/tessamire_bench --benchmark_counters_tabular=true

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf $(BUILD)
