#!/usr/bin/env bash
# Runs the whole suite, the main build's tests and the address build's, N times (default 3) while
# stress-ng keeps every core busy at normal priority, and prints each test that failed and how
# often. A test that only load can fail is a fault of the test: this is the place to see it.
# Run it after changing a test that runs on the real clock (the end-to-end tests, the driver and
# bus thread tests on the real line, the window's tests), a time-out, or how the tests are run.
# Builds what is missing as scripts/test.sh does; exit status 0 only when no test failed.
#
# Usage: scripts/soak.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/suite.sh
runs=${1:-3}
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: scripts/soak.sh [N]" >&2; exit 2; }

scripts/deps.sh stress-ng "${build_packages[@]}" "${window_packages[@]}"
configure_main build
cmake --build build -j "$jobs"
configure_sanitizer address
cmake --build build-address -j "$jobs"

# Every core busy at normal priority, as a developer's machine or a CI runner is while it builds
# something else; stopped with the script.
stress-ng --cpu "$jobs" --quiet &
stress=$!
trap 'kill "$stress" 2>/dev/null || true' EXIT

failures=$(mktemp)
for ((run = 1; run <= runs; run++)); do
  for dir in build build-address; do
    echo "== run $run of $runs: $dir"
    status=0
    if [ "$dir" = build ]; then
      run_tests build >"$dir/soak.log" 2>&1 || status=$?
    else
      run_sanitizer_tests build-address >"$dir/soak.log" 2>&1 || status=$?
    fi
    tail -n 3 "$dir/soak.log"
    if [ "$status" -ne 0 ]; then
      # Keeps the whole output of a failed run for reading.
      cp "$dir/soak.log" "$dir/soak-failed-$run.log"
      sed -n "s/^[0-9]*:/$dir: /p" "$dir/Testing/Temporary/LastTestsFailed.log" >>"$failures"
    fi
  done
done

echo
if [ -s "$failures" ]; then
  echo "Failed under load ($runs runs; the output in <build>/soak-failed-<run>.log):"
  sort "$failures" | uniq -c | sort -rn
  rm -f "$failures"
  exit 1
fi
rm -f "$failures"
echo "No test failed in $runs runs under load."
