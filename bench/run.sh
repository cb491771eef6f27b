#!/usr/bin/env bash
# Builds every benchmark and runs it; prints the one table of bench_table (operation, measured,
# floor, ratio against the protocol's floor, target) after the details of the others (bench_dl1,
# bench_dl2, bench_reprogram). bench_table runs bench_window (the window's start-up) and
# bench_live_chart (the live chart with a day of values) itself.
# Usage: bench/run.sh [seconds of polling for the CPU figure, default 20]
# Run it on an otherwise idle machine: the figures are real time.
set -euo pipefail
cd "$(dirname "$0")/.."
# The window's start-up figure needs the window, and so Qt, as scripts/run.sh builds it.
scripts/deps.sh cmake ninja-build g++ libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev \
  qt6-base-dev qt6-charts-dev fonts-dejavu-core
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
for bench in build/bin/bench_*; do
  case "$(basename "$bench")" in bench_table | bench_window | bench_live_chart) continue ;; esac
  echo "== $(basename "$bench")"
  "$bench"
done
echo
echo "== bench_table"
build/bin/bench_table "${1:-20}"
