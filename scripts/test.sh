#!/usr/bin/env bash
# Builds ZO configure and runs every test. Installs the Debian packages it needs when they are
# missing (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh cmake ninja-build g++ libgtest-dev libgmock-dev qt6-base-dev fonts-dejavu-core
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
cd build
ctest -j "$((jobs * 2))" --output-on-failure --timeout 300
