# Quick start: `make demo` runs a short demonstration under Wine,
# `make test` builds everything and runs every test under Wine (with the
# short stress suite), `make stress` runs the full stress suite, `make dist`
# makes the release archive.
BUILD          ?= build
BUILD_CLANG    ?= build-clang
BUILD_COVERAGE ?= build-coverage
TOOLCHAIN      := cmake/mingw-w64-x86_64.cmake
CMAKE_ARGS     ?=
CONFIGURE       = cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

.PHONY: all bootstrap configure build test stress demo bench build-clang dist repro-check example coverage clean

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/build.ninja: | bootstrap
	$(CONFIGURE) -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN)

configure: $(BUILD)/build.ninja

build: bootstrap configure
	cmake --build $(BUILD)

# One test program at a time, as CI runs them. They may also run two at a
# time (ctest -j2, TEST_JOBS=2 here): the daemon table, their one shared
# thing, is handed to one at a time (RESOURCE_LOCK).
TEST_JOBS ?= 1
test: build
	scripts/with-wine $(BUILD) ctest --test-dir $(BUILD) -j$(TEST_JOBS) --output-on-failure

stress: build
	scripts/stress $(BUILD)

# Only vrek.exe: a first demo needs no tests compiled.
demo: bootstrap configure
	cmake --build $(BUILD) --target vrek
	scripts/with-wine $(BUILD) scripts/demo $(BUILD)

bench: build
	scripts/with-wine $(BUILD) scripts/bench $(BUILD)

# The same sources through a second compiler (Debian's clang for the same
# Windows target), warnings as errors: built, not run.
build-clang: bootstrap
	$(CONFIGURE) -B $(BUILD_CLANG) -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64-x86_64.cmake -DVREK_BUILD_BENCH=OFF
	cmake --build $(BUILD_CLANG)

# dist/vrek-<version>-win64.zip: vrek.exe, README.md and SHA256SUMS.
dist: bootstrap configure
	cmake --build $(BUILD) --target dist

# vrek.exe built from two copies of the tree in two temporary folders must
# be the same bytes, and the same as the one make dist packs.
repro-check: bootstrap configure
	cmake --build $(BUILD) --target vrek
	scripts/repro-check $(BUILD)

# cmake --install into a temporary prefix, then examples/ built against the
# installed kovra package alone and run under Wine.
example: bootstrap configure
	cmake --build $(BUILD) --target vrek kovra
	scripts/with-wine $(BUILD) scripts/example $(BUILD)

# The whole test suite on a build instrumented for gcov, and the line and
# branch coverage of kovra/ and tool/ (slow: not part of CI).
coverage: bootstrap
	@scripts/bootstrap gcovr
	$(CONFIGURE) -B $(BUILD_COVERAGE) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) -DVREK_COVERAGE=ON -DVREK_BUILD_BENCH=OFF
	cmake --build $(BUILD_COVERAGE)
	scripts/coverage $(BUILD_COVERAGE)

clean:
	rm -rf $(BUILD) $(BUILD_CLANG) $(BUILD_COVERAGE) dist
