# make run   - install what is missing, build, start the application (the headless demo
#              when there is no display)
# make demo  - the headless demo: fingerprint, inspect and recognise generated clips
# make test  - install what is missing, build, run every test (what CI runs)
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run demo test test-unit test-sanitize fuzz bench clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then $(BUILD)/src/ui/orvane3; \
	else echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the headless demo, 'make demo'."; \
	scripts/demo $(BUILD); fi

demo: build
	@scripts/demo $(BUILD)

test-unit: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Codec, reader and signal tests under AddressSanitizer + UndefinedBehaviorSanitizer, built
# with clang together with the libFuzzer targets, which then run for a short, fixed time.
test-sanitize: deps
	@scripts/sanitize-and-fuzz

test: test-unit test-sanitize
	@echo "all tests passed"

bench: build
	@scripts/run-benchmarks $(BUILD)

clean:
	rm -rf $(BUILD) build-asan
