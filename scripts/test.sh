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
scripts/deps.sh cmake ninja-build g++ libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev \
  qt6-base-dev qt6-charts-dev \
  fonts-dejavu-core xvfb xauth xdotool imagemagick
jobs=$(nproc 2>/dev/null || echo 2)
# Line tables only (-g1): the tests' reports keep file and line, and the build takes a quarter less
# time than with full debug information.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
cmake --build build -j "$jobs"
# Two tests per core: the end-to-end tests run zocfg and zo-sim as processes on the real clock,
# and at four per core they sometimes miss the protocol's time-outs.
(cd build && ctest -j "$((jobs * 2))" --output-on-failure --timeout 300)

# The Debian package made from this build: lintian, the desktop entry, the AppStream metadata,
# and the programs run from the unpacked package.
if [ "${ZO_SANITIZER_BUILDS:-yes}" = "no" ]; then
  scripts/check-package.sh build
  exit 0
fi
# With the sanitizer builds to follow, the package check (mostly lintian, on one core) runs while
# the first of them compiles; its report follows that build.
scripts/check-package.sh build >build/check-package.log 2>&1 &
package_check=$!
# A failure leaves no check running behind the script.
trap 'jobs -p | xargs -r kill 2>/dev/null || true' EXIT

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
# (the exchange tests); the main build runs them.
real_timeouts='ReprogramFault\..*/(NoReplyToALine|NoVersionFrame)( |$)'
for kind in address thread; do
  # Unoptimised, with line tables only: the sanitizers' reports keep their file and line, and
  # the two instrumented builds compile in far less time (the tests run a little slower). The
  # sanitizer tests stay at two per core: instrumented, they compute more than they wait.
  cmake -S . -B "build-$kind" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZO_SANITIZE="$kind" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O0 -g1 -DNDEBUG" -DZO_BUILD_UI=OFF -DZO_BUILD_BENCH=OFF
  cmake --build "build-$kind" -j "$jobs"
  if [ -n "$package_check" ]; then
    status=0
    wait "$package_check" || status=$?
    package_check=""
    cat build/check-package.log
    [ "$status" -eq 0 ] || { echo "The package check failed"; exit 1; }
  fi
  (cd "build-$kind" && ctest -j "$((jobs * 2))" --output-on-failure --timeout 300 -E "$real_timeouts")
done
