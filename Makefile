# Entry points: `make run` (the toolbox with simulated cameras) and `make test` (what CI runs);
# `make tsan` and `make fuzz` run the thread and fuzzing checks on their own.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

# `make run` builds only what the demo runs (the toolbox with its driver host and helper programs,
# and the web-service stand-in), optimised, without the sanitizers and the tests, in its own folder.
RUN_DIR ?= build-run
RUN_TARGETS ?= HalvetorBody_ToolBox hvb-webservice hvb-usbbus

TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
# The labels whose tests run threads, the application's screens and dialogs among them.
# usb-bus: the tests start themselves again under umockdev's preload library with the sanitizer
# runtime they carry first in LD_PRELOAD (standins/usbbus/UmockdevPreload.h).
TSAN_LABELS ?= transport|driver|host|camera-link|platform|online|update|app|status|release-notes|settings|tools|upgrade|password|format-reset|label-dialog|screens|usb-bus

.PHONY: all deps configure build test bench run clean tsan fuzz

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHVB_SANITIZE=ON

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The run ends by listing each skipped test with its reason (a run without root skips the cases
# that play other users); TEST_SKIPS=fail, as CI sets it, makes any skipped test fail the run.
TEST_SKIPS ?= allow

test: build
	cd $(BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest -j $(JOBS) --output-on-failure --no-tests=error; status=$$?; \
	  $(CURDIR)/scripts/skipped-tests.sh $(if $(filter fail,$(TEST_SKIPS)),--fail) . || status=1; exit $$status

# ThreadSanitizer over the threaded labels, in its own folder. Suppressions: tests/tsan.supp.
# handle_segv=0: the crash-report tests fault on purpose and need their own handler to run.
tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHVB_SANITIZE=OFF -DHVB_TSAN=ON -DHVB_BUILD_BENCH=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 handle_segv=0 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest -j $(JOBS) -L '$(TSAN_LABELS)' --output-on-failure --no-tests=error

# The fuzz targets as libFuzzer binaries (clang), each run for FUZZ_SECONDS.
fuzz: deps
	@scripts/install-deps.sh --fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHVB_FUZZ=ON -DHVB_BUILD_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz-targets
	scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

run: deps
	cmake -S . -B $(RUN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DHVB_SANITIZE=OFF -DHVB_BUILD_TESTS=OFF -DHVB_BUILD_BENCH=OFF
	cmake --build $(RUN_DIR) -j $(JOBS) --target $(RUN_TARGETS)
	@scripts/run.sh --build-dir $(RUN_DIR)

bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DHVB_SANITIZE=OFF -DHVB_BUILD_TESTS=OFF
	cmake --build build-release -j $(JOBS)
	@for b in build-release/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD_DIR) $(RUN_DIR) build-release $(TSAN_DIR) $(FUZZ_DIR)
