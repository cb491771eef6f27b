#!/usr/bin/env bash
# Checks the Debian package made from an existing build folder (default build/): it builds,
# lintian finds no errors, the desktop entry and the AppStream metadata validate, and the
# programs unpacked from it run and find their VERSION.DAT. Called by scripts/test.sh.
#
# Lintian's warnings are listed and none is expected. Its notes (I:) that remain, on purpose:
# - spelling-error-in-binary "Transparant", "occured", "succesfully": texts the adapters and the
#   device documentation use word for word (the DL2 mode name and messages of the window), kept
#   as the technician knows them;
# - hardening-no-bindnow, hardening-no-fortify-functions: only for a package made from the test
#   build; scripts/package.sh builds with dpkg-buildflags (hardening=+all), which add both;
# - binary-has-unneeded-section .comment: the compiler's version note, harmless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh lintian appstream desktop-file-utils dpkg-dev fakeroot file
build=${1:-build}

scripts/package.sh "$build"
deb=$(ls "$build"/zoconfigure_*.deb)

echo "== lintian"
status=0
lintian --tag-display-limit 0 --fail-on error "$deb" >"$build/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$build/lintian.log" || true
[ "$status" -eq 0 ] || { echo "lintian found errors"; exit 1; }

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"

echo "== desktop-file-validate, appstreamcli validate"
desktop-file-validate "$unpacked"/usr/share/applications/zoconfigure.desktop
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml

echo "== the unpacked programs"
for f in usr/bin/zoconfigure usr/bin/zocfg usr/bin/zo-sim usr/lib/zoconfigure/VERSION.DAT \
  usr/share/man/man1/zocfg.1.gz usr/share/man/man1/zo-sim.1.gz \
  usr/share/man/man1/zoconfigure.1.gz usr/share/bash-completion/completions/zocfg \
  usr/share/icons/hicolor/scalable/apps/zoconfigure.svg \
  usr/share/icons/hicolor/48x48/apps/zoconfigure.png usr/share/doc/zoconfigure/copyright; do
  [ -e "$unpacked/$f" ] || { echo "missing from the package: /$f"; exit 1; }
done
"$unpacked"/usr/bin/zocfg --help >/dev/null
"$unpacked"/usr/bin/zocfg versions | grep -q '^1711104 '
"$unpacked"/usr/bin/zo-sim --help >/dev/null
bash -n "$unpacked"/usr/share/bash-completion/completions/zocfg
echo "The package checks passed: $(basename "$deb")"
