# Thin wrapper over the CMake presets. `make demo` and `make test` do their
# own set-up on a fresh Debian machine (as root): missing packages are
# installed with apt-get, and nothing is installed when all is present.

SHELL := /bin/bash
JOBS ?= $(shell nproc)
export WINEDEBUG := -all
export TZ := UTC

NATIVE_PACKAGES := cmake ninja-build g++ clang zlib1g-dev libgtest-dev python3 diffutils file
# libisal-dev gives the native build ISA-L's inflate (x86-64 only). It is
# installed where it can be; without it the build reads with zlib's inflate.
ISAL_PACKAGES := $(if $(filter x86_64,$(shell uname -m)),libisal-dev)
# wine32 serves machines that can start 32-bit programs; wine64 and the
# x86-64 compiler give the Windows test build that every x86-64 machine runs.
WINDOWS_PACKAGES := wine wine32:i386 wine64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
                    libz-mingw-w64-dev groff-base
# dpkg-shlibdeps (dpkg-dev) writes the Debian package's Depends; lintian
# checks the package in make test-package.
PACKAGE_PACKAGES := dpkg-dev lintian
PREFIX ?= /usr/local

.PHONY: bench fuzz all check demo test setup setup-native setup-windows native windows windows64 asan \
        test-native test-asan tsan test-tsan test-windows test-windows64 check-product install \
        test-windows32-emulated package test-package clean

all: native

setup-native:
	@tools/ensure-packages $(NATIVE_PACKAGES)
	@$(if $(ISAL_PACKAGES),tools/ensure-packages $(ISAL_PACKAGES) 2>/dev/null || \
	  echo "ISA-L is not installed: the native build reads archives with zlib's inflate")

setup-windows: setup-native
	@tools/ensure-packages --i386 $(WINDOWS_PACKAGES)

setup: setup-windows

native: setup-native
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

asan: setup-native
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

# ThreadSanitizer over the tests that run the compressor's worker threads.
tsan: setup-native
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)

windows: setup-windows
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

# A 64-bit test build of the same sources: Wine's 64-bit loader runs it on
# every x86-64 machine, also where the kernel cannot start 32-bit programs.
windows64: setup-windows
	cmake --preset windows64 >/dev/null
	cmake --build --preset windows64 -j $(JOBS)

install: native
	cmake --install build/native --prefix "$(PREFIX)"

# The Debian package from the native build and the Windows zip from the
# 32-bit product, both in build/package. Reproducible: every time stamp in
# them is the last commit's (SOURCE_DATE_EPOCH), owners are root and the
# binaries carry no path, so two clones give the same bytes.
package: native windows
	@tools/ensure-packages $(PACKAGE_PACKAGES)
	@tools/make-packages build/native build/windows build/package
	@rm -rf build/package/_CPack_Packages
	@ls -l build/package/*.deb build/package/*.zip

test-package: package
	python3 tests/e2e/package_check.py --version $$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
	  build/native/CMakeCache.txt) --deb build/package/vnarchive_*_amd64.deb \
	  --zip build/package/vnarchive-*-win32.zip --sample sample
	python3 tests/e2e/reproducible_check.py --packages build/package

# The quick check: the native program, its unit tests and the native
# end-to-end suite; no root, no package installation, no Wine, no network.
check:
	@tools/check

demo: native
	@tools/demo build/native/vnarchive sample build/demo

test-native: native
	ctest --preset native -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --preset asan -j $(JOBS)

test-tsan: tsan
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --preset tsan -j $(JOBS)

# Wine's server is kept running for the whole run (one per prefix).
test-windows: windows
	@tools/wine-run --keep-server build/windows/vnarchive.exe 2>/dev/null || true
	@status=0; ctest --preset windows -j $(JOBS) || status=$$?; \
	  tools/wine-run --stop-server build/windows/vnarchive.exe; exit $$status

test-windows64: windows64
	@tools/wine-run --keep-server build/windows64/vnarchive.exe 2>/dev/null || true
	@status=0; ctest --preset windows64 -j $(JOBS) || status=$$?; \
	  tools/wine-run --stop-server build/windows64/vnarchive.exe; exit $$status

# The product itself, whichever Windows builds could be run.
check-product: windows
	@tools/check-product build/windows/vnarchive.exe

test: setup
	@$(MAKE) --no-print-directory native asan tsan windows windows64
	@status=0; tested="windows64 (PE32+, Wine's 64-bit loader)"; \
	tools/check-layers || status=1; \
	$(MAKE) --no-print-directory test-native || status=1; \
	$(MAKE) --no-print-directory test-asan || status=1; \
	$(MAKE) --no-print-directory test-tsan || status=1; \
	$(MAKE) --no-print-directory test-windows64 || status=1; \
	if why=$$(tools/can-run-32bit); then \
	  $(MAKE) --no-print-directory test-windows || status=1; \
	  tested="$$tested and windows (PE32, the product)"; \
	else \
	  echo "make test: the 32-bit Windows tests were not run: $$why (make test-windows32-emulated runs them)"; \
	fi; \
	$(MAKE) --no-print-directory check-product || status=1; \
	$(MAKE) --no-print-directory test-package || status=1; \
	echo "make test: Windows builds tested: $$tested"; \
	if [ $$status -ne 0 ]; then echo "make test: FAILED"; else echo "make test: all passed"; fi; \
	exit $$status

# The 32-bit product's unit tests on a machine that cannot start 32-bit
# programs: i386 programs go to qemu-user inside a private user and mount
# namespace, so nothing on the host changes. Slow (minutes per binary).
test-windows32-emulated: windows
	@tools/ensure-packages qemu-user-static
	tools/emulated-wine32 build/windows $(EMULATED_TESTS)

# Timings against the deflate bound and the peers (not part of make test).
# The ISA-L bound row and the tar + igzip peer need libisal-dev and isal.
BENCH_PACKAGES := pigz libarchive-tools zip unzip p7zip-full isal
BENCH_RUNS ?= 5
# BENCH_TOOLS="vnarchive,tar + pigz" times only the rows whose labels begin so
# (the bound is always timed: every ratio is against it).
BENCH_TOOLS ?=
# BENCH_BASELINE=path/to/an/earlier/vnarchive times that build beside this one.
BENCH_BASELINE ?=
# BENCH_CORPORA picks corpora (all six by default).
BENCH_CORPORA ?=
# The Wine row times the 32-bit program where the machine starts it, else the
# 64-bit test build.
bench: native windows windows64
	@tools/ensure-packages $(BENCH_PACKAGES)
	@mkdir -p build/bench
	cc -O2 -Wall -Wextra -Werror bench/deflate_bound.c -lz -o build/bench/deflate_bound
	cc -O2 -Wall -Wextra -Werror bench/measure.c -o build/bench/measure
	@isal=""; if [ -f /usr/include/isa-l/igzip_lib.h ]; then \
	  cc -O2 -Wall -Wextra -Werror bench/isal_inflate_bound.c -lisal -o build/bench/isal_inflate_bound && \
	  isal="--isal-bound build/bench/isal_inflate_bound"; fi; \
	python3 tools/bench.py --program build/native/vnarchive --faulty build/native/vnarchive_faults --windows $$(tools/can-run-32bit >/dev/null && echo build/windows/vnarchive.exe || echo build/windows64/vnarchive.exe) \
	  --bound build/bench/deflate_bound $$isal --measure build/bench/measure --runs $(BENCH_RUNS) \
	  $(if $(BENCH_TOOLS),--tools "$(BENCH_TOOLS)") $(if $(BENCH_BASELINE),--baseline "$(BENCH_BASELINE)") \
	  $(if $(BENCH_CORPORA),--corpora "$(BENCH_CORPORA)") --output build/bench/results.md

# Long fuzzing: FUZZ_SECONDS per target (default 600), corpora kept in build/asan/fuzz.
FUZZ_SECONDS ?= 600
fuzz: asan
	@for t in $$(tr ';' ' ' < build/asan/fuzz/targets.txt); do \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  build/asan/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    -print_final_stats=1 build/asan/fuzz/corpus_$$t fuzz/corpus/$$t 2>&1 | \
	    grep -E 'INITED|DONE|stat::number_of_executed_units|stat::average_exec_per_sec|ERROR|SUMMARY|Done|known difference|disagree' || exit 1; \
	done

clean:
	rm -rf build
