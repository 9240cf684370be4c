# The two commands of the README. Both install what is missing first.
BUILD ?= build
PACKAGE_BUILD ?= build-package
ARGS ?=
JOBS ?= $(shell nproc)

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZERS ?= command_line entry_names archive_extract archive_rewrite settings_file handoff_message queue_list

.PHONY: all setup configure build run test bench package fuzz clean

all: build

setup:
	@scripts/setup-debian.sh

configure: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/SalvoExtractor $(ARGS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	cmake --build $(BUILD) --target benchmarks adapter_driver queue_driver viewer_driver -j $(JOBS)

# A Debian package (salvo-extractor_<version>_<arch>.deb in this folder), built
# for the prefix /usr in a folder of its own, without the tests.
package: setup
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DSALVO_BUILD_TESTS=OFF
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB
	cp $(PACKAGE_BUILD)/salvo-extractor_*.deb .

# Each fuzzer for FUZZ_SECONDS, one after the other; what they find stays in
# $(FUZZ_BUILD)/runs/<fuzzer>/ (crashes/ holds the failing inputs).
fuzz: setup
	cmake -S tests/fuzz -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@status=0; : > $(FUZZ_BUILD)/summary.txt; for f in $(FUZZERS); do \
	  tests/fuzz/run_fuzzer.sh $(FUZZ_BUILD)/$${f}_fuzzer tests/fuzz/corpus/$$f $(FUZZ_BUILD)/runs/$$f \
	    $(FUZZ_SECONDS) >> $(FUZZ_BUILD)/summary.txt || status=1; tail -1 $(FUZZ_BUILD)/summary.txt; \
	done; exit $$status

clean:
	rm -rf $(BUILD) $(PACKAGE_BUILD) $(FUZZ_BUILD)
