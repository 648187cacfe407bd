# Every target installs what it needs from Debian's packages first.
BUILD_DIR := build
SANITIZE_DIR := build-sanitize
PACKAGE_DIR := build-package
JOBS := $(shell nproc)

BUILD_PACKAGES := cmake g++ make pkg-config libopencv-dev
TEST_PACKAGES := libgtest-dev libbenchmark-dev gstreamer1.0-plugins-base \
	xvfb xdotool x11-utils imagemagick dpkg-dev file
SCREENSHOT_PACKAGES := gstreamer1.0-plugins-base xvfb xdotool imagemagick fonts-dejavu-core
LINT_PACKAGES := clang-tidy clang-format

# Leaks inside the libraries are matched by full stacks; any finding fails the run.
SANITIZER_ENV := ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

SOURCES = $(shell find app integration report tests bench -name '*.cpp' -o -name '*.hpp')

.PHONY: all build test-deps build-tests run demo screenshot test test-sanitize package check-package \
	bench lint clean

all: build

# The tool and the demo only: what a user needs, without the test dependencies.
build:
	scripts/install-deps.sh $(BUILD_PACKAGES)
	cmake -S . -B $(BUILD_DIR) -DBUILD_TESTING=OFF -DFRAME_INTEGRATOR_BENCHMARKS=OFF
	cmake --build $(BUILD_DIR) -j $(JOBS)

test-deps:
	scripts/install-deps.sh $(BUILD_PACKAGES) $(TEST_PACKAGES)

build-tests: test-deps
	cmake -S . -B $(BUILD_DIR) -DBUILD_TESTING=ON -DFRAME_INTEGRATOR_BENCHMARKS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Status 255 is the program's -1: no camera answered at device index 0.
run: build
	@$(BUILD_DIR)/app/frame-integrator; status=$$?; \
	if [ $$status -eq 255 ]; then echo "make run: no camera at device index 0 (exit status 255)" >&2; fi; \
	exit $$status

demo: build
	scripts/install-deps.sh gstreamer1.0-plugins-base
	$(BUILD_DIR)/app/frame-integrator-demo

screenshot: build
	scripts/install-deps.sh $(SCREENSHOT_PACKAGES)
	scripts/make-screenshot.sh $(BUILD_DIR)/app/frame-integrator-demo docs/screenshot.png

# Every test, then every test again under the sanitizers, then the package installed and run.
test: build-tests
	cd $(BUILD_DIR) && ctest --output-on-failure
	$(MAKE) test-sanitize check-package

test-sanitize: test-deps
	cmake -S . -B $(SANITIZE_DIR) -DFRAME_INTEGRATOR_SANITIZE=ON -DBUILD_TESTING=ON \
		-DFRAME_INTEGRATOR_BENCHMARKS=OFF
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && $(SANITIZER_ENV) ctest --output-on-failure

package:
	scripts/install-deps.sh $(BUILD_PACKAGES) dpkg-dev file
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
		-DFRAME_INTEGRATOR_BENCHMARKS=OFF
	cmake --build $(PACKAGE_DIR) -j $(JOBS) --target package

check-package: package
	scripts/check-package.sh $(PACKAGE_DIR)/frame-integrator_*.deb

# The compute per frame size, then whole passes with real windows (on a virtual
# display large enough for 4K windows when there is no display).
bench: build-tests
	$(BUILD_DIR)/bench/compute_bench
	@if [ -n "$$DISPLAY" ]; then $(BUILD_DIR)/bench/preview_bench; \
	else SCREEN_SIZE=4000x2400x24 scripts/with-virtual-display.sh $(BUILD_DIR)/bench/preview_bench; fi

lint: build-tests
	scripts/install-deps.sh $(LINT_PACKAGES)
	clang-format --dry-run --Werror $(SOURCES)
	printf '%s\n' $(filter %.cpp,$(SOURCES)) | xargs -P $(JOBS) -n 2 clang-tidy -p $(BUILD_DIR) --quiet

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(PACKAGE_DIR)
