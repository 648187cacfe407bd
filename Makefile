# Every target first installs the Debian packages it needs that are missing. Each build
# folder has one configuration, made once: build/ holds the tool and the demo, build-tests/
# the tests and benchmarks, build-sanitize/ the tests under sanitizers, build-package/ the
# Debian packages, a folder for each release and architecture.
JOBS := $(shell nproc)
INSTALL := scripts/install-deps.sh

BUILD_PACKAGES := cmake g++ make pkg-config libopencv-dev
DEMO_PACKAGES := gstreamer1.0-plugins-base
# The tests that the package build runs take their packages from debian/control's
# Build-Depends (install-deps.sh --build-deps); the window tests and the benchmarks need these.
TEST_PACKAGES := libbenchmark-dev xvfb xauth xdotool imagemagick weston xwayland qtwayland5
# uidmap: mmdebstrap run by a user makes its root in a user namespace with subordinate ids.
PACKAGE_PACKAGES := git build-essential dpkg-dev debhelper lintian mmdebstrap uidmap
LINT_PACKAGES := clang-tidy clang-format
# RELEASE and ARCH pick the Debian release and architecture (amd64 or arm64) that make package
# and make test-cameras build for; by default this machine's.
HOST_RELEASE := $(shell . /etc/os-release && echo $$VERSION_CODENAME)
BUILD_ARCH := $(shell dpkg --print-architecture)
DEB_ARCH := $(or $(ARCH),$(BUILD_ARCH))
# A package for another architecture is cross-built, and its tests run under qemu-user.
CROSS_PACKAGES := $(if $(filter-out $(BUILD_ARCH),$(DEB_ARCH)),qemu-user-static)
# What mmdebstrap-autopkgtest-build-qemu and autopkgtest need to make and boot a machine of
# ARCH; another architecture's programs run under qemu-user while its image is made.
CAMERA_HOST_PACKAGES := autopkgtest mmdebstrap e2fsprogs dosfstools fdisk mtools qemu-utils \
	$(if $(filter bookworm,$(HOST_RELEASE)),libarchive13,libarchive13t64) \
	systemd-boot-efi:$(DEB_ARCH) binutils-multiarch $(if $(filter arm64,$(DEB_ARCH)), \
	qemu-system-arm qemu-efi-aarch64 qemu-user-static arch-test,qemu-system-x86 ovmf)
# Debian 12's mmdebstrap lacks the image builder, and its mke2fs can't read the builder's tar
# stream: there they come from bookworm-backports, with autopkgtest of the same age.
IMAGE_TOOLS := autopkgtest mmdebstrap e2fsprogs

# Configures folder $(1) with CMake options $(2) unless it already is; from then on the
# build itself reruns CMake when a CMakeLists.txt changes.
configure = test -f $(1)/CMakeCache.txt || cmake -S . -B $(1) $(2)
TOOL_OPTIONS := -DBUILD_TESTING=OFF -DFRAME_INTEGRATOR_BENCHMARKS=OFF
# The test and lint builds are ours: there a warning fails the build.
DEVELOPER_OPTIONS := -DBUILD_TESTING=ON -DFRAME_INTEGRATOR_WERROR=ON

# Leaks inside the libraries are matched by full stacks; any finding fails the run.
SANITIZER_ENV := ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

SOURCES = $(shell find app integration report tests bench -name '*.cpp' -o -name '*.hpp')

.PHONY: all build run demo build-tests test test-plain test-sanitize package bench \
	lint test-fresh-debian test-cameras camera-host-packages clean

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

# Builds the tests and the benchmarks in build-tests/.
build-tests:
	$(INSTALL) --build-deps
	$(INSTALL) $(BUILD_PACKAGES) $(TEST_PACKAGES)
	$(call configure,build-tests,$(DEVELOPER_OPTIONS) -DFRAME_INTEGRATOR_BENCHMARKS=ON)
	cmake --build build-tests -j $(JOBS)

# The README's test command: every test, every test again under the sanitizers, then the
# Debian package built and checked.
test: test-plain test-sanitize package

# Runs every test once.
test-plain: build-tests
	cd build-tests && ctest --output-on-failure

# Runs every test built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	$(INSTALL) --build-deps
	$(INSTALL) $(BUILD_PACKAGES) $(TEST_PACKAGES)
	$(call configure,build-sanitize,$(DEVELOPER_OPTIONS) -DFRAME_INTEGRATOR_SANITIZE=ON \
		-DFRAME_INTEGRATOR_BENCHMARKS=OFF)
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && $(SANITIZER_ENV) ctest --output-on-failure

# Builds the Debian source and binary packages with dpkg-buildpackage and checks them with
# lintian; for another release or architecture than this machine's, in a fresh root of that
# release (a cross build for another architecture, its tests run under qemu-user).
package:
	$(INSTALL) --build-deps
	$(INSTALL) $(BUILD_PACKAGES) $(PACKAGE_PACKAGES) $(CROSS_PACKAGES)
	scripts/build-package.sh $(or $(RELEASE),$(HOST_RELEASE)) $(DEB_ARCH)

# Times the pass and its steps per frame size, then whole passes with real windows (on a
# virtual display large enough for 4K windows when there is no display).
bench: build-tests
	@if [ -n "$$DISPLAY" ]; then build-tests/bench/bench; \
	else xvfb-run -a -s "-screen 0 4000x2400x24" build-tests/bench/bench; fi

# Checks the formatting and runs clang-tidy over every source.
lint: build-tests
	$(INSTALL) $(LINT_PACKAGES)
	clang-format --dry-run --Werror $(SOURCES)
	printf '%s\n' $(filter %.cpp,$(SOURCES)) | xargs -P $(JOBS) -n 2 clang-tidy -p build-tests --quiet

# Runs make test, make lint, make package ARCH=arm64 and the camera host checks as a user with
# sudo, on a clean clone of HEAD in a fresh minimal root of Debian RELEASE (default trixie,
# Debian 13). Needs root.
test-fresh-debian:
	$(INSTALL) git mmdebstrap
	scripts/test-in-fresh-debian.sh $(or $(RELEASE),trixie)

# Builds the package for Debian RELEASE (default both bookworm and trixie, each run even when
# the other fails) on ARCH and runs its autopkgtests: for this machine's architecture in a
# container of that release, where the camera cases are skipped, then all of them in a qemu
# machine of that release and architecture.
test-cameras: camera-host-packages
	@status=0; for release in $(or $(RELEASE),bookworm trixie); do \
		scripts/build-package.sh $$release $(DEB_ARCH) && \
		scripts/test-cameras.sh $$release $(DEB_ARCH) || status=1; \
	done; exit $$status

# Installs what making and booting a qemu machine of ARCH needs, and building its package.
camera-host-packages:
	$(INSTALL) --build-deps
	$(INSTALL) $(BUILD_PACKAGES) $(PACKAGE_PACKAGES) $(CAMERA_HOST_PACKAGES)
	command -v mmdebstrap-autopkgtest-build-qemu >/dev/null || $(INSTALL) --backports $(IMAGE_TOOLS)

# Removes every build folder.
clean:
	rm -rf build build-tests build-sanitize build-package
