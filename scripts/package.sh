#!/usr/bin/env bash
# Builds the Debian package (vantorel_VERSION_ARCH.deb, left in the project root) with CPack,
# in its own build directory (build-package/, or $PACKAGE_BUILD_DIR) with Debian's build and
# hardening flags, then shows its control data and contents and checks it: lintian (no error
# allowed), desktop-file-validate on the menu entry, appstreamcli on the metainfo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" dpkg-dev file lintian appstream
build=${PACKAGE_BUILD_DIR:-$root/build-package}

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Only what the package holds: the tests and benchmarks are not built here.
cmake --build "$build" --target installed-programs -j "$(nproc)"
rm -f "$build"/vantorel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vantorel_*.deb)
rm -f "$root"/vantorel_*.deb
mv "$deb" "$root/"
deb=$root/${deb##*/}

dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/vantorel.desktop"
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml
echo "lintian:"
lintian --fail-on error --info "$deb"
echo "Package: $deb"
