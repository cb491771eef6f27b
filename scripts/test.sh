#!/usr/bin/env bash
# Builds ZO configure and runs every test; then builds and runs the same suite under the address
# and undefined-behaviour sanitizers (build-address/) and under the thread sanitizer
# (build-thread/). Installs the Debian packages it needs when they are missing (as root, or
# through sudo). Prints the time of each step at its end (scripts/steps.sh).
#
# ZO_SANITIZER_BUILDS=no skips the two sanitizer builds (a quick local run). The sanitizer builds
# leave out the window and its tests (Qt is not built with the sanitizers, and its tests are the
# slow ones) and the benchmarks, and run the fault scenarios 100 times instead of 1000.
#
# On two cores the compilers are the bottleneck, and the tests spend much of their time waiting on
# the line and on child programs: so each build's tests run in the background while the next
# build compiles (no test can fail from load alone: scripts/soak.sh checks that), the packages
# install while the first build compiles, and the package is checked beside the last build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/suite.sh
source scripts/steps.sh
# A failure leaves nothing running behind the script.
trap 'jobs -p | xargs -r kill 2>/dev/null || true; steps_exit' EXIT

# What runs in the background writes to a log of its own here, shown when the step is waited for.
logs=build-logs
mkdir -p "$logs"

compile() {  # build folder, then the configure function and its argument
  local dir=$1
  shift
  "$@" >"$logs/$dir.configure.log" 2>&1 || { cat "$logs/$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs"
}

if [ "${ZO_SANITIZER_BUILDS:-yes}" = "no" ]; then
  step "Packages" scripts/deps.sh "${build_packages[@]}" "${window_packages[@]}" \
    "${package_check_packages[@]}"
  step "Main build: compile" compile build configure_main build
  step_start "Main build: tests" "$logs/build.tests.log" run_tests build
  main_tests=$STEP_PID
  # The Debian package made from this build: lintian, the desktop entry, the AppStream metadata,
  # and the programs run from the unpacked package.
  step "Package check" scripts/check-package.sh build
  step_finish "$main_tests" "$logs/build.tests.log" "The main build's tests"
  exit 0
fi

# The packages of the window and of the package check (the larger part of the installation, mostly
# waiting on downloads and disks) install while the address build, which needs neither, compiles.
step "Packages: build" scripts/deps.sh "${build_packages[@]}"
step_start "Packages: window and package check" "$logs/packages.log" \
  scripts/deps.sh "${window_packages[@]}" "${package_check_packages[@]}"
installing=$STEP_PID
step "Address build: compile" compile build-address configure_sanitizer address
step_start "Address build: tests" "$logs/build-address.tests.log" run_sanitizer_tests build-address
address_tests=$STEP_PID
step_finish "$installing" "$logs/packages.log" "Installing the packages"

step "Main build: compile" compile build configure_main build
step_start "Main build: tests" "$logs/build.tests.log" run_tests build
main_tests=$STEP_PID
step_start "Package check" "$logs/check-package.log" scripts/check-package.sh build
package_check=$STEP_PID
step "Thread build: compile" compile build-thread configure_sanitizer thread
step_finish "$address_tests" "$logs/build-address.tests.log" "The address build's tests"
step "Thread build: tests" run_sanitizer_tests build-thread
step_finish "$main_tests" "$logs/build.tests.log" "The main build's tests"
step_finish "$package_check" "$logs/check-package.log" "The package check"
