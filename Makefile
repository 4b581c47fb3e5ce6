# Entry points: `make run` (the toolbox with simulated cameras) and `make test` (what CI runs).
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test bench run clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHVB_SANITIZE=ON

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest -j $(JOBS) --output-on-failure --no-tests=error

run: build
	@scripts/run.sh --build-dir $(BUILD_DIR)

bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DHVB_SANITIZE=OFF -DHVB_BUILD_TESTS=OFF
	cmake --build build-release -j $(JOBS)
	@for b in build-release/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD_DIR) build-release
