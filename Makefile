# Builds the shipped 32-bit launcher, the 64-bit launcher the tests run under
# Wine, and the host tools and tests. Each target installs what is missing
# on a fresh Debian machine first.
BUILD     ?= build
JOBS      ?= $(shell nproc)
HOST_DIR  := $(BUILD)/host
WIN64_DIR := $(BUILD)/x86_64
WIN32_DIR := $(BUILD)/i686
# Each tree's tests run in a Wine prefix of their own, so that the two trees'
# sessions never stop each other's wineserver; demo and bench use the host's.
PREFIX    := $(abspath $(BUILD))/wine
PREFIX64  := $(abspath $(WIN64_DIR))/wine

.PHONY: all deps build test test-long demo clean

all: build

deps:
	@./cmake/install-deps.sh

build: deps
	cmake -S . -B $(WIN32_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake \
	  -DCMAKE_BUILD_TYPE=MinSizeRel -DUNPACK_TESTS=OFF -DUNPACK_WINEPREFIX=$(PREFIX)
	cmake --build $(WIN32_DIR) -j$(JOBS)
	cmake -S . -B $(WIN64_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=MinSizeRel -DUNPACK_WINEPREFIX=$(PREFIX64)
	cmake --build $(WIN64_DIR) -j$(JOBS)
	cmake -S . -B $(HOST_DIR) -DCMAKE_BUILD_TYPE=Release -DUNPACK_WINEPREFIX=$(PREFIX) \
	  -DUNPACK_WIN64_DIR=$(abspath $(WIN64_DIR)) -DUNPACK_WIN32_DIR=$(abspath $(WIN32_DIR))
	cmake --build $(HOST_DIR) -j$(JOBS)
	@ls -l $(WIN32_DIR)/launcher/UnPackFile.exe $(WIN64_DIR)/launcher/UnPackFile.exe | awk '{print $$5, $$9}'

# Cases labelled "long" (multi-GiB packages) run only with make test-long;
# those labelled "win32" (32-bit Wine) only with make test-win32.
test: build
	ctest --test-dir $(WIN64_DIR) --output-on-failure -j$(JOBS) -LE 'long|win32'
	ctest --test-dir $(HOST_DIR) --output-on-failure -j$(JOBS) -LE 'long|win32'

test-long: build
	ctest --test-dir $(WIN64_DIR) --output-on-failure -j$(JOBS) -LE win32
	ctest --test-dir $(HOST_DIR) --output-on-failure -j$(JOBS) -LE win32

demo: build
	./cmake/demo.sh $(WIN64_DIR)/launcher/UnPackFile.exe $(HOST_DIR)/tools/packfile/packfile \
	  examples $(BUILD)/demo $(PREFIX)

clean:
	-./cmake/wine-session.sh stop $(PREFIX)
	-./cmake/wine-session.sh stop $(PREFIX)32
	-./cmake/wine-session.sh stop $(PREFIX64)
	./cmake/win32-root.sh remove $(BUILD)/win32-root
	rm -rf --one-file-system $(BUILD)

# Prints the benchmark table and writes it to build/bench-results.md (bench/results.md
# changes only when someone copies it there); never fails on speed.
.PHONY: bench
bench: build
	./bench/run.sh $(WIN64_DIR) $(WIN32_DIR) $(HOST_DIR) $(BUILD)/bench $(PREFIX)

# The shipped 32-bit launcher as a WOW64 process, in a prefix of its own
# (build/wine32). Installs 32-bit Wine first (and qemu-i386 where the kernel
# cannot run 32-bit programs), as root, or, where apt cannot install it, runs
# the tests in a Debian root made for them (build/win32-root); make test stays
# free of both. WIN32_OPTIONAL=1 (CI): where neither way works, say why in one
# line and succeed.
.PHONY: test-win32
test-win32: build
	./cmake/test-win32.sh $(abspath $(BUILD)) $(abspath $(HOST_DIR)) $(CURDIR) $(if $(WIN32_OPTIONAL),--optional)
