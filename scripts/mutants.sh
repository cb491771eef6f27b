#!/usr/bin/env bash
# Planted faults: applies each change of a list, one at a time, to a scratch copy of the sources,
# rebuilds only the test program that must catch it, runs that program and prints per change
# whether the tests caught it. A tool to run by hand, not part of CI.
#
# Usage: scripts/mutants.sh [list file, default scripts/mutants.list] [pattern]
#   Only the changes whose line contains `pattern` (a grep -E expression) run when it is given.
#
# The list holds one change per line, four fields separated by " | " (so a sed expression uses
# another delimiter than '|'); empty lines and lines starting with '#' are skipped:
#   file | sed expression | test program [gtest filter, or arguments starting with '-'] | what
# for example
#   drivers/DL1Drv.cpp | s/DL1SendPauseMs)/DL1SendPauseMs - 10)/ | dl1_driver_test | shorter pause
# A change whose expression alters nothing in its file is reported as "not applied" (the code it
# was written for has moved): mend the line.
#
# The scratch copy lives in build-mutants/ (MUTANTS_DIR overrides): the sources in
# build-mutants/src, its build in build-mutants/src/build, compiled through the shared compiler
# cache with the same relative paths and flags as the main build, so that its first build mostly
# hits the cache and each change rebuilds one file and relinks one program. MUTANT_TIMEOUT
# (seconds, 300) bounds each test run; a run that exceeds it counts as caught (the change made the
# tests hang).
# What each change's test run printed is kept in build-mutants/logs/<n>.log (n counts the changes
# run), so that a catch can be read for its reason. Exit status 0 only when every change was
# applied and caught.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
list=${1:-scripts/mutants.list}
pattern=${2:-}
scratch=${MUTANTS_DIR:-$repo/build-mutants}
src=$scratch/src
timeout_s=${MUTANT_TIMEOUT:-300}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$repo")} CCACHE_NOHASHDIR=1
# The precompiled headers are cached only when ccache may trust their defines and time macros.
export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

mkdir -p "$src"
rm -rf "$scratch/logs"
mkdir -p "$scratch/logs"
# The sources as they are now (time stamps kept, so that unchanged files are not rebuilt).
tar -C "$repo" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$src" -xf -
cmake -S "$src" -B "$src/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DZO_BUILD_UI=OFF -DZO_BUILD_BENCH=OFF \
  "${launcher[@]}" >"$scratch/configure.log"

trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$1"; }

caught=0 survived=0 broken=0 total=0
while IFS= read -r line || [ -n "$line" ]; do
  [[ -z "${line// /}" || "$line" =~ ^[[:space:]]*# ]] && continue
  [ -n "$pattern" ] && ! grep -qE -- "$pattern" <<<"$line" && continue
  IFS='|' read -r file expr test what <<<"${line// | /|}"
  file=$(trim "$file") expr=$(trim "$expr") test=$(trim "$test") what=$(trim "$what")
  total=$((total + 1))
  # The program, then a gtest filter unless the word starts with '-', then its other arguments.
  read -r -a run_args <<<"$test"
  binary=${run_args[0]}
  run_args=("${run_args[@]:1}")
  if [ ${#run_args[@]} -gt 0 ] && [[ "${run_args[0]}" != -* ]]; then
    run_args[0]=--gtest_filter=${run_args[0]}
  fi
  result=""
  log=$scratch/logs/$total.log
  if ! sed -e "$expr" "$repo/$file" >"$src/$file.mutant" 2>"$scratch/sed.log"; then
    result="not applied (sed: $(head -1 "$scratch/sed.log"))"
  elif cmp -s "$repo/$file" "$src/$file.mutant"; then
    result="not applied (nothing matched)"
  fi
  if [ -z "$result" ]; then
    mv "$src/$file.mutant" "$src/$file"
    if ! cmake --build "$src/build" --target "$binary" >"$scratch/build.log" 2>&1; then
      result="build failed (see $scratch/build.log)"
    else
      set +e
      (cd "$src/build" && timeout "$timeout_s" "bin/$binary" "${run_args[@]}" >"$log" 2>&1)
      status=$?
      set -e
      if [ "$status" -eq 0 ]; then
        result=survived
      elif [ "$status" -eq 124 ]; then
        result="caught (time-out)"
      else
        result=caught
      fi
    fi
  fi
  cp "$repo/$file" "$src/$file"  # a new time stamp: the next build compiles it back
  rm -f "$src/$file.mutant"
  case "$result" in
    caught*) caught=$((caught + 1)) ;;
    survived) survived=$((survived + 1)) ;;
    *) broken=$((broken + 1)) ;;
  esac
  printf '%-20s %-28s %s (%s)\n' "$result" "$file" "$what" "logs/$total.log"
done <"$list"

printf '\n%d changes: %d caught, %d survived, %d not run (not applied or not built)\n' \
  "$total" "$caught" "$survived" "$broken"
[ "$caught" -eq "$total" ]
