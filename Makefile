# The README's front-door commands. Each installs what is missing, then builds.
BUILD ?= build
JOBS ?= $(shell nproc)
# Debian's interpreter, the one the Python package is built for, whatever comes first on PATH.
PYTHON ?= /usr/bin/python3

.PHONY: deps build demo test test-sanitize bench fuzz

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/orvelle netweave examples/mzi.sp
	@PYTHONPATH=$(BUILD)/python $(PYTHON) -c "import orvelle; nets = orvelle.netweave('examples/mzi.sp'); print('From Python:', {name: len(net['instances']) for name, net in nets.items()}, 'instances')"

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again in a Debug build under AddressSanitizer and UBSan.
test-sanitize: deps
	cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=Debug -DORVELLE_SANITIZE=ON
	cmake --build $(BUILD)-sanitize -j $(JOBS)
	cd $(BUILD)-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

# Benchmarks of the netlist reader and the writers (Release, Google Benchmark).
bench: deps
	cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DORVELLE_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build $(BUILD)-bench -j $(JOBS) --target netweave_bench netweave_file check_bench
	$(BUILD)-bench/bench/netweave_bench
	$(BUILD)-bench/bench/check_bench

# Each libFuzzer target for FUZZ_SECONDS on a seed corpus from the test data (clang).
FUZZ_SECONDS ?= 60
fuzz:
	ORVELLE_WITH_FUZZ=1 bash scripts/install-deps.sh
	cmake -S . -B $(BUILD)-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DORVELLE_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(BUILD)-fuzz -j $(JOBS) --target fuzz_read_netlist fuzz_read_value fuzz_write_netlist
	bash scripts/fuzz.sh $(BUILD)-fuzz $(FUZZ_SECONDS)
