#!/bin/sh
# Builds the packages (scripts/package.sh) and tests them as users get them:
# lintian, the AppStream and desktop entry validators and the contents of each
# package, then the two .deb packages installed, used and removed in a fresh
# Debian 12 root (packaging/tests/deb_install_test.sh) and the Windows
# installer run and undone under Wine (packaging/tests/win64_installer_test.sh).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/package.sh"
dist=$root/dist
version=$(sed -n 's/^project(Orvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
deb=$dist/orvane_${version}-1_amd64.deb
python_deb=$dist/python3-orvane_${version}-1_amd64.deb
setup=$dist/orvane-${version}-win64-setup.exe
zip=$dist/orvane-${version}-win64.zip
fail() {
  echo "test-packages: $*" >&2
  exit 1
}
for package in "$deb" "$python_deb" "$setup" "$zip"; do
  [ -f "$package" ] || fail "$package was not made"
done

echo "== Lint: lintian, appstreamcli, desktop-file-validate"
lintian --fail-on error,warning --display-info "$deb" "$python_deb"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/deb"
appstreamcli validate --no-net "$scratch"/deb/usr/share/metainfo/*.metainfo.xml
desktop-file-validate "$scratch/deb/usr/share/applications/orvane.desktop"
for package in "$deb" "$python_deb"; do
  [ "$(dpkg-deb -f "$package" Version)" = "$version-1" ] ||
    fail "$(basename "$package")'s version is not $version-1"
done

echo "== python3-orvane: files, the module's name, control fields"
# The extension module must bear the suffix that Debian's python3 imports, and
# the package must depend on that python3 version alone.
suffix=$(/usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
python=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
python_next=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % (sys.version_info[0], sys.version_info[1] + 1))')
dpkg-deb -c "$python_deb" | awk '!/^d/ { print $6 }' | sort >"$scratch/python_deb"
module=./usr/lib/python3/dist-packages/orvane
printf '%s\n' "$module/__init__.py" "$module/__init__.pyi" "$module/_orvane$suffix" "$module/dask.py" \
  "$module/dask.pyi" "$module/py.typed" ./usr/share/doc/python3-orvane/changelog.Debian.gz \
  ./usr/share/doc/python3-orvane/copyright ./usr/share/lintian/overrides/python3-orvane | sort |
  diff - "$scratch/python_deb" || fail "python3-orvane holds other files than the list above"
for field in "Section: python" "Suggests: python3-distributed"; do
  [ "$(dpkg-deb -f "$python_deb" "${field%%: *}")" = "${field#*: }" ] || fail "python3-orvane lacks \"$field\""
done
depends=$(dpkg-deb -f "$python_deb" Depends)
case $depends in
  "python3 (>= $python), python3 (<< $python_next), "*libstdc++6*) ;;
  *) fail "python3-orvane depends on \"$depends\", not on python3 $python and the module's libraries" ;;
esac

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

echo "== The .deb packages in a fresh Debian 12 root"
"$root/packaging/tests/deb_install_test.sh" "$deb" "$python_deb" "$root/build-package/apt-cache"

echo "== The Windows installer under Wine"
"$root/packaging/tests/win64_installer_test.sh" "$setup"
