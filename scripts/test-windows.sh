#!/usr/bin/env bash
# Builds zocfg for Windows with mingw-w64 and proves it under Wine (build-windows/, its Wine
# prefix inside). Installs the cross compiler, Wine and NSIS when missing (as root, or through
# sudo). Steps:
#   1. cross-builds the core, zocfg.exe (linked statically) and the tests that do not need Linux;
#   2. runs those tests through Wine with ctest, leaving out the real-time tests (their list:
#      ZO_REAL_TIME_TESTS in tests/CMakeLists.txt), which Wine cannot keep in time;
#   3. runs zocfg.exe detect, read --out, write and monitor --count 3 under Wine against zo-sim
#      through a COM port of the prefix, and compares files and messages with the Linux zocfg's
#      (zo-sim and zocfg from build/, built there when missing);
#   4. makes zocfg-setup.exe, installs it silently under Wine, runs zocfg versions from the
#      installed folder and uninstalls it.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
jobs=$(nproc 2>/dev/null || echo 2)
build=build-windows
export WINEPREFIX=$PWD/$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

scripts/deps.sh cmake ninja-build g++ libcli11-dev nlohmann-json3-dev googletest
scripts/deps.sh --no-install-recommends g++-mingw-w64-x86-64-posix wine64 wine nsis

step() { echo "== $* ($((SECONDS - started)) s)"; }
# Nothing started here outlives the script: zo-sim, and the Wine server with its programs.
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

step "Linux zo-sim and zocfg (build/)"
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
fi
cmake --build build -j "$jobs" --target zo-sim zocfg >/dev/null

step "Wine prefix"
# Made while the build compiles; the build's generators wait for it (cmake/wine-run.sh).
mkdir -p "$WINEPREFIX"
(flock "$WINEPREFIX" sh -c '[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i && wineserver -w; }' \
  >"$build/wineboot.log" 2>&1 </dev/null) &
prefix_made=$!

step "Windows build ($build)"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# -O1: it compiles in about 40 % less time than -O2, and the run under Wine waits on Wine.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" \
  -DZO_BUILD_UI=OFF -DZO_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
# wineboot's status says little (it reports a failure of a part the prefix does not need): the
# registry, which the Wine server saves when it ends, tells whether the prefix was made.
wait "$prefix_made" || true
[ -f "$WINEPREFIX/system.reg" ] || { cat "$build/wineboot.log"; echo "No Wine prefix"; exit 1; }
# A persistent Wine server: without it every program pays seconds for the server's start and
# end. Started here, outside ctest, with its output sent away (it would hold ctest's pipe).
# (A server still running from before serves as well.)
(wineserver -p 900; wine cmd /c exit) >/dev/null 2>&1 </dev/null || true
cmake --build "$build" -j "$jobs"

step "Tests under Wine"
echo "Left out (real-time, label real-time):"
(cd "$build" && ctest -N -L real-time | grep 'Test *#' || echo "  none")
# The fault scenarios and thread stress tests repeat 20 times instead of 1000: every repetition
# is thread hand-offs, which Wine makes slow.
(cd "$build" && ZO_FAULT_REPETITIONS=20 ctest -j "$jobs" -LE real-time --output-on-failure \
  --timeout 300)

step "zocfg.exe against zo-sim through COM9"
work=$build/e2e
rm -rf "$work"
mkdir -p "$work/windows" "$work/linux"
com=$WINEPREFIX/dosdevices/com9
rm -f "$com"
build/bin/zo-sim --link "$com" >"$work/zo-sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$com" ] && break; sleep 0.1; done
[ -e "$com" ] || { cat "$work/zo-sim.log"; echo "zo-sim did not start"; exit 1; }
zocfg_exe() { timeout 120 wine "$build/bin/zocfg.exe" "$@"; }
zocfg_linux() { timeout 120 build/bin/zocfg "$@"; }
# Windows writes its lines with CR LF and names the port its own way; each program writes its
# files into a folder of its own.
same_text() {
  local norm='s/COM9 ([^)]*)/PORT/; s#'"$com"'#PORT#; s#'"$work"'/\(windows\|linux\)/#FOLDER/#g'
  if ! diff <(tr -d '\r' <"$1" | sed "$norm") <(tr -d '\r' <"$2" | sed "$norm"); then
    echo "$1 and $2 differ"
    exit 1
  fi
}

zocfg_exe detect --port 9 >"$work/detect-windows.txt"
zocfg_linux detect --port "$com" >"$work/detect-linux.txt"
same_text "$work/detect-windows.txt" "$work/detect-linux.txt"
cat "$work/detect-windows.txt"

for side in windows linux; do
  if [ $side = windows ]; then run=zocfg_exe port=9; else run=zocfg_linux port=$com; fi
  $run read --port "$port" --out "$work/$side/read.zsf" --text "$work/$side/read.txt" \
    >"$work/read-$side.txt"
done
cmp "$work/windows/read.zsf" "$work/linux/read.zsf"
diff <(tr -d '\r' <"$work/windows/read.txt" | grep -v '^#') <(grep -v '^#' "$work/linux/read.txt")
same_text "$work/read-windows.txt" "$work/read-linux.txt"
echo "read: the same settings file, text and messages on both"

# A changed setting written by zocfg.exe is what the Linux zocfg then reads.
sed 's/^\(Absorption voltage = \)[0-9.]*/\128.60/' "$work/windows/read.txt" >"$work/changed.txt"
cmp -s "$work/windows/read.txt" "$work/changed.txt" && { echo "no absorption voltage to change"; exit 1; }
zocfg_exe write --port 9 "$work/changed.txt" >"$work/write-windows.txt"
cat "$work/write-windows.txt"
zocfg_linux read --port "$com" --text "$work/after.txt" >/dev/null
diff <(tr -d '\r' <"$work/changed.txt" | grep -v '^#') <(grep -v '^#' "$work/after.txt")
echo "write: the Linux zocfg reads back what zocfg.exe wrote"

zocfg_exe monitor --port 9 --count 3 >"$work/monitor-windows.txt"
cat "$work/monitor-windows.txt"
[ "$(tr -d '\r' <"$work/monitor-windows.txt" | grep -c .)" -ge 4 ] || { echo "monitor: too few lines"; exit 1; }
kill "$sim_pid"
sim_pid=""

step "Installer"
(cd "$build" && cpack -G NSIS >/dev/null)
ls -l "$build/zocfg-setup.exe"
target='C:\zocfg-installed'
installed=$WINEPREFIX/drive_c/zocfg-installed
timeout 120 wine "$build/zocfg-setup.exe" /S "/D=$target"
for f in zocfg.exe VERSION.DAT README.txt Uninstall.exe; do
  [ -f "$installed/$f" ] || { echo "installed: $f missing"; exit 1; }
done
timeout 60 wine "$target\\zocfg.exe" versions | head -3
timeout 120 wine "$target\\Uninstall.exe" /S
# The uninstaller runs on from a copy of itself: wait for the folder to go.
for _ in $(seq 100); do [ -e "$installed/zocfg.exe" ] || break; sleep 0.2; done
[ ! -e "$installed/zocfg.exe" ] || { echo "uninstall left zocfg.exe"; exit 1; }
echo "installed, ran and uninstalled"

step "Windows step done"
