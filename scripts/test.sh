#!/usr/bin/env bash
# Builds ZO configure and runs every test; then builds and runs the same suite under the address
# and undefined-behaviour sanitizers (build-address/) and under the thread sanitizer
# (build-thread/). Installs the Debian packages it needs when they are missing (as root, or
# through sudo).
#
# ZO_SANITIZER_BUILDS=no skips the two sanitizer builds (a quick local run). The sanitizer builds
# leave out the window and its tests (Qt is not built with the sanitizers, and its tests are the
# slow ones) and the benchmarks, and run the fault scenarios 100 times instead of 1000.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build_packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev)
# The window, its tests under a real X server, and the package check.
window_packages=(qt6-base-dev qt6-charts-dev fonts-dejavu-core xvfb xauth xdotool imagemagick)
package_check_packages=(lintian appstream desktop-file-utils dpkg-dev fakeroot file)

# ctest runs the tests it knows to be slow first, longest first, so that no long test starts
# last and runs alone. A build that has run its tests knows their times; a fresh one starts from
# tests/ctest-costs.txt (a copy of such a record, comments left out).
run_tests() {
  local dir=$1
  shift
  local record="$dir/Testing/Temporary/CTestCostData.txt"
  if [ ! -s "$record" ]; then
    mkdir -p "$(dirname "$record")"
    { grep -v '^#' tests/ctest-costs.txt; echo "---"; } >"$record"
  fi
  (cd "$dir" && ctest -j "$((jobs * 2))" --output-on-failure --timeout 300 "$@")
}

# The main build: optimised, with line tables only (-g1): the tests' reports keep file and line,
# and the build takes a quarter less time than with full debug information. Two tests per core:
# the end-to-end tests run zocfg and zo-sim as processes on the real clock, and at four per core
# they sometimes miss the protocol's time-outs.
main_build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
  cmake --build build -j "$jobs"
  run_tests build
}

if [ "${ZO_SANITIZER_BUILDS:-yes}" = "no" ]; then
  scripts/deps.sh "${build_packages[@]}" "${window_packages[@]}"
  main_build
  # The Debian package made from this build: lintian, the desktop entry, the AppStream metadata,
  # and the programs run from the unpacked package.
  scripts/check-package.sh build
  exit 0
fi

# Unoptimised, with line tables only: the sanitizers' reports keep their file and line, and the
# two instrumented builds compile in far less time (the tests run a little slower). They need no
# window.
sanitizer_build() {
  cmake -S . -B "build-$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZO_SANITIZE="$1" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O0 -g1 -DNDEBUG" -DZO_BUILD_UI=OFF -DZO_BUILD_BENCH=OFF
  cmake --build "build-$1" -j "$jobs"
}
# Waits for a background step and shows what it printed; its failure ends the script.
finish() {
  local pid=$1 log=$2 what=$3 status=0
  wait "$pid" || status=$?
  cat "$log"
  [ "$status" -eq 0 ] || { echo "$what failed"; exit 1; }
}
# A failure leaves nothing running behind the script.
trap 'jobs -p | xargs -r kill 2>/dev/null || true' EXIT

# The packages of the window and of the package check (the larger part of the installation, mostly
# waiting on downloads and disks) install while the address build, which needs neither, compiles.
scripts/deps.sh "${build_packages[@]}"
mkdir -p build
scripts/deps.sh "${window_packages[@]}" "${package_check_packages[@]}" >build/deps.log 2>&1 &
installing=$!
sanitizer_build address
finish "$installing" build/deps.log "Installing the packages"

main_build
# The Debian package made from this build (lintian, mostly on one core) is checked while the
# thread build compiles; its report follows that build.
scripts/check-package.sh build >build/check-package.log 2>&1 &
package_check=$!
sanitizer_build thread
finish "$package_check" build/check-package.log "The package check"

# Findings stop the test that made them and fail it; the suppression files name only findings
# inside the C and C++ libraries, each with its reason.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
# The fault scenarios repeat 1000 times in the main build; a tenth of that keeps the slower
# sanitizer builds within CI's time.
export ZO_FAULT_REPETITIONS=100
# The two reprogram faults that wait out the real 18 s and 25 s time-outs have virtual-clock twins
# (the exchange tests); the main build runs them. The sanitizer tests stay at two per core:
# instrumented, they compute more than they wait.
real_timeouts='ReprogramFault\..*/(NoReplyToALine|NoVersionFrame)$'
run_tests build-address -E "$real_timeouts"
run_tests build-thread -E "$real_timeouts"
