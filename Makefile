# The two commands: `make demo` and `make test`. Both install what is
# missing first, then build the native tree (core, tests, tool) and the
# Windows DLL, and everything stays under build/.
JOBS ?= $(shell nproc)
NATIVE := build/native
WIN32 := build/win32

.PHONY: all deps native win32 test demo bench clean

all: native win32

deps:
	@scripts/install-deps

native: deps
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)

win32: deps
	@cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WIN32) -j$(JOBS)

test: native win32
	cd $(NATIVE) && ctest --output-on-failure -j$(JOBS)
	cd $(WIN32) && ctest --output-on-failure

demo: native win32
	@scripts/demo

# Figures of the search and the cache walk over large tables (optimised, no sanitizers).
bench: deps
	@cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DLEDRA_SANITIZE=OFF -DLEDRA_BENCH=ON >/dev/null
	@cmake --build build/bench -j$(JOBS) --target ledra_bench
	build/bench/ledra_bench

clean:
	rm -rf build
