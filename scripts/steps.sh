# Step times for the CI scripts (sourced, not run). Each step of a run is timed and written to
# one record, and the table printed at the end shows where the time went, steps that overlapped
# included:
#
#   step NAME COMMAND...          runs COMMAND and records it under NAME; its status is returned
#   step_start NAME LOG COMMAND...  the same in the background, its output into LOG; sets
#                                 STEP_PID (give it to step_finish)
#   step_finish PID LOG NAME      waits for a background step, shows its output and ends the
#                                 script if it failed
#   steps_summary                 the table: each step's start and length (seconds since the
#                                 record began), its status, and the whole run's length
#
#   steps_exit                    for the script's EXIT trap: the table, by the script that
#                                 began the record
#
# The record is the file ZO_STEP_RECORD names; the first script that sources this file without
# one begins a fresh record, and its steps_exit prints the table and removes it. Scripts it runs
# (the variable is exported) add their steps to the same record, so `.ci/run` shows the steps of
# scripts/test.sh beside its own.

zo_step_owner=no
if [ -z "${ZO_STEP_RECORD:-}" ]; then
  ZO_STEP_RECORD=$(mktemp "${TMPDIR:-/tmp}/zo-steps-XXXXXX")
  ZO_STEP_ORIGIN=$(date +%s.%N)
  export ZO_STEP_RECORD ZO_STEP_ORIGIN
  zo_step_owner=yes
fi

zo_step_now() {
  awk -v now="$(date +%s.%N)" -v origin="$ZO_STEP_ORIGIN" 'BEGIN { printf "%.0f", now - origin }'
}

zo_step_record() {  # name start status
  local end
  end=$(zo_step_now)
  printf '%s\t%s\t%s\t%s\n' "$2" "$((end - $2))" "$3" "$1" >>"$ZO_STEP_RECORD"
}

step() {
  local name=$1 start status=0
  shift
  start=$(zo_step_now)
  "$@" || status=$?
  zo_step_record "$name" "$start" "$status"
  return "$status"
}

step_start() {
  local name=$1 log=$2
  shift 2
  (
    start=$(zo_step_now)
    status=0
    "$@" >"$log" 2>&1 || status=$?
    zo_step_record "$name" "$start" "$status"
    exit "$status"
  ) &
  STEP_PID=$!
}

step_finish() {
  local pid=$1 log=$2 name=$3 status=0
  wait "$pid" || status=$?
  cat "$log"
  [ "$status" -eq 0 ] || { echo "$name failed (status $status)"; exit 1; }
}

steps_summary() {
  [ -s "$ZO_STEP_RECORD" ] || return 0
  local total
  total=$(zo_step_now)
  echo
  echo "Step times (seconds; steps that ran beside others overlap):"
  printf '  %6s %6s  %-6s %s\n' start length status step
  sort -n -k1,1 "$ZO_STEP_RECORD" | while IFS=$'\t' read -r start length status name; do
    printf '  %6s %6s  %-6s %s\n' "$start" "$length" "$([ "$status" = 0 ] && echo ok || echo "$status")" "$name"
  done
  printf '  %6s %6s  %-6s %s\n' 0 "$total" "" "the whole run"
}

steps_exit() {
  [ "$zo_step_owner" = yes ] || return 0
  steps_summary
  rm -f "$ZO_STEP_RECORD"
}
