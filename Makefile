# Thin wrapper over CMake. `make demo` runs the main job, `make test` the tests.
BUILD ?= build
JOBS ?= 2
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: build program test unit integration demo bench sanitize install deb clean deps

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DBUILD_TESTING=ON

# Everything: the program, the tests and the benchmarks.
build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The program alone (and its manual page), without the tests.
program: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target patch-presenter

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

unit: build
	cd $(BUILD) && ctest --output-on-failure -L unit -j $(JOBS)

integration: build
	cd $(BUILD) && ctest --output-on-failure -L integration -j $(JOBS)

demo: program
	scripts/demo

bench: build
	scripts/bench

# bin/patch-presenter and share/man/man1/patch-presenter.1.gz under $(DESTDIR)$(PREFIX).
install: program
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A Debian package of the same files under /usr, written to $(BUILD).
deb: program
	cd $(BUILD) && cpack -G DEB

# The tests again on a debug build with the address and undefined-behaviour sanitizers.
sanitize: deps
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DPP_SANITIZE=ON -DBUILD_TESTING=ON
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-sanitize
