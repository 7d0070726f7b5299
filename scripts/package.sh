#!/usr/bin/env bash
# Builds the Debian packages easel, easel-server and easel-tools into
# build-package/ (or BUILD_DIR): the programs alone, with Debian's hardening
# flags, installed below /usr by CPack, their dependencies worked out from the
# binaries by dpkg-shlibdeps. Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build_dir=${1:-$root/build-package}
cd "$root"

# The version grows with every commit, so that installing a newer build is
# an upgrade: 0.1.0+gitYYYYMMDD.HHMMSS.HASH (the commit's time, UTC).
version=0.1.0
if commit_time=$(git log -1 --format=%ct 2>/dev/null); then
  export SOURCE_DATE_EPOCH=$commit_time
  version+="+git$(date -u -d "@$commit_time" +%Y%m%d.%H%M%S).$(git rev-parse --short=8 HEAD)"
fi

# Debian's flags (fortified functions, stack protector, full RELRO, no source
# paths in the binaries) and NDEBUG, as in the tested builds; the project's
# own flags keep the arithmetic exact. Stripped as Debian strips.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS) -DNDEBUG"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS) -DNDEBUG"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DEASEL_BUILD_TESTS=OFF -DEASEL_BUILD_BENCH=OFF -DEASEL_PACKAGING=ON -DCMAKE_STRIP="$root/packaging/strip.sh" \
  -DEASEL_PACKAGE_VERSION="$version" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
rm -f "$build_dir"/*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
ls -l "$build_dir"/*.deb
