# Quarry: build, test, demo, benchmarks and fuzzing.
#   make demo   install what is missing, build, pack a sample package and run it
#   make test   install what is missing, build, run every test
#   make windows-tests  the zip of the Windows tests for a real Windows
#   make bench  benchmarks under Wine, printing "name: value" lines last
#   make fuzz   run the package directory, dialog template and LZX round-trip fuzzers, FUZZ_SECONDS each (default 60)

SHELL := /bin/bash
ROOT := $(CURDIR)
BUILD := $(ROOT)/build
DIST := $(ROOT)/dist
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_COMMON := -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

.PHONY: all deps build test native-i386 wintest win64 wintest64 windows-tests demo bench fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh

# The shipped pair: quarry.exe (MinGW, win32 thread model, static) and the
# native packager quarrypack. Both end up in dist/.
build: deps
	cmake -S . -B $(BUILD)/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-win32.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUARRY_BENCH=ON $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/win -j $(JOBS)
	cmake -S . -B $(BUILD)/tools -DCMAKE_BUILD_TYPE=Release $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/tools -j $(JOBS) --target quarrypack
	mkdir -p $(DIST)
	cp $(BUILD)/win/src/quarry.exe $(BUILD)/tools/tools/quarrypack/quarrypack $(DIST)/

# Native tests with sanitizers, then the Windows tests (posix thread model,
# which GoogleTest needs) under Wine against the shipped quarry.exe, then the
# same tests once more from their bundle (below), unpacked, through its
# run-tests.cmd. Where this kernel runs no 32-bit program
# (scripts/wine-arch.sh), the Windows tests and the bundle are the 64-bit
# build of the same sources under wine64 instead.
test: build
	cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Debug -DQUARRY_TESTS=ON \
	  -DQUARRY_SANITIZE=ON -DQUARRYPACK=$(DIST)/quarrypack -DQUARRY_EXE=$(DIST)/quarry.exe \
	  $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/native -j $(JOBS)
	$(MAKE) --no-print-directory native-i386
	@if [ "$$(bash scripts/wine-arch.sh)" = win64 ]; then \
	  echo "make test: this kernel runs no 32-bit program; the Windows tests run as the 64-bit build under wine64"; \
	  $(MAKE) --no-print-directory wintest64 && \
	  bash scripts/make-windows-tests.sh $(BUILD)/wintest64 $(BUILD)/win64/src/quarry.exe \
	    $(DIST)/quarrypack $(DIST)/quarry-windows-tests-x64.zip && \
	  bash scripts/run-tests.sh $(BUILD)/native $(BUILD)/native-i386 $(BUILD)/wintest64 \
	    $(DIST)/quarry-windows-tests-x64.zip; \
	else \
	  $(MAKE) --no-print-directory wintest && \
	  bash scripts/make-windows-tests.sh $(BUILD)/wintest $(DIST)/quarry.exe $(DIST)/quarrypack \
	    $(DIST)/quarry-windows-tests.zip && \
	  bash scripts/run-tests.sh $(BUILD)/native $(BUILD)/native-i386 $(BUILD)/wintest \
	    $(DIST)/quarry-windows-tests.zip; \
	fi

# The pure code and its tests as a 32-bit program, with UndefinedBehaviorSanitizer:
# run directly where the kernel runs 32-bit programs, else under qemu-i386.
native-i386:
	cmake -S . -B $(BUILD)/native-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake \
	  -DCMAKE_BUILD_TYPE=Debug -DQUARRY_TESTS=ON -DQUARRY_TOOLS=OFF -DQUARRY_SANITIZE_UNDEFINED=ON \
	  $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/native-i386 -j $(JOBS)

wintest:
	cmake -S . -B $(BUILD)/wintest -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-posix.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRY_TESTS=ON -DQUARRY_PROGRAM=OFF \
	  -DQUARRY_EXE=$(DIST)/quarry.exe -DQUARRYPACK=$(DIST)/quarrypack $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/wintest -j $(JOBS)

# The Windows tests for a real Windows, as shipped (32-bit): unpack
# dist/quarry-windows-tests.zip anywhere and run its run-tests.cmd.
windows-tests: build
	$(MAKE) --no-print-directory wintest
	bash scripts/make-windows-tests.sh $(BUILD)/wintest $(DIST)/quarry.exe $(DIST)/quarrypack \
	  $(DIST)/quarry-windows-tests.zip

# The 64-bit test vehicle: quarry.exe and its tests built for x86_64.
win64:
	cmake -S . -B $(BUILD)/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64-win32.cmake \
	  -DQUARRY_WINE64=ON -DCMAKE_BUILD_TYPE=Release -DQUARRY_BENCH=ON $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/win64 -j $(JOBS)

wintest64: win64
	cmake -S . -B $(BUILD)/wintest64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64-posix.cmake \
	  -DQUARRY_WINE64=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRY_TESTS=ON -DQUARRY_PROGRAM=OFF \
	  -DQUARRY_EXE=$(BUILD)/win64/src/quarry.exe -DQUARRYPACK=$(DIST)/quarrypack \
	  $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/wintest64 -j $(JOBS)

# Where this kernel runs no 32-bit program, the demo runs the 64-bit build of
# the same sources under wine64.
demo: build
	@if [ "$$(bash scripts/wine-arch.sh)" = win64 ]; then \
	  echo "make demo: this kernel runs no 32-bit program; the demo runs the 64-bit build under wine64"; \
	  $(MAKE) --no-print-directory win64 && \
	  QUARRY_WINE_ARCH=win64 QUARRY_EXE=$(BUILD)/win64/src/quarry.exe \
	    EXITCODE_EXE=$(BUILD)/win64/src/exitcode.exe bash scripts/demo.sh; \
	else \
	  bash scripts/demo.sh; \
	fi

# Under wine64 with the 64-bit build where the kernel runs no 32-bit program.
bench: build
	@if [ "$$(bash scripts/wine-arch.sh)" = win64 ]; then \
	  $(MAKE) --no-print-directory win64 && \
	  QUARRY_WINE_ARCH=win64 bash scripts/with-wine.sh bash bench/run-bench.sh; \
	else \
	  bash scripts/with-wine.sh bash bench/run-bench.sh; \
	fi

fuzz: deps
	cmake -S . -B $(BUILD)/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRY_FUZZ=ON -DQUARRY_TOOLS=OFF $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/fuzz -j $(JOBS)
	mkdir -p $(BUILD)/fuzz/corpus $(BUILD)/fuzz/template-corpus
	$(BUILD)/fuzz/fuzz/package_directory_fuzz -max_total_time=$(FUZZ_SECONDS) \
	  $(BUILD)/fuzz/corpus $(ROOT)/fuzz/corpus/package-directory
	$(BUILD)/fuzz/fuzz/dialog_template_fuzz -max_total_time=$(FUZZ_SECONDS) \
	  $(BUILD)/fuzz/template-corpus $(ROOT)/fuzz/corpus/dialog-template
	mkdir -p $(BUILD)/fuzz/lzx-corpus
	$(BUILD)/fuzz/fuzz/lzx_round_trip_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=200000 \
	  $(BUILD)/fuzz/lzx-corpus $(ROOT)/fuzz/corpus/lzx-round-trip

clean:
	rm -rf $(BUILD) $(DIST)
