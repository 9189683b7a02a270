# Quarry: build, test, demo, benchmarks and fuzzing.
#   make demo   install what is missing, build, pack a sample package and run it
#   make test   install what is missing, build, run every test
#   make bench  benchmarks under Wine, printing "name: value" lines last
#   make fuzz   run the package directory and dialog template fuzzers, FUZZ_SECONDS each (default 60)

SHELL := /bin/bash
ROOT := $(CURDIR)
BUILD := $(ROOT)/build
DIST := $(ROOT)/dist
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_COMMON := -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

.PHONY: all deps build test demo bench fuzz clean

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
# which GoogleTest needs) under Wine against the shipped quarry.exe.
test: build
	cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Debug -DQUARRY_TESTS=ON \
	  -DQUARRY_SANITIZE=ON -DQUARRYPACK=$(DIST)/quarrypack $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/native -j $(JOBS)
	cmake -S . -B $(BUILD)/wintest -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-posix.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRY_TESTS=ON -DQUARRY_PROGRAM=OFF \
	  -DQUARRY_EXE=$(DIST)/quarry.exe -DQUARRYPACK=$(DIST)/quarrypack $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/wintest -j $(JOBS)
	bash scripts/run-tests.sh $(BUILD)/native $(BUILD)/wintest

demo: build
	bash scripts/demo.sh

bench: build
	bash scripts/with-wine.sh bash bench/run-bench.sh

fuzz: deps
	cmake -S . -B $(BUILD)/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRY_FUZZ=ON -DQUARRY_TOOLS=OFF $(CMAKE_COMMON) >/dev/null
	cmake --build $(BUILD)/fuzz -j $(JOBS)
	mkdir -p $(BUILD)/fuzz/corpus $(BUILD)/fuzz/template-corpus
	$(BUILD)/fuzz/fuzz/package_directory_fuzz -max_total_time=$(FUZZ_SECONDS) \
	  $(BUILD)/fuzz/corpus $(ROOT)/fuzz/seeds
	$(BUILD)/fuzz/fuzz/dialog_template_fuzz -max_total_time=$(FUZZ_SECONDS) \
	  $(BUILD)/fuzz/template-corpus

clean:
	rm -rf $(BUILD) $(DIST)
