# Every target installs what is missing first, so a fresh Debian machine needs
# nothing but `make run` or `make test` (as root).
JOBS    ?= $(shell nproc)
GEN     := -G Ninja
BUILD   := build
SERVER  ?= on

.PHONY: all deps build test run gallery asan tsan bench fuzz soak soak-clock clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

run: build
	SERVER=$(SERVER) scripts/run-local.sh $(BUILD)

gallery: build
	$(BUILD)/bin/quorel-gallery docs/gallery

asan: deps
	cmake -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DQUOREL_SANITIZE=address -DQUOREL_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

tsan: deps
	cmake -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DQUOREL_SANITIZE=thread -DQUOREL_BENCH=OFF
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS) -L threads

bench: build
	@for b in $(BUILD)/bin/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

# The monkey for as long as asked, with the resource figures at warm-up and
# at the end: make soak MONKEY_STEPS=200000 MONKEY_SEED=7
MONKEY_STEPS ?= 100000
MONKEY_SEED  ?= 1
# MONKEY_SAMPLE=500 adds a line of memory and record figures every 500 steps.
soak: build
	MONKEY_STEPS=$(MONKEY_STEPS) MONKEY_SEED=$(MONKEY_SEED) $(BUILD)/bin/test_monkey --gtest_filter='Seeds/Monkey.EveryInvariantHoldsForTheSeed/0'

# Searches on the host's clock, as a person makes them, against the local
# test server (about 11 s a cycle): make soak-clock SOAK_CYCLES=200
SOAK_CYCLES ?= 200
soak-clock: build
	$(BUILD)/bin/quorel-soak --cycles $(SOAK_CYCLES)

fuzz:
	scripts/install-deps.sh fuzz
	scripts/fuzz.sh build-fuzz

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
