# vantel-rfid: top-level commands. `make demo` and `make test` work on a
# fresh machine: scripts/setup.sh installs what the target needs first.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_TSAN ?= build-tsan
BUILD_FUZZ ?= build-fuzz
# Seconds per fuzz target: `make fuzz` (FUZZ_TIME) and the short run that
# `make test` includes to keep the targets alive (FUZZ_TEST_TIME).
FUZZ_TIME      ?= 60
FUZZ_TEST_TIME ?= 5
JOBS       ?= $(shell nproc)
CMAKE_GEN  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

# What `make demo` builds: only what scripts/demo.sh runs.
DEMO_TARGETS ?= vantel-rfid vantel-rfid-sim

.PHONY: all setup setup-demo build build-asan build-tsan build-fuzz demo test test-normal \
        test-asan test-tsan test-fuzz fuzz bench soak clean

all: build

setup:
	@sh scripts/setup.sh all

setup-demo:
	@sh scripts/setup.sh demo

$(BUILD)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(BUILD_ASAN)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD_ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	      -DVR_SANITIZE=address,undefined -DVR_BUILD_BENCH=OFF

# ThreadSanitizer build of the tests that run threads.
$(BUILD_TSAN)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD_TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	      -DVR_SANITIZE=thread -DVR_BUILD_BENCH=OFF

# libFuzzer targets (clang), with ASan and UBSan and the debug log level,
# so that the hex dumps of the traffic format fuzzed bytes too.
$(BUILD_FUZZ)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD_FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVR_FUZZ=ON \
	      -DVR_BUILD_TESTS=OFF -DVR_BUILD_BENCH=OFF -DVR_DEFAULT_LOG_LEVEL=3

# A build directory that `make demo` configured without the tests gets them
# back here.
build: setup $(BUILD)/CMakeCache.txt
	@if grep -q '^VR_BUILD_TESTS:BOOL=OFF' $(BUILD)/CMakeCache.txt; then \
	  cmake -S . -B $(BUILD) -DVR_BUILD_TESTS=ON -DVR_BUILD_BENCH=ON; fi
	cmake --build $(BUILD) -j $(JOBS)

build-asan: setup $(BUILD_ASAN)/CMakeCache.txt
	cmake --build $(BUILD_ASAN) -j $(JOBS)

build-tsan: setup $(BUILD_TSAN)/CMakeCache.txt
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target thread_tests

build-fuzz: setup $(BUILD_FUZZ)/CMakeCache.txt
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzzers

# The demo needs neither the tests nor the benchmarks (nor their packages):
# a fresh build directory is configured without them, and only the demo's
# own targets are built.
demo: setup-demo
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DVR_BUILD_TESTS=OFF -DVR_BUILD_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_TARGETS)
	@sh scripts/demo.sh $(BUILD)

test: test-normal test-asan test-tsan test-fuzz

test-normal: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 300

test-asan: build-asan
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest -j $(JOBS) --output-on-failure --timeout 600

test-tsan: build-tsan
	cd $(BUILD_TSAN) && \
	  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  ctest -L threads -j $(JOBS) --output-on-failure --timeout 600

test-fuzz: build-fuzz
	@sh scripts/fuzz.sh $(BUILD_FUZZ) $(FUZZ_TEST_TIME)

fuzz: build-fuzz
	@sh scripts/fuzz.sh $(BUILD_FUZZ) $(FUZZ_TIME)

bench: build
	@sh scripts/bench.sh $(BUILD)

# Thousands of card operations under random link faults.
SOAK_OPS ?= 5000
soak: build
	$(BUILD)/tests/vantel-rfid-soak --ops $(SOAK_OPS) --fault-percent 10 --seed $$(date +%s) 2> soak.log

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN) $(BUILD_FUZZ)
