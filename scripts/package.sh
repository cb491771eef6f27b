#!/usr/bin/env bash
# Builds the Debian package zoconfigure_<version>_amd64.deb in the repository's top folder, from
# a clean build in build-package/ with Debian's hardening flags. Installs the Debian packages it
# needs when they are missing (as root, or through sudo).
#
#   scripts/package.sh              a clean build, then the package
#   scripts/package.sh BUILD_DIR    the package from an existing build folder (the test script
#                                   uses its own build, so the package is checked without a
#                                   second compilation)
#
# Then: sudo apt install ./zoconfigure_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh cmake ninja-build g++ libcli11-dev nlohmann-json3-dev qt6-base-dev qt6-charts-dev \
  dpkg-dev fakeroot file
jobs=$(nproc 2>/dev/null || echo 2)

build=${1:-}
if [ -z "$build" ]; then
  build=build-package
  rm -rf "$build"
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZO_BUILD_TESTS=OFF \
      -DZO_BUILD_BENCH=OFF
  cmake --build "$build" -j "$jobs"
else
  cmake --build "$build" -j "$jobs" --target zoconfigure zocfg zo-sim zo_package_docs
fi

# A package without the window would install a menu entry that starts nothing.
[ -x "$build/bin/zoconfigure" ] || { echo "The window was not built (Qt 6 Widgets and Charts)"; exit 1; }
rm -f "$build"/zoconfigure_*.deb
(cd "$build" && cpack -G DEB >cpack.log) || { cat "$build/cpack.log"; exit 1; }
deb=$(ls "$build"/zoconfigure_*.deb)
cp "$deb" .
echo "Built $(basename "$deb"): sudo apt install ./$(basename "$deb")"
