#!/usr/bin/env bash
# Runs the exchange suite many times in a row (50 by default) in one process and fails unless
# every run passes and every exchange took the same virtual time in every run: on the virtual
# clock an exchange's duration depends on nothing but the protocol.
# Usage: RepeatExchange.sh <exchange_test binary> [runs]
set -uo pipefail
binary=$1
runs=${2:-50}
if ! out=$("$binary" --gtest_repeat="$runs" 2>&1); then
  printf '%s\n' "$out" | grep -E 'Failure|FAILED|Which is|virtual' | head -60
  exit 1
fi
# One line per exchange and figure: "<count> <exchange> virtual <ms> ...". An exchange whose time
# varied shows up on two lines, each counted fewer than $runs times.
figures=$(printf '%s\n' "$out" | grep ' virtual ' | sort | uniq -c)
printf '%s\n' "$figures"
[ -n "$figures" ] || { echo "no figures"; exit 1; }
varied=$(printf '%s\n' "$figures" | awk -v runs="$runs" '$1 != runs')
if [ -n "$varied" ]; then
  echo "figures that differed between runs:"
  printf '%s\n' "$varied"
  exit 1
fi
echo "$runs runs, identical figures"
