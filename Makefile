# Every target installs what it needs from Debian's packages first.
BUILD_DIR := build
JOBS := $(shell nproc)

BUILD_PACKAGES := cmake g++ make pkg-config libopencv-dev
TEST_PACKAGES := libgtest-dev gstreamer1.0-plugins-base

.PHONY: all deps build run test clean

all: build

deps:
	scripts/install-deps.sh $(BUILD_PACKAGES)

build: deps
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Status 255 is the program's -1: no camera answered at device index 0.
run: build
	@$(BUILD_DIR)/app/frame-integrator; status=$$?; \
	if [ $$status -eq 255 ]; then echo "make run: no camera at device index 0 (exit status 255)" >&2; fi; \
	exit $$status

test: deps
	scripts/install-deps.sh $(TEST_PACKAGES)
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure

clean:
	rm -rf $(BUILD_DIR)
