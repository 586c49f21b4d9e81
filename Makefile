# Quick start: `make demo` runs a short demonstration under Wine,
# `make test` builds everything and runs every test under Wine (with the
# short stress suite), `make stress` runs the full stress suite.
BUILD       ?= build
BUILD_CLANG ?= build-clang
TOOLCHAIN   := cmake/mingw-w64-x86_64.cmake
CMAKE_ARGS  ?=
CONFIGURE    = cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

.PHONY: all bootstrap configure build test stress demo bench build-clang clean

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

clean:
	rm -rf $(BUILD) $(BUILD_CLANG)
