# Thin wrapper over CMake. `make run` and `make test` first install what is
# missing (scripts/setup.sh, Debian packages only), then configure and build.
BUILD_DIR   ?= build/release
ASAN_DIR    ?= build/asan
FUZZ_DIR    ?= build/fuzz
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?=
ARGS        ?=

.PHONY: all setup configure build run test test-asan fuzz bench clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Opens the window; without --server it serves its own lookup data.
run: build
	@bash scripts/run.sh $(BUILD_DIR) $(ARGS)

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

# The same tests under AddressSanitizer + UndefinedBehaviorSanitizer.
test-asan: setup
	@cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZIVORNA_SANITIZE=ON -DZIVORNA_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)
	@cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 900

# libFuzzer targets under ASan+UBSan, each for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: setup
	@CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZIVORNA_FUZZ=ON -DZIVORNA_SANITIZE=ON -DZIVORNA_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_all
	@bash scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

bench: build
	@bash scripts/bench.sh $(BUILD_DIR)

clean:
	rm -rf build
