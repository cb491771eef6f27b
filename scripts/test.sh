#!/usr/bin/env bash
# Builds ZO configure and runs every test; then builds and runs the same suite under the address
# and undefined-behaviour sanitizers (build-address/) and under the thread sanitizer
# (build-thread/). Installs the Debian packages it needs when they are missing (as root, or
# through sudo). Prints the time of each step at its end.
#
# ZO_SANITIZER_BUILDS=no skips the two sanitizer builds (a quick local run). The sanitizer builds
# leave out the window and its tests (Qt is not built with the sanitizers, and its tests are the
# slow ones) and the benchmarks, and run the fault scenarios 100 times instead of 1000.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/suite.sh
source scripts/steps.sh
# A failure leaves nothing running behind the script.
trap 'jobs -p | xargs -r kill 2>/dev/null || true; steps_exit' EXIT

main_build() {
  step "Main build: configure" configure_main build
  step "Main build: compile" cmake --build build -j "$jobs"
  step "Main build: tests" run_tests build
}

if [ "${ZO_SANITIZER_BUILDS:-yes}" = "no" ]; then
  step "Packages" scripts/deps.sh "${build_packages[@]}" "${window_packages[@]}"
  main_build
  # The Debian package made from this build: lintian, the desktop entry, the AppStream metadata,
  # and the programs run from the unpacked package.
  step "Package check" scripts/check-package.sh build
  exit 0
fi

# The packages of the window and of the package check (the larger part of the installation, mostly
# waiting on downloads and disks) install while the address build, which needs neither, compiles.
step "Packages: build" scripts/deps.sh "${build_packages[@]}"
mkdir -p build
step_start "Packages: window and package check" build/deps.log \
  scripts/deps.sh "${window_packages[@]}" "${package_check_packages[@]}"
installing=$STEP_PID
step "Address build: configure" configure_sanitizer address
step "Address build: compile" cmake --build build-address -j "$jobs"
step_finish "$installing" build/deps.log "Installing the packages"

main_build
# The Debian package made from this build (lintian, mostly on one core) is checked while the
# thread build compiles; its report follows that build.
step_start "Package check" build/check-package.log scripts/check-package.sh build
package_check=$STEP_PID
step "Thread build: configure" configure_sanitizer thread
step "Thread build: compile" cmake --build build-thread -j "$jobs"
step_finish "$package_check" build/check-package.log "The package check"

# The sanitizer tests stay at two per core: instrumented, they compute more than they wait.
step "Address build: tests" run_sanitizer_tests build-address
step "Thread build: tests" run_sanitizer_tests build-thread
