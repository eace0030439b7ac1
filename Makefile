# The two commands: `make demo` and `make test`. Both install what is
# missing first, then build the native tree (core, tests, tool) and the
# Windows DLL and its installer package for x86 and x64, and everything
# stays under build/.
JOBS ?= $(shell nproc)
# Every time in a release file comes from the commit (scripts/make-msi).
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH
NATIVE := build/native
FUZZ := build/fuzz
TSAN := build/tsan
FUZZ_SECONDS ?= 300
FUZZERS := vars dbf query search

.PHONY: all deps native win32 win64 windows msi fuzzers tsan test test-x86 wine-tests fuzz demo bench bench-reads sign clean

all: native windows

deps:
	@scripts/install-deps

native: deps
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)

# build/win32: x86 (i686), what a 32-bit host loads; build/win64: x64.
win32: deps
	@cmake -S . -B build/win32 --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/win32 -j$(JOBS)

win64: deps
	@cmake -S . -B build/win64 --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/win64 -j$(JOBS)

windows: win32 win64

# The Windows Installer packages, built with each architecture's tree:
# build/win32/LedraII-<version>-x86.msi and build/win64/LedraII-<version>-x64.msi.
msi: windows
	@ls build/win32/LedraII-*-x86.msi build/win64/LedraII-*-x64.msi

# The fuzz targets (clang, libFuzzer, ASan, UBSan) and the thread stress
# test (ThreadSanitizer), each in a tree that builds only them.
fuzzers: deps
	@cmake -S . -B $(FUZZ) -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLEDRA_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ) -j$(JOBS) --target fuzzers

tsan: deps
	@cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLEDRA_SANITIZE=OFF -DLEDRA_TSAN=ON >/dev/null
	@cmake --build $(TSAN) -j$(JOBS) --target stress_test

# make test: the unit tests, the Wine tests, the release files built again
# elsewhere and compared, and signed with a throwaway certificate
# (scripts/check-release), a short run of every fuzz target over its seeds
# and saved crashers, and the thread stress test.
# The Wine tests run x64 first, then x86 (in a VM where the kernel runs no
# i386 programs), one after the other so the two never share the cores.
test: native windows fuzzers tsan
	cd $(NATIVE) && ctest --output-on-failure -j$(JOBS)
	@scripts/wine-tests
	@scripts/check-release
	cd $(FUZZ) && ctest --output-on-failure
	cd $(TSAN) && ctest --output-on-failure

# The x86 Wine tests alone: directly where the kernel runs i386 programs,
# else (or with LEDRA_X86_VM=1) in the test VM (scripts/x86vm).
test-x86: native win32
	@scripts/wine-tests x86

# Signs the DLL and ledra.exe of both architectures, packages the signed
# files and signs the packages (scripts/sign; nothing without a certificate):
#   make sign LEDRA_SIGN_PFX=FILE LEDRA_SIGN_PASSWORD_FILE=FILE [LEDRA_SIGN_TIMESTAMP=URL]
sign: msi
	@scripts/sign

# make fuzz: every target for FUZZ_SECONDS (default 300) each.
fuzz: fuzzers
	@for t in $(FUZZERS); do scripts/fuzz-run $(FUZZ) $$t $(FUZZ_SECONDS) || exit 1; done

# The Wine tests alone, per architecture this machine runs.
wine-tests: native windows
	@scripts/wine-tests

demo: native windows
	@scripts/demo

# Figures of the search and the cache walk over large tables (optimised, no sanitizers).
bench: deps
	@cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DLEDRA_SANITIZE=OFF -DLEDRA_BENCH=ON >/dev/null
	@cmake --build build/bench -j$(JOBS) --target ledra_bench
	build/bench/ledra_bench

# What a long-lived host reads in the background, through the x64 DLL under
# Wine, beside an earlier commit's DLL (scripts/bench-reads).
bench-reads: native win64
	@scripts/bench-reads

clean:
	rm -rf build
