# brindle: build, run on the bundled sample, test, install, benchmark.
# `make run` and `make test` first install what a Debian machine lacks
# (scripts/setup-deps.sh, through sudo when not root).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
RELEASE_DIR := build/release
TEST_DIR := build/test
SAMPLE_MFT := $(RELEASE_DIR)/sample/basic.mft

.PHONY: all build run test install bench fuzz fuzz-build fuzz-replay clean

all: build

build:
	scripts/setup-deps.sh run
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DBRINDLE_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target brindle

$(SAMPLE_MFT): tests/fixtures/basic.mft.xz
	mkdir -p $(dir $@)
	xz -dc $< > $@

# The sample volume's extracted $MFT, as CSV on the terminal.
run: build $(SAMPLE_MFT)
	$(RELEASE_DIR)/brindle -mftfile $(SAMPLE_MFT) -csv -quiet

# Every test, in a build with AddressSanitizer and UBSan.
test:
	scripts/setup-deps.sh test
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DBRINDLE_SANITIZE=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ctest --output-on-failure -j $$(( $(JOBS) + 1 ))

# The program and its manual page under PREFIX (bin/, share/man/man1/);
# DESTDIR stages the tree elsewhere, as packagers expect.
install: build
	cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

# Throughput and memory on a large generated volume (see bench/README.md).
bench: build
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target make_large_mft
	bench/run-bench.sh $(RELEASE_DIR)/brindle
	bench/run-large-mft.sh $(RELEASE_DIR)/brindle $(RELEASE_DIR)/make_large_mft

# libFuzzer targets (clang); each runs FUZZ_SECONDS (see fuzz/README.md).
FUZZ_SECONDS ?= 60
FUZZ_DIR := build/fuzz
fuzz-build:
	scripts/setup-deps.sh fuzz
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_FUZZ=ON -DBRINDLE_TESTS=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS)

fuzz: fuzz-build
	fuzz/run-fuzz.sh $(FUZZ_DIR)/fuzz $(FUZZ_SECONDS)

# Each target once over its committed corpus: a fixed crash stays fixed.
fuzz-replay: fuzz-build
	fuzz/run-fuzz.sh --replay $(FUZZ_DIR)/fuzz

clean:
	rm -rf build
