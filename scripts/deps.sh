#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when some are missing.
# Usage: scripts/deps.sh [--no-install-recommends] package...
set -euo pipefail
options=()
if [ "${1:-}" = "--no-install-recommends" ]; then
  options+=("$1")
  shift
fi
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${options[@]}" "${missing[@]}"
