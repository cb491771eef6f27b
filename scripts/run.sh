#!/usr/bin/env bash
# Builds ZO configure and starts it. Installs the Debian packages it needs when they are missing
# (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh cmake ninja-build g++ libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev \
  qt6-base-dev qt6-charts-dev fonts-dejavu-core
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
if [ -x build/bin/zoconfigure ]; then
  exec build/bin/zoconfigure --simulate "$@"
elif [ -x build/bin/zocfg ]; then
  exec build/bin/zocfg "${@:-versions}"
else
  echo "Built the core library and its tests; the programs come with later work."
fi
