# The two commands of the README. Both install what is missing first.
#   make test  - build optimised and sanitizer builds and run every test in both
#   make run   - build, lay out run/ and start vorlane in the foreground
# And the service install (builds the binary when needed, installs no packages):
#   make install [PREFIX=/opt/vorlane] [DESTDIR=] [SERVICE_USER=vorlane]
# And the ThreadSanitizer build, which `make test` does not run:
#   make test-tsan - build in build/tsan and run every test there; a report fails its test

JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
ASAN_DIR := build/asan
TSAN_DIR := build/tsan
# Every report is printed and makes the process that had it end with status
# 66, so the test that ran it fails (a vorlane started by a black-box test
# fails the test's stop); lock-order reports show both stacks.
TSAN_RUN_OPTIONS := halt_on_error=0:exitcode=66:second_deadlock_stack=1
RUN_DIR := run
DEFAULT_PREFIX := /opt/vorlane
PREFIX ?= $(DEFAULT_PREFIX)
# systemd finds the unit in /etc/systemd/system; only the default prefix puts
# it there, any other prefix keeps it in PREFIX (link or copy it yourself).
SYSTEMD_UNIT_DIR ?= $(if $(filter $(DEFAULT_PREFIX),$(PREFIX)),/etc/systemd/system)
# The system account the unit runs the caster as; made by an install as root
# without DESTDIR.
SERVICE_USER ?= vorlane

.PHONY: all deps build build-asan build-tsan test test-tsan run install fuzz clean

all: build

deps:
	@scripts/install-deps

$(RELEASE_DIR)/build.ninja:
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLANE_WERROR=ON

$(ASAN_DIR)/build.ninja:
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLANE_SANITIZE=ON -DVORLANE_BENCH=OFF -DVORLANE_WERROR=ON

$(TSAN_DIR)/build.ninja:
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLANE_TSAN=ON -DVORLANE_BENCH=OFF -DVORLANE_WERROR=ON

build: deps $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS)

build-asan: deps $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR) -j $(JOBS)

test: build build-asan
	cd $(RELEASE_DIR) && ctest -j $(JOBS) --output-on-failure --timeout 300
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
		ctest -j $(JOBS) --output-on-failure --timeout 600
	@if [ -x scripts/fuzz ]; then scripts/fuzz 30; fi

build-tsan: deps $(TSAN_DIR)/build.ninja
	cmake --build $(TSAN_DIR) -j $(JOBS)

test-tsan: build-tsan
	cd $(TSAN_DIR) && TSAN_OPTIONS=$(TSAN_RUN_OPTIONS) ctest -j $(JOBS) --output-on-failure --timeout 600

install: $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target vorlane
	scripts/install $(RELEASE_DIR) $(PREFIX) "$(DESTDIR)" "$(SYSTEMD_UNIT_DIR)" "$(SERVICE_USER)"

fuzz: deps
	scripts/fuzz $${FUZZ_SECONDS:-60}

run: build
	scripts/layout-run --demo $(RELEASE_DIR) $(RUN_DIR)
	cd $(RUN_DIR) && exec ./vorlane

clean:
	rm -rf build
