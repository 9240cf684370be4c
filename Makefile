# The two commands of the README. Both install what is missing first.
BUILD ?= build
ARGS ?=
JOBS ?= $(shell nproc)

.PHONY: all setup configure build run test bench clean

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

clean:
	rm -rf $(BUILD)
