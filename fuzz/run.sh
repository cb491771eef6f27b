#!/usr/bin/env bash
# Builds the fuzz targets (clang's libFuzzer with the address and undefined-behaviour sanitizers)
# in build-fuzz/, writes their seed corpora and dictionaries, runs every target for the given
# time and prints, per target, the executions and the crashes found.
#
# Usage: fuzz/run.sh [seconds per target, default 60] [target ...]
# JOBS=2 runs two targets at a time (default 1). Each target's corpus grows in
# build-fuzz/corpus/<target>/; the crashes, time-outs and out-of-memory inputs of the last run
# are kept in build-fuzz/artifacts/<target>/ (reproduce one with build-fuzz/fuzz/<target> <file>).
# Every run starts from the corpus kept in the repository (fuzz/corpus/<target>/) as well; KEEP=1
# merges into it what the run found that reaches code the kept inputs do not.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh cmake ninja-build clang libcli11-dev nlohmann-json3-dev
seconds=${1:-60}
shift || true
jobs=${JOBS:-1}
out=build-fuzz

cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DZO_FUZZ=ON -DZO_BUILD_TESTS=OFF -DZO_BUILD_BENCH=OFF -DZO_BUILD_UI=OFF >/dev/null
cmake --build "$out" -j "$(nproc 2>/dev/null || echo 2)"
"$out/fuzz/fuzz_seeds" "$out" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_dl2_receive fuzz_dl2_steps fuzz_receive_dl2_frame fuzz_dl1_receive fuzz_dl1_steps
           fuzz_bootblock fuzz_bootblock_steps fuzz_load_firmware fuzz_version_file
           fuzz_settings_file fuzz_definition fuzz_next_token fuzz_typed_number
           fuzz_settings_text fuzz_trace_decode)
fi

run_one() {
  local t=$1
  local corpus="$out/corpus/$t" artifacts="$out/artifacts/$t/" kept="fuzz/corpus/$t" dict=()
  # The artifacts of the previous run go: what is there afterwards is what this run found.
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts" "$kept"
  [ -f "$out/$t.dict" ] && dict=(-dict="$out/$t.dict")
  # Leaks are reported by the address sanitizer at the end of a crash-free run as well.
  "$out/fuzz/$t" "$corpus" "$kept" "${dict[@]}" -max_total_time="$seconds" -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" \
    >"$out/$t.log" 2>&1 || true
  if [ "${KEEP:-0}" = 1 ]; then
    "$out/fuzz/$t" -merge=1 "$kept" "$corpus" "${dict[@]}" -timeout=20 -rss_limit_mb=2048 \
      >"$out/$t.merge.log" 2>&1 || true
  fi
}

running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

printf '%-24s %14s %8s %8s\n' target executions crashes corpus
total_crashes=0
for t in "${targets[@]}"; do
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$out/$t.log" | tail -1 | awk '{print $2}')
  crashes=$(find "$out/artifacts/$t" -type f \( -name 'crash-*' -o -name 'timeout-*' \
    -o -name 'oom-*' -o -name 'leak-*' \) | wc -l)
  size=$(find "$out/corpus/$t" -type f | wc -l)
  printf '%-24s %14s %8s %8s\n' "$t" "${execs:-?}" "$crashes" "$size"
  total_crashes=$((total_crashes + crashes))
done
[ "$total_crashes" -eq 0 ]
