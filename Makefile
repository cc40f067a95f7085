# Thin wrapper over CMake. `make demo` runs the main job, `make test` the tests.
BUILD ?= build
JOBS ?= 2

.PHONY: build test unit integration demo bench clean deps

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

clean:
	rm -rf $(BUILD)
