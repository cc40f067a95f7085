# Thin wrapper over CMake. `make demo` runs the main job, `make test` the tests.
BUILD ?= build
JOBS ?= 2
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: build program test unit integration demo bench bench-box sanitize tsan fuzz install deb clean deps desktops kms-guest

deps:
	@scripts/install-deps

# The Debian chroots the desktop tests run GNOME, KWin and sway from: built once (minutes), then reused.
desktops: deps
	@scripts/desktop-chroots

# The qemu guest the KMS tests run in (a kernel with vkms, an initramfs): built once (a minute or two).
kms-guest: deps
	@scripts/kms-guest

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DBUILD_TESTING=ON

# Everything: the program, the tests and the benchmarks.
build: deps desktops kms-guest $(BUILD)/CMakeCache.txt
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

# Only the rows beside the bare client that writes and presents the patch's box, and their start-up rows.
bench-box: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target bench-driver
	scripts/bench box

# bin/patch-presenter and share/man/man1/patch-presenter.1.gz under $(DESTDIR)$(PREFIX).
install: program
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A Debian package of the same files under /usr, written to $(BUILD).
deb: program
	cd $(BUILD) && cpack -G DEB

# The tests again on a debug build with the address and undefined-behaviour sanitizers.
sanitize: deps desktops kms-guest
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DPP_SANITIZE=ON -DBUILD_TESTING=ON
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS)

# The unit tests and the integration tests on a build with the thread sanitizer (optimised: a debug
# build under the sanitizer is too slow for the timed waits of the process tests); tests/tsan.supp
# names what the sanitizer reports inside libraries whose own threads it cannot see into.
tsan: deps desktops kms-guest
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPP_TSAN=ON -DBUILD_TESTING=ON
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS)

# The libFuzzer target over the command channel's text handling, built with clang, run for a fixed
# number of inputs from the seed corpus (new finds go to a scratch folder, not into the sources).
FUZZ_RUNS ?= 20000
fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPP_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build build-fuzz -j $(JOBS) --target protocol_fuzz
	rm -rf build-fuzz/corpus && mkdir -p build-fuzz/corpus
	build-fuzz/tests/fuzz/protocol_fuzz -runs=$(FUZZ_RUNS) -seed=1 -max_len=4096 build-fuzz/corpus tests/fuzz/corpus

clean:
	rm -rf $(BUILD) build-sanitize build-tsan build-fuzz
