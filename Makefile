# Wrappers around CMake + Ninja. `make run` and `make test` do all the set-up.
BUILD      ?= build
ASAN_BUILD ?= build-asan
RELEASE_BUILD ?= build-release
CMAKE_FLAGS ?=
JOBS ?= 2

.PHONY: all deps configure build run test test-asan bench release package format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTV_TESTS=ON -DTV_BENCH=ON \
	  -DTV_UNITY_BUILD=ON $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Starts the program on the simulated camera (the libtarvidll.so built beside it).
run: build
	$(BUILD)/bin/TarviVideo5X

# Every test: the normal build, the naming check of the changed files (see
# scripts/check-naming), the tests, then the sanitizer build of the unit tests.
test: build
	scripts/check-naming $(BUILD)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) test-asan

# The sanitizer build is made from scratch on every fresh clone: line tables only (-g1: the
# sanitizers' reports keep their file and line), the gold linker, the program and camera
# libraries as unity builds, and no INDI or GenICam camera (their tests need a server and are left out of
# this run anyway). Together they take the build from about 19 to about 7 minutes of
# compiler time.
ASAN_FAST_FLAGS = -DTV_UNITY_BUILD=ON -DTV_CAMERA_INDI=OFF -DTV_CAMERA_ARAVIS=OFF \
  -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 \
  -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=gold -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=gold \
  -DCMAKE_MODULE_LINKER_FLAGS=-fuse-ld=gold

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTV_SANITIZE=ON -DTV_TESTS=ON -DTV_BENCH=OFF $(ASAN_FAST_FLAGS) $(CMAKE_FLAGS)

test-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -LE "e2e|indi"

# The benchmarks of a camera library the build left out (TV_CAMERA_*) are not built.
bench: build
	@for b in bench_frames bench_pipeline bench_indi_fps bench_aravis_fps; do \
	  if [ -x $(BUILD)/bin/$$b ]; then echo $(BUILD)/bin/$$b; $(BUILD)/bin/$$b || exit 1; \
	  else echo "$$b: not built, skipped"; fi; \
	done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(RELEASE_BUILD)

# The Debian package, written into $(RELEASE_BUILD)/: a release build of the program alone
# (no tests, no benchmarks; a unity build: 2 instead of 7 minutes from scratch) for the prefix
# /usr, with Debian's build and hardening flags.
# Only the packages for building and packaging are installed.
$(RELEASE_BUILD)/build.ninja:
	cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTV_TESTS=OFF -DTV_BENCH=OFF \
	  -DTV_UNITY_BUILD=ON -DTV_DEB_BUILDFLAGS=ON -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)

release: $(RELEASE_BUILD)/build.ninja
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

package:
	@scripts/install-deps package
	$(MAKE) release
	cd $(RELEASE_BUILD) && cpack -G DEB
