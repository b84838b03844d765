# The two commands a newcomer needs: `make run` and `make test`.
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps build build-asan build-fuzz fuzz test run bench clean format check-format

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQTAM_SANITIZE=ON -DQTAM_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$(JOBS)

# Every test twice: an optimised build and a sanitizer build; unformatted sources fail first.
test: check-format build build-asan
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The fuzz targets under clang with libFuzzer and the sanitizers, in a build folder of their own.
build-fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQTAM_FUZZ=ON \
	  -DQTAM_SANITIZE=ON -DQTAM_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target qtam_fuzz

# Each target for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=600); the seeds are replayed by `make test`.
fuzz: build-fuzz
	bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

run: build
	bash scripts/run.sh $(BUILD)

bench: build
	$(BUILD)/bin/mixer_bench
	$(BUILD)/bin/history_memory_bench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)

# The sources the formatter owns: everything C++ that git tracks.
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')

format: deps
	clang-format -i $(FORMAT_FILES)

check-format: deps
	@clang-format --dry-run --Werror $(FORMAT_FILES) || \
	  (echo "Sources are not formatted: run 'make format'." && false)
