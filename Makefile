# The two commands of the README, plus the pieces they are made of.
# `make run`  builds the application and starts the window.
# `make test` builds and runs the whole test suite: a debug build, the same suite under
#             AddressSanitizer + UndefinedBehaviorSanitizer, the engine and command-line suites
#             under ThreadSanitizer, and a bounded fuzzing run.
# `make package` builds the Debian package (CPack).

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: all deps build run test test-debug test-asan test-tsan fuzz bench package mutants clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
		./build/release/app/morvex; \
	else \
		echo "No display found: starting the command-line front end instead."; \
		./build/release/cli/morvex-split --help; \
	fi

test: test-debug test-asan test-tsan fuzz

test-debug: deps
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug -j $(JOBS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

fuzz: deps
	@if [ -x scripts/run-fuzzers.sh ]; then FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/run-fuzzers.sh; fi

bench: build
	bash bench/run_benchmarks.sh

# Each fault of scripts/mutants.txt applied in turn to a scratch copy; lists the ones no test
# catches. Not part of `make test`: it builds and runs the debug suite once per fault.
mutants: deps
	bash scripts/mutants.sh

# The Debian package of the release build: build/release/morvex_<version>_<arch>.deb
package: build
	cd build/release && cpack -G DEB

clean:
	rm -rf build
