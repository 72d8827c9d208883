# Thin wrapper over CMake. `make example` and `make test` set up a fresh machine first.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release
# Every build made here treats warnings as errors (CI too: .ci/run sets it again);
# WERROR=OFF for a compiler newer than the one the project is checked with.
WERROR ?= ON

FUZZ_SECONDS ?= 60
# A sanitizer report ends the process with status 86, which no test takes for a fatal error.
SANITIZER_ENV = ASAN_OPTIONS=exitcode=86:detect_leaks=1 \
	UBSAN_OPTIONS=exitcode=86:print_stacktrace=1

.PHONY: all bootstrap configure build test example serve bench sanitize fuzz install clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -DORVUS_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Builds only the three commands it runs.
example: configure
	@cmake --build $(BUILD) -j $(JOBS) --target orvus orvus-map orvus-plan
	@scripts/run-example $(BUILD)

# The tasking service on examples/serve/ with the bundled satellites, its clock started inside
# their element sets' validity; the first start prints a demo operator key.
SERVE_NOW ?= 2025-07-29T12:00:00Z
serve: configure
	@cmake --build $(BUILD) -j $(JOBS) --target orvus_python
	@PYTHONPATH=$(BUILD)/python $(BUILD)/python/orvus-serve examples/serve/serve.toml \
		--now $(SERVE_NOW)

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target orvus_bench orvus_search_speed spot5_solve
	@$(BUILD)/bench/orvus_bench
	@$(BUILD)/bench/orvus_search_speed
	@bench/spot5_bench.sh $(BUILD)

# The whole test suite and the example under AddressSanitizer and UBSan (the Python module
# is left out: an instrumented extension cannot load into the uninstrumented interpreter).
sanitize: bootstrap
	@cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVUS_SANITIZE=ON \
		-DORVUS_WERROR=$(WERROR) -DORVUS_BUILD_BENCH=OFF -DORVUS_BUILD_PYTHON=OFF >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	@cd build-sanitize && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)
	@$(SANITIZER_ENV) scripts/run-example build-sanitize

# The readers under libFuzzer, FUZZ_SECONDS each.
fuzz:
	@scripts/bootstrap clang libclang-rt-14-dev
	@cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DORVUS_FUZZ=ON -DORVUS_WERROR=$(WERROR) \
		-DORVUS_BUILD_APPS=OFF -DORVUS_BUILD_TESTS=OFF -DORVUS_BUILD_BENCH=OFF \
		-DORVUS_BUILD_PYTHON=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_input fuzz_tle fuzz_finals fuzz_datetime \
		fuzz_catalogue fuzz_omm_kvn fuzz_omm_xml fuzz_omm_json fuzz_omm_csv
	@scripts/run-fuzz build-fuzz $(FUZZ_SECONDS)

# The commands, liborvus, its headers, CMake package, orvus.pc and man pages under PREFIX.
PREFIX ?= /usr/local
install: bootstrap
	@cmake -S . -B $(BUILD) -DORVUS_WERROR=$(WERROR) $(CMAKE_FLAGS) \
		-DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz
