#!/usr/bin/env bash
# Builds the Debian package of the service from scratch in build-package/
# (Release, no tests, Debian's hardening flags) and prints the .deb's path.
# PACKAGE_BUILD_DIR overrides the folder.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh >&2
build="${PACKAGE_BUILD_DIR:-build-package}"

# A fresh folder, so nothing configured or built earlier can reach the package.
rm -rf "$build"
# The flags Debian's own packages are built with, so the binary carries the
# same hardening (stack protector, fortified calls, read-only relocations
# bound at start).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CPPFLAGS="$(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
# Only what the package holds is built; cpack would otherwise build every
# target (benchmarks, tools) first, one at a time.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCOMTRADE_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >&2
cmake --build "$build" -j 2 --target comtrade_service comtrade_package_docs >&2
(cd "$build" && cpack -G DEB >&2)

deb=("$build"/comtrade-service_*.deb)
if [ ! -f "${deb[0]}" ]; then
  echo "package.sh: cpack made no .deb in $build" >&2
  exit 1
fi
echo "$(cd "$(dirname "${deb[0]}")" && pwd)/$(basename "${deb[0]}")"
