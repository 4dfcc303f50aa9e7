# Top-level commands. Everything the build needs is installed by scripts/setup.
#   make run     build the program and start it under Wine
#   make test    build native, win64 and win32; run the native and win64 tests
#   make bench   build and run the benchmarks
#   make fuzz    run every libFuzzer target for FUZZ_SECONDS seconds
#   make clean   remove the build trees (keeps the built dependencies)

FUZZ_SECONDS ?= 30
JOBS ?= $(shell nproc)
SETUP_STAMP := build/.setup-done

.PHONY: all setup configure build test run bench fuzz clean

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

test: build
	ctest --preset native
	ctest --preset win64
	@if dpkg-query -W -f='$${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then \
	  ctest --preset win32; \
	else \
	  echo "note: wine32 is not installed; the win32 build was built but not run"; \
	fi

run: configure
	cmake --build --preset win64 -j $(JOBS) --target Pellory wizdriver pellory_tools
	cmake --build --preset win32 -j $(JOBS) --target Pellory
	scripts/run-wizard build/win32/wizard/Pellory.exe build/win64/wizard/Pellory.exe

bench: build
	scripts/run-benchmarks

fuzz: $(SETUP_STAMP)
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzzers build/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build/native build/win64 build/win32 build/fuzz build/screenshots
