# Thin wrapper over CMake. `make example` and `make test` set up a fresh machine first.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all bootstrap configure build test example bench clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

example: build
	@scripts/run-example $(BUILD)

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target orvus_bench orvus_search_speed
	@$(BUILD)/bench/orvus_bench
	@$(BUILD)/bench/orvus_search_speed

clean:
	rm -rf $(BUILD)
