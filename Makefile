# The two commands a newcomer needs: `make run` and `make test`; `make install` and
# `make package` put Q.Tam on the system.
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
TSAN_BUILD ?= build-tsan
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
DESTDIR ?=

# What the builds need: only building and running by default; the targets that test ask for
# the test tool chain and the tests (these settings reach their prerequisites too).
DEPS_FLAGS ?=
TEST_FLAGS ?=

.PHONY: all deps build build-asan build-fuzz build-tsan fuzz test tsan run bench clean format \
	check-format install package

all: build

deps:
	bash scripts/install-deps.sh $(DEPS_FLAGS)

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(TEST_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQTAM_SANITIZE=ON $(TEST_FLAGS) \
	  -DQTAM_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$(JOBS)

# Every test twice: an optimised build and a sanitizer build; unformatted sources fail first.
test check-format format build-fuzz build-tsan bench: DEPS_FLAGS = --test
test bench: TEST_FLAGS = -DQTAM_TESTS=ON -DQTAM_BENCH=ON
test: check-format build build-asan
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The tests labelled `threads` (tests/CMakeLists.txt) under ThreadSanitizer, in a build folder
# of their own: any report fails the run. The reports go to files, so that tests which read
# their programs' output are not misled, and are printed at the end. ASLR is off for the run
# (setarch -R): on some kernels the sanitizer's runtime otherwise stops at start-up with
# "unexpected memory mapping". The suppressions (tests/tsan.supp) cover only libraries built
# without the sanitizer. The build's tools (the icon, the kit) run under the same options.
TSAN_REPORTS = $(abspath $(TSAN_BUILD))/tsan-reports
build-tsan tsan: export TSAN_OPTIONS = suppressions=$(CURDIR)/tests/tsan.supp
build-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQTAM_TSAN=ON -DQTAM_TESTS=ON \
	  -DQTAM_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j$(JOBS)

tsan: build-tsan
	rm -rf $(TSAN_REPORTS) && mkdir -p $(TSAN_REPORTS)
	TSAN_OPTIONS="$$TSAN_OPTIONS log_path=$(TSAN_REPORTS)/report" \
	  setarch $$(uname -m) -R ctest --test-dir $(TSAN_BUILD) -L threads --output-on-failure \
	  -j$(JOBS) || failed=1; \
	if ls $(TSAN_REPORTS)/report.* >/dev/null 2>&1; then cat $(TSAN_REPORTS)/report.*; failed=1; fi; \
	test -z "$$failed"

# The fuzz targets under clang with libFuzzer and the sanitizers, in a build folder of their own.
build-fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQTAM_FUZZ=ON -DQTAM_TESTS=ON \
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
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD)

# Programs in PREFIX/bin, data in PREFIX/share/qtam, the desktop files in their places
# (make install PREFIX=/usr DESTDIR=/tmp/stage). Installed for real (no DESTDIR), the
# desktop's caches of file types, menu entries and icons are brought up to date.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"
	@if [ -z "$(DESTDIR)" ]; then bash scripts/update-desktop-caches.sh "$(PREFIX)"; fi

# A Debian package for /usr: $(BUILD)/qtam_VERSION_ARCH.deb (apt install ./build/qtam_*.deb).
package: build
	cd $(BUILD) && cpack -G DEB

# The sources the formatter owns: everything C++ that git tracks.
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')

format: deps
	clang-format -i $(FORMAT_FILES)

check-format: deps
	@clang-format --dry-run --Werror $(FORMAT_FILES) || \
	  (echo "Sources are not formatted: run 'make format'." && false)
