#!/bin/sh
# Runs a Windows program under Wine with the prefix given first: wine-run.sh PREFIX PROGRAM ARGS...
# The prefix is made on first use (once, also when several programs start together). Wine's own
# messages are silenced; the program's are not.
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  flock "$prefix" sh -c '[ -f "$WINEPREFIX/system.reg" ] || wineboot -i' >/dev/null 2>&1 </dev/null
fi
exec wine "$@"
