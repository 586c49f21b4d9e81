# Quick start: `make demo` runs a short demonstration under Wine,
# `make test` builds everything and runs every test under Wine (with the
# short stress suite), `make stress` runs the full stress suite.
BUILD      ?= build
TOOLCHAIN  := cmake/mingw-w64-x86_64.cmake
CMAKE_ARGS ?=

.PHONY: all bootstrap configure build test stress demo bench clean

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/build.ninja: | bootstrap
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

configure: $(BUILD)/build.ninja

build: bootstrap configure
	cmake --build $(BUILD)

test: build
	scripts/with-wine $(BUILD) ctest --test-dir $(BUILD) --output-on-failure

stress: build
	scripts/stress $(BUILD)

demo: build
	scripts/with-wine $(BUILD) scripts/demo $(BUILD)

bench: build
	scripts/with-wine $(BUILD) scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD)
