# The two commands: `make demo` and `make test`. Both install what is
# missing first, then build the native tree (core, tests, tool) and the
# Windows DLL and its installer package for x86 and x64, and everything
# stays under build/.
JOBS ?= $(shell nproc)
NATIVE := build/native

.PHONY: all deps native win32 win64 windows msi test wine-tests demo bench clean

all: native windows

deps:
	@scripts/install-deps

native: deps
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)

# build/win32: x86 (i686), what a 32-bit host loads; build/win64: x64.
win32: deps
	@cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/win32 -j$(JOBS)

win64: deps
	@cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/win64 -j$(JOBS)

windows: win32 win64

# The Windows Installer packages, built with each architecture's tree:
# build/win32/LedraII-<version>-x86.msi and build/win64/LedraII-<version>-x64.msi.
msi: windows
	@ls build/win32/LedraII-*-x86.msi build/win64/LedraII-*-x64.msi

test: native windows
	cd $(NATIVE) && ctest --output-on-failure -j$(JOBS)
	@scripts/wine-tests

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

clean:
	rm -rf build
