# Every target installs what it needs from Debian's packages first.
BUILD_DIR := build
JOBS := $(shell nproc)

BUILD_PACKAGES := cmake g++ make pkg-config libopencv-dev
TEST_PACKAGES := libgtest-dev libbenchmark-dev gstreamer1.0-plugins-base xvfb xdotool x11-utils imagemagick
DEMO_PACKAGES := gstreamer1.0-plugins-base
SCREENSHOT_PACKAGES := $(TEST_PACKAGES) fonts-dejavu-core

.PHONY: all build build-tests run demo screenshot test bench clean

all: build

# The tool and the demo only: what a user needs, without the test dependencies.
build:
	scripts/install-deps.sh $(BUILD_PACKAGES)
	cmake -S . -B $(BUILD_DIR) -DBUILD_TESTING=OFF -DFRAME_INTEGRATOR_BENCHMARKS=OFF
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-tests:
	scripts/install-deps.sh $(BUILD_PACKAGES) $(TEST_PACKAGES)
	cmake -S . -B $(BUILD_DIR) -DBUILD_TESTING=ON -DFRAME_INTEGRATOR_BENCHMARKS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Status 255 is the program's -1: no camera answered at device index 0.
run: build
	@$(BUILD_DIR)/app/frame-integrator; status=$$?; \
	if [ $$status -eq 255 ]; then echo "make run: no camera at device index 0 (exit status 255)" >&2; fi; \
	exit $$status

demo: build
	scripts/install-deps.sh $(DEMO_PACKAGES)
	$(BUILD_DIR)/app/frame-integrator-demo

screenshot: build
	scripts/install-deps.sh $(SCREENSHOT_PACKAGES)
	scripts/make-screenshot.sh $(BUILD_DIR)/app/frame-integrator-demo docs/screenshot.png

test: build-tests
	cd $(BUILD_DIR) && ctest --output-on-failure

# The compute per frame size, then whole passes with real windows (on a virtual
# display large enough for 4K windows when there is no display).
bench: build-tests
	$(BUILD_DIR)/bench/compute_bench
	@if [ -n "$$DISPLAY" ]; then $(BUILD_DIR)/bench/preview_bench; \
	else SCREEN_SIZE=4000x2400x24 scripts/with-virtual-display.sh $(BUILD_DIR)/bench/preview_bench; fi

clean:
	rm -rf $(BUILD_DIR)
