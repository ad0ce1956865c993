# The two commands of the README: `make run` and `make test`.
BUILD_DIR ?= build
PREFIX ?= $(HOME)/.local
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test install clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Running builds only the two programs, not the tests.
run: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target Tovix TovixHelper
	@bash scripts/run-tovix.sh $(BUILD_DIR)/bin/Tovix

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD_DIR)
