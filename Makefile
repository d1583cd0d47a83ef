# vantel-rfid: top-level commands. `make demo` and `make test` work on a
# fresh machine: scripts/setup.sh installs what is missing first.
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all setup build build-asan demo test test-normal test-asan bench soak clean

all: build

setup:
	@sh scripts/setup.sh

$(BUILD)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(BUILD_ASAN)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD_ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	      -DVR_SANITIZE=address,undefined -DVR_BUILD_BENCH=OFF

build: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

build-asan: setup $(BUILD_ASAN)/CMakeCache.txt
	cmake --build $(BUILD_ASAN) -j $(JOBS)

demo: build
	@sh scripts/demo.sh $(BUILD)

test: test-normal test-asan

test-normal: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 300

test-asan: build-asan
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest -j $(JOBS) --output-on-failure --timeout 600

bench: build
	@sh scripts/bench.sh $(BUILD)

# Thousands of card operations under random link faults.
SOAK_OPS ?= 5000
soak: build
	$(BUILD)/tests/vantel-rfid-soak --ops $(SOAK_OPS) --fault-percent 10 --seed $$(date +%s) 2> soak.log

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)
