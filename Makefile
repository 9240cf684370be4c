# The two commands of the README. Both install what is missing first.
BUILD ?= build
PACKAGE_BUILD ?= build-package
ARGS ?=
JOBS ?= $(shell nproc)

.PHONY: all setup configure build run test bench package clean

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

clean:
	rm -rf $(BUILD) $(PACKAGE_BUILD)
