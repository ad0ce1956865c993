# The two commands of the README: `make run` and `make test`.
BUILD_DIR ?= build
PREFIX ?= $(HOME)/.local
JOBS ?= $(shell nproc)

.PHONY: deps configure build programs run test install uninstall clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Running and installing build only the two programs, not the tests.
programs: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target Tovix TovixHelper

run: programs
	@bash scripts/run-tovix.sh $(BUILD_DIR)/bin/Tovix

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

install: programs
	@bash scripts/install.sh $(BUILD_DIR) $(PREFIX)

# Removes what the last install wrote, as its manifest lists it, and the
# folders of its own that this leaves empty.
uninstall:
	@bash scripts/uninstall.sh $(BUILD_DIR)/install_manifest.txt

clean:
	rm -rf $(BUILD_DIR)
