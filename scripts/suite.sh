# How the suite's builds are configured and how their tests run, shared by scripts/test.sh and
# scripts/soak.sh (sourced, not run).

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

# Each program's sources compile in batches, each batch as one unit (CMake's unity build): the
# headers they share, Qt's and the standard library's most of all, are parsed once per batch
# instead of once per source, which on two cores saves a large part of each build. A name in an
# anonymous namespace is therefore distinct across the sources of its program.
unity=(-DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=8)

# The main build: optimised, with line tables only (-g1): the tests' reports keep file and line,
# and the build takes a quarter less time than with full debug information.
configure_main() {
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" "${unity[@]}"
}

# Unoptimised, with line tables only: the sanitizers' reports keep their file and line, and the
# two instrumented builds compile in far less time (the tests run a little slower). They need no
# window.
configure_sanitizer() {
  cmake -S . -B "build-$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZO_SANITIZE="$1" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O0 -g1 -DNDEBUG" -DZO_BUILD_UI=OFF -DZO_BUILD_BENCH=OFF \
    "${unity[@]}"
}

# The tests of a sanitizer build. Findings stop the test that made them and fail it; the
# suppression files name only findings inside the C and C++ libraries, each with its reason. The
# fault scenarios repeat 1000 times in the main build; a tenth of that keeps the slower sanitizer
# builds within CI's time.
run_sanitizer_tests() {
  local dir=$1
  shift
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp" \
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp" \
    ZO_FAULT_REPETITIONS=100 \
    run_tests "$dir" "$@"
}
