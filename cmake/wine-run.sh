#!/bin/sh
# Runs a Windows program under Wine with the prefix given first: wine-run.sh PREFIX PROGRAM ARGS...
# The prefix is made on first use (once, also when several programs start together; it is whole
# once the Wine server has ended and saved its registry). Wine's own messages are silenced; the
# program's are not.
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The runtime libraries of the posix variant of mingw-w64 (libstdc++, libgcc, libwinpthread).
for runtime in /usr/lib/gcc/x86_64-w64-mingw32/*-posix; do :; done
export WINEPATH="$runtime;/usr/x86_64-w64-mingw32/lib"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  flock "$prefix" sh -c '[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i && wineserver -w; }' >/dev/null 2>&1 </dev/null
fi
exec wine "$@"
