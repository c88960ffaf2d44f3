# Builds the shipped 32-bit launcher, the 64-bit launcher the tests run under
# Wine, and the host tools and tests. Each target installs what is missing
# on a fresh Debian machine first.
BUILD     ?= build
JOBS      ?= $(shell nproc)
HOST_DIR  := $(BUILD)/host
WIN64_DIR := $(BUILD)/x86_64
WIN32_DIR := $(BUILD)/i686
PREFIX    := $(abspath $(BUILD))/wine

.PHONY: all deps build test test-long demo clean

all: build

deps:
	@./cmake/install-deps.sh

build: deps
	cmake -S . -B $(WIN32_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake \
	  -DCMAKE_BUILD_TYPE=MinSizeRel -DUNPACK_TESTS=OFF -DUNPACK_WINEPREFIX=$(PREFIX)
	cmake --build $(WIN32_DIR) -j$(JOBS)
	cmake -S . -B $(WIN64_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=MinSizeRel -DUNPACK_WINEPREFIX=$(PREFIX)
	cmake --build $(WIN64_DIR) -j$(JOBS)
	cmake -S . -B $(HOST_DIR) -DCMAKE_BUILD_TYPE=Release -DUNPACK_WINEPREFIX=$(PREFIX) \
	  -DUNPACK_WIN64_DIR=$(abspath $(WIN64_DIR)) -DUNPACK_WIN32_DIR=$(abspath $(WIN32_DIR))
	cmake --build $(HOST_DIR) -j$(JOBS)
	@ls -l $(WIN32_DIR)/launcher/UnPackFile.exe $(WIN64_DIR)/launcher/UnPackFile.exe | awk '{print $$5, $$9}'

# Cases labelled "long" (multi-GiB packages) run only with make test-long.
test: build
	ctest --test-dir $(WIN64_DIR) --output-on-failure -j$(JOBS) -LE long
	ctest --test-dir $(HOST_DIR) --output-on-failure -j$(JOBS) -LE long

test-long: build
	ctest --test-dir $(WIN64_DIR) --output-on-failure -j$(JOBS)
	ctest --test-dir $(HOST_DIR) --output-on-failure -j$(JOBS)

demo: build
	./cmake/demo.sh $(WIN64_DIR)/launcher/UnPackFile.exe $(HOST_DIR)/tools/packfile/packfile \
	  examples $(BUILD)/demo $(PREFIX)

clean:
	-./cmake/wine-session.sh stop $(PREFIX)
	rm -rf $(BUILD)

# Prints the benchmark table and writes it to build/bench-results.md (bench/results.md
# changes only when someone copies it there); never fails on speed.
.PHONY: bench
bench: build
	./bench/run.sh $(WIN64_DIR) $(WIN32_DIR) $(HOST_DIR) $(BUILD)/bench $(PREFIX)

# Opt-in, not part of test: the shipped 32-bit launcher as a WOW64 process,
# with Wine's 32-bit loader under qemu-i386 here. A first run takes minutes.
.PHONY: test-win32
test-win32: build
	./cmake/test-win32.sh $(WIN32_DIR)/launcher/UnPackFile.exe $(HOST_DIR)/tools/packfile/packfile \
	  examples $(BUILD)/win32-test $(BUILD)/wine32
