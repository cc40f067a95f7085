# Thin wrapper over CMake. `make demo` runs the main job, `make test` the tests.
BUILD ?= build
JOBS ?= 2

.PHONY: build test unit integration demo bench sanitize clean deps

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DBUILD_TESTING=ON

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

unit: build
	cd $(BUILD) && ctest --output-on-failure -L unit -j $(JOBS)

integration: build
	cd $(BUILD) && ctest --output-on-failure -L integration -j $(JOBS)

demo: build
	scripts/demo

bench: build
	scripts/bench

# The tests again on a debug build with the address and undefined-behaviour sanitizers.
sanitize: deps
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DPP_SANITIZE=ON -DBUILD_TESTING=ON
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-sanitize
