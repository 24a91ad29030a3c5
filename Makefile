# Wrappers around CMake + Ninja. `make run` and `make test` do all the set-up.
BUILD      ?= build
ASAN_BUILD ?= build-asan
CMAKE_FLAGS ?=
JOBS ?= 2

.PHONY: all deps configure build run test test-asan bench package format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTV_TESTS=ON -DTV_BENCH=ON $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Starts the program on the simulated camera (the libtarvidll.so built beside it).
run: build
	$(BUILD)/bin/TarviVideo5X

# Every test: the normal build, then the sanitizer build of the unit tests.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) test-asan

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTV_SANITIZE=ON -DTV_TESTS=ON -DTV_BENCH=OFF $(CMAKE_FLAGS)

test-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -LE "e2e|indi"

bench: build
	$(BUILD)/bin/bench_frames
	$(BUILD)/bin/bench_pipeline
	$(BUILD)/bin/bench_indi_fps

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)

# The Debian package of the normal build, written into $(BUILD)/.
package: build
	cd $(BUILD) && cpack -G DEB
