#!/bin/sh
# Builds Orvane in Release and packs it with CPack into dist/:
#   orvane_VERSION-1_amd64.deb          the Debian package (both programs)
#   python3-orvane_VERSION-1_amd64.deb  the Debian package of the Python module
#   orvane-VERSION-win64-setup.exe      the Windows installer
#   orvane-VERSION-win64.zip            the Windows programs for portable use
# The Linux builds use Debian's hardening flags (dpkg-buildflags): the
# programs in build-package/deb/, the Python module in build-package/python/
# (its libraries are built as position-independent code, the programs' are
# not). The Windows build is cross-built with mingw-w64 in
# build-package/win64/. Installs what it needs with apt-get.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"
cd "$root"
deb_build=$root/build-package/deb
python_build=$root/build-package/python
win_build=$root/build-package/win64
dist=$root/dist

echo "== Debian packages"
# CMake reads CXXFLAGS and LDFLAGS but not CPPFLAGS (_FORTIFY_SOURCE), so the
# preprocessor's flags go in with the compiler's.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$root" -B "$deb_build" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
  -DORVANE_BUILD_QT=ON -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build "$deb_build" -j"$jobs"
(cd "$deb_build" && cpack -G DEB)
# The module is built for Debian's python3, whatever other python3 comes first
# in PATH, and linked with the module linker flags. Only its install component
# is packed here; the programs come from the build above.
cmake -S "$root" -B "$python_build" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
  -DORVANE_BUILD_QT=OFF -DORVANE_BUILD_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3 \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags"
cmake --build "$python_build" -j"$jobs"
(cd "$python_build" && cpack -G DEB -D CPACK_COMPONENTS_ALL=python)

echo "== Windows installer and zip"
cmake -S "$root" -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF
cmake --build "$win_build" -j"$jobs"
(cd "$win_build" && cpack -G "NSIS;ZIP")

rm -rf "$dist"
mkdir -p "$dist"
cp "$deb_build"/packages/*.deb "$python_build"/packages/python3-orvane_*.deb "$win_build"/packages/*.exe \
  "$win_build"/packages/*.zip "$dist/"
echo "== Packages in $dist"
ls -l "$dist"
