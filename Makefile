# Thin wrapper over the CMake presets. `make demo` and `make test` do their
# own set-up on a fresh Debian machine (as root): missing packages are
# installed with apt-get, and nothing is installed when all is present.

SHELL := /bin/bash
JOBS ?= $(shell nproc)
export WINEDEBUG := -all
export WINEPREFIX := $(CURDIR)/build/windows/wineprefix
export TZ := UTC

NATIVE_PACKAGES := cmake ninja-build g++ clang zlib1g-dev libgtest-dev python3 diffutils
WINDOWS_PACKAGES := wine wine32:i386 g++-mingw-w64-i686-posix libz-mingw-w64-dev

.PHONY: bench fuzz all demo test setup setup-native setup-windows native windows asan \
        test-native test-asan test-windows clean

all: native

setup-native:
	@tools/ensure-packages $(NATIVE_PACKAGES)

setup-windows: setup-native
	@tools/ensure-packages --i386 $(WINDOWS_PACKAGES)

setup: setup-windows

native: setup-native
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

asan: setup-native
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

windows: setup-windows
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

demo: native
	@tools/demo build/native/vnarchive sample build/demo

test-native: native
	ctest --preset native -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --preset asan -j $(JOBS)

# Wine's server is kept running for the whole run: starting it per program
# costs seconds, and a server that exits mid-run can stall captured output.
test-windows: windows
	@mkdir -p $(WINEPREFIX)
	@wineserver -p 2>/dev/null || true
	ctest --preset windows -j $(JOBS)

test: setup
	@$(MAKE) --no-print-directory native asan windows
	@status=0; \
	$(MAKE) --no-print-directory test-native || status=1; \
	$(MAKE) --no-print-directory test-asan || status=1; \
	$(MAKE) --no-print-directory test-windows || status=1; \
	if [ $$status -ne 0 ]; then echo "make test: FAILED"; else echo "make test: all passed"; fi; \
	exit $$status

# Timings against the deflate bound and the peers (not part of make test).
BENCH_PACKAGES := pigz libarchive-tools zip unzip p7zip-full
BENCH_RUNS ?= 3
bench: native windows
	@tools/ensure-packages $(BENCH_PACKAGES)
	@mkdir -p build/bench
	cc -O2 -Wall -Wextra -Werror bench/deflate_bound.c -lz -o build/bench/deflate_bound
	cc -O2 -Wall -Wextra -Werror bench/measure.c -o build/bench/measure
	python3 tools/bench.py --program build/native/vnarchive --windows build/windows/vnarchive.exe \
	  --bound build/bench/deflate_bound --measure build/bench/measure --runs $(BENCH_RUNS) \
	  --output build/bench/results.md

# Long fuzzing: FUZZ_SECONDS per target (default 600), corpora kept in build/asan/fuzz.
FUZZ_SECONDS ?= 600
fuzz: asan
	@for t in extract timestamp names reader; do \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  build/asan/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    -print_final_stats=1 build/asan/fuzz/corpus_$$t fuzz/corpus/$$t 2>&1 | \
	    grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec|ERROR|SUMMARY|Done' || exit 1; \
	done

clean:
	rm -rf build
