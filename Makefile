# Top-level commands. Everything the build needs is installed by scripts/setup.
#   make run     build the program and start it under Wine
#   make test    build every tree side by side; run the native, ThreadSanitizer, fuzz-seed,
#                win64 and win32 tests (and build the benchmarks)
#   make bench   build and run the benchmarks
#   make fuzz    run every libFuzzer target for FUZZ_SECONDS seconds
#   make format  clang-format over the tracked C++ sources (format-check: list what differs)
#   make clean   remove the build trees (keeps the built dependencies)

FUZZ_SECONDS ?= 30
export JOBS ?= $(shell nproc)
SETUP_STAMP := build/.setup-done

# Compiles go through ccache when it is installed (scripts/setup installs it):
# each build tree looks for it when it is first configured, which is after
# set-up, and keeps that choice (cmake/Pellory.cmake). Paths below the checkout
# are hashed relative to it, so another clone of the same sources on this
# machine reuses the cache.
export CCACHE_BASEDIR ?= $(CURDIR)

.PHONY: all setup configure build test run bench fuzz format format-check clean

all: build

$(SETUP_STAMP): scripts/setup
	scripts/setup
	@mkdir -p build && touch $@

setup: $(SETUP_STAMP)

# Configuring again each time is cheap and picks up module and tool folders
# added since the last run.
configure: $(SETUP_STAMP)
	cmake --preset native >/dev/null
	cmake --preset win64 >/dev/null
	cmake --preset win32 >/dev/null

build: configure
	cmake --build --preset native -j $(JOBS)
	cmake --build --preset win64 -j $(JOBS)
	cmake --build --preset win32 -j $(JOBS)

# Every tree is built side by side and each set runs once what it needs is
# built (scripts/run-all-tests): native (ASan + UBSan), the ThreadSanitizer
# tree, the fuzz targets replaying their seeds, the optimised benchmark tree
# (built only), then the win64 and win32 sets under Wine. The win32 tests run
# the shipped 32-bit program's code, under 32-bit Wine; a machine whose kernel
# refuses 32-bit executables builds the win32 set but cannot run it: there the
# reason is printed.
test: $(SETUP_STAMP)
	@scripts/run-all-tests

# `make run` starts the shipped 32-bit program; on a machine that cannot run
# 32-bit code it says so and runs the 64-bit build of the same sources.
# `make run ARGS=1031` hands the program its arguments (here: German).
run: configure
	cmake --build --preset win32 -j $(JOBS) --target Pellory wizdriver pellory_tools
	@if scripts/wine32-status >/dev/null; then \
	  scripts/run-wizard build/win32/wizard/Pellory.exe $(ARGS); \
	else \
	  echo "note: $$(scripts/wine32-status --explain 2>&1 >/dev/null); running the 64-bit build instead."; \
	  cmake --build --preset win64 -j $(JOBS) --target Pellory wizdriver pellory_tools && \
	  scripts/run-wizard build/win64/wizard/Pellory.exe $(ARGS); \
	fi

# Native benchmarks come from an optimised tree without sanitizers; the
# Windows ones from the release builds (the 32-bit one where it can run).
bench: build
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS) --target benchmarks
	scripts/run-benchmarks

fuzz: $(SETUP_STAMP)
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzzers build/fuzz $(FUZZ_SECONDS)

SOURCES = git ls-files -z -- '*.cpp' '*.h'

format:
	$(SOURCES) | xargs -0 clang-format -i

format-check:
	$(SOURCES) | xargs -0 clang-format --dry-run -Werror

clean:
	rm -rf build/native build/win64 build/win32 build/host build/host.lock build/bench build/fuzz build/tsan build/screenshots
