#!/bin/sh
# Builds the packages (scripts/package.sh) and tests them as users get them:
# lintian, the AppStream and desktop entry validators and the contents of each
# package, then the .deb installed and removed in a fresh Debian 12 root
# (packaging/tests/deb_install_test.sh) and the Windows installer run and
# undone under Wine (packaging/tests/win64_installer_test.sh).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/package.sh"
dist=$root/dist
version=$(sed -n 's/^project(Orvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
deb=$dist/orvane_${version}-1_amd64.deb
setup=$dist/orvane-${version}-win64-setup.exe
zip=$dist/orvane-${version}-win64.zip
fail() {
  echo "test-packages: $*" >&2
  exit 1
}
for package in "$deb" "$setup" "$zip"; do
  [ -f "$package" ] || fail "$package was not made"
done

echo "== Lint: lintian, appstreamcli, desktop-file-validate"
lintian --fail-on error,warning --display-info "$deb"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/deb"
appstreamcli validate --no-net "$scratch"/deb/usr/share/metainfo/*.metainfo.xml
desktop-file-validate "$scratch/deb/usr/share/applications/orvane.desktop"
[ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "the package's version is not $version-1"

echo "== Windows packages: 64-bit installer, zip contents, version block"
file -b "$setup" | grep -q '^PE32+ executable (GUI) x86-64' || fail "the installer is not a 64-bit program"
python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' \
  "$zip" >"$scratch/zip"
printf "orvane-$version-win64/%s\n" LICENSE.txt Orvane.exe README.txt orvane-convert.exe |
  diff - "$scratch/zip" || fail "the zip holds other files than the list above"
for program in Orvane.exe orvane-convert.exe; do
  python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' \
    "$zip" "orvane-$version-win64/$program" >"$scratch/$program"
  strings -el "$scratch/$program" >"$scratch/strings"
  ! grep -q TODO "$scratch/strings" || fail "$program's version block holds placeholders"
  for text in "Copyright (c) [0-9]* Orvane" "$version" "$program"; do
    grep -qx "$text" "$scratch/strings" || fail "$program's version block lacks \"$text\""
  done
done

echo "== The .deb in a fresh Debian 12 root"
"$root/packaging/tests/deb_install_test.sh" "$deb" "$root/build-package/apt-cache"

echo "== The Windows installer under Wine"
"$root/packaging/tests/win64_installer_test.sh" "$setup"
