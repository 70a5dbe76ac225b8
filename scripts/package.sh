#!/bin/sh
# Builds Orvane in Release and packs it with CPack into dist/:
#   orvane_VERSION-1_amd64.deb        the Debian package (both programs)
#   orvane-VERSION-win64-setup.exe    the Windows installer
#   orvane-VERSION-win64.zip          the Windows programs for portable use
# The Linux build uses Debian's hardening flags (dpkg-buildflags) in
# build-package/deb/; the Windows build is cross-built with mingw-w64 in
# build-package/win64/. Installs what it needs with apt-get.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"
cd "$root"
deb_build=$root/build-package/deb
win_build=$root/build-package/win64
dist=$root/dist

echo "== Debian package"
# CMake reads CXXFLAGS and LDFLAGS but not CPPFLAGS (_FORTIFY_SOURCE), so the
# preprocessor's flags go in with the compiler's.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$root" -B "$deb_build" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
  -DORVANE_BUILD_QT=ON -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build "$deb_build" -j"$jobs"
(cd "$deb_build" && cpack -G DEB)

echo "== Windows installer and zip"
cmake -S "$root" -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF
cmake --build "$win_build" -j"$jobs"
(cd "$win_build" && cpack -G "NSIS;ZIP")

rm -rf "$dist"
mkdir -p "$dist"
cp "$deb_build"/packages/*.deb "$win_build"/packages/*.exe "$win_build"/packages/*.zip "$dist/"
echo "== Packages in $dist"
ls -l "$dist"
