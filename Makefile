# Every target first installs the Debian packages it needs that are missing. Each build
# folder has one configuration, made once: build/ holds the tool and the demo, build-tests/
# the tests and benchmarks, build-sanitize/ the tests under sanitizers, build-package/ the
# Debian package.
JOBS := $(shell nproc)
INSTALL := scripts/install-deps.sh

BUILD_PACKAGES := cmake g++ make pkg-config libopencv-dev
DEMO_PACKAGES := gstreamer1.0-plugins-base
TEST_PACKAGES := libgtest-dev libbenchmark-dev gstreamer1.0-plugins-base \
	xvfb xdotool x11-utils imagemagick strace weston xwayland qtwayland5
PACKAGE_PACKAGES := dpkg-dev file
SCREENSHOT_PACKAGES := gstreamer1.0-plugins-base xvfb xdotool imagemagick fonts-dejavu-core
LINT_PACKAGES := clang-tidy clang-format
# ARCH (default this machine's) picks the architecture of make package and make test-cameras:
# amd64 or arm64, whose programs run here under qemu-user.
HOST_ARCH := $(shell dpkg --print-architecture)
HOST_RELEASE := $(shell . /etc/os-release && echo $$VERSION_CODENAME)
DEB_ARCH := $(or $(ARCH),$(HOST_ARCH))
CAMERA_HOST_PACKAGES := debootstrap e2fsprogs git \
	$(if $(filter arm64,$(DEB_ARCH)),qemu-system-arm qemu-user-static lintian,qemu-system-x86)
# What the camera guest holds: the release's kernel with its virtual camera driver, the
# camera controls, a virtual display, GStreamer's camera source and what the tool, its
# package and its unit tests build with.
CAMERA_GUEST_PACKAGES := linux-image-$(DEB_ARCH) kmod v4l-utils xvfb xdotool \
	gstreamer1.0-plugins-base gstreamer1.0-plugins-good $(BUILD_PACKAGES) $(PACKAGE_PACKAGES) \
	libgtest-dev

# Configures folder $(1) with CMake options $(2) unless it already is; from then on the
# build itself reruns CMake when a CMakeLists.txt changes.
configure = test -f $(1)/CMakeCache.txt || cmake -S . -B $(1) $(2)
TOOL_OPTIONS := -DBUILD_TESTING=OFF -DFRAME_INTEGRATOR_BENCHMARKS=OFF

# Leaks inside the libraries are matched by full stacks; any finding fails the run.
SANITIZER_ENV := ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

SOURCES = $(shell find app integration report tests bench -name '*.cpp' -o -name '*.hpp')

.PHONY: all build run demo screenshot build-tests test test-plain test-sanitize package \
	package-native package-foreign check-arch check-package bench lint test-fresh-debian \
	test-cameras clean

# Builds the tool and the demo, as make build does.
all: build

# Builds the tool and the demo in build/, with none of the test dependencies.
build:
	$(INSTALL) $(BUILD_PACKAGES)
	$(call configure,build,$(TOOL_OPTIONS))
	cmake --build build -j $(JOBS)

# Runs the tool on this machine's cameras; status 255 is its -1, no camera at device index 0.
run: build
	@build/app/frame-integrator; status=$$?; \
	if [ $$status -eq 255 ]; then echo "make run: no camera at device index 0 (exit status 255)" >&2; fi; \
	exit $$status

# Runs the tool on a synthetic noisy camera, for machines without one.
demo: build
	$(INSTALL) $(DEMO_PACKAGES)
	build/app/frame-integrator-demo

# Remakes docs/screenshot.png from a demo run under a virtual display.
screenshot: build
	$(INSTALL) $(SCREENSHOT_PACKAGES)
	scripts/make-screenshot.sh build/app/frame-integrator-demo docs/screenshot.png

# Builds the tests and the benchmarks in build-tests/.
build-tests:
	$(INSTALL) $(BUILD_PACKAGES) $(TEST_PACKAGES)
	$(call configure,build-tests,-DBUILD_TESTING=ON -DFRAME_INTEGRATOR_BENCHMARKS=ON)
	cmake --build build-tests -j $(JOBS)

# The README's test command: every test, every test again under the sanitizers, then the
# Debian package checked and run.
test: test-plain test-sanitize check-package

# Runs every test once.
test-plain: build-tests
	cd build-tests && ctest --output-on-failure

# Runs every test built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	$(INSTALL) $(BUILD_PACKAGES) $(TEST_PACKAGES)
	$(call configure,build-sanitize,-DFRAME_INTEGRATOR_SANITIZE=ON -DBUILD_TESTING=ON \
		-DFRAME_INTEGRATOR_BENCHMARKS=OFF)
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && $(SANITIZER_ENV) ctest --output-on-failure

# Builds build-package/frame-integrator_VERSION_ARCH.deb; with ARCH=arm64 (as root),
# build-package-arm64/frame-integrator_VERSION_arm64.deb for Debian RELEASE (default this
# machine's), built in an emulated arm64 root and checked as make check-package does.
package: $(if $(filter $(HOST_ARCH),$(DEB_ARCH)),package-native,package-foreign)

package-native:
	$(INSTALL) $(BUILD_PACKAGES) $(PACKAGE_PACKAGES)
	$(call configure,build-package,-DCMAKE_BUILD_TYPE=Release $(TOOL_OPTIONS))
	cmake --build build-package -j $(JOBS) --target package

package-foreign: check-arch
	$(INSTALL) $(CAMERA_HOST_PACKAGES)
	scripts/package-for-arch.sh $(or $(RELEASE),$(HOST_RELEASE)) $(DEB_ARCH) $(CAMERA_GUEST_PACKAGES)

# Checks the package's contents and lintian's verdict, then runs the packaged binary.
check-package: package-native
	$(INSTALL) lintian strace
	scripts/check-package.sh build-package/frame-integrator_*.deb

# Times the pass and its steps per frame size, then whole passes with real windows (on a
# virtual display large enough for 4K windows when there is no display).
bench: build-tests
	@if [ -n "$$DISPLAY" ]; then build-tests/bench/bench; \
	else SCREEN_SIZE=4000x2400x24 scripts/with-virtual-display.sh build-tests/bench/bench; fi

# Checks the formatting and runs clang-tidy over every source.
lint: build-tests
	$(INSTALL) $(LINT_PACKAGES)
	clang-format --dry-run --Werror $(SOURCES)
	printf '%s\n' $(filter %.cpp,$(SOURCES)) | xargs -P $(JOBS) -n 2 clang-tidy -p build-tests --quiet

# Runs make test and make lint on a clean clone of HEAD in a fresh minimal root of Debian
# RELEASE (default trixie, Debian 13). Needs root.
test-fresh-debian:
	scripts/test-in-fresh-debian.sh $(or $(RELEASE),trixie)

# Runs the camera cases against the kernel's virtual camera in a qemu guest of Debian
# RELEASE (default both bookworm and trixie, each run even when the other fails) for ARCH,
# with the tool built from this working tree (on arm64, its package). Needs root.
test-cameras: check-arch
	$(INSTALL) $(CAMERA_HOST_PACKAGES)
	@status=0; for release in $(or $(RELEASE),bookworm trixie); do \
		scripts/test-cameras.sh $$release $(DEB_ARCH) $(CAMERA_GUEST_PACKAGES) || status=1; \
	done; exit $$status

# Refuses an ARCH other than the two the camera guests are made for.
check-arch:
	@case "$(DEB_ARCH)" in amd64|arm64) ;; *) echo "ARCH=$(DEB_ARCH): amd64 or arm64 only" >&2; exit 2 ;; esac

# Removes every build folder.
clean:
	rm -rf build build-tests build-sanitize build-package build-package-*
