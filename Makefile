# The README's front-door commands. Each installs what is missing, then builds.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps build demo test test-sanitize bench

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/orvelle --version

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
