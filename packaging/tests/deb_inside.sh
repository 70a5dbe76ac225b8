#!/bin/sh
# The part of deb_install_test.sh that runs inside the fresh Debian root.
# Usage: deb_inside.sh STAGE_DIR (the package, examples/ and golden/)
set -eu
cd "$1"
# Without the recommended packages: what the program needs must be in Depends.
fail() {
  echo "deb_install_test: $*" >&2
  exit 1
}

DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "./$(ls orvane_*.deb)" >apt.log 2>&1 ||
  { cat apt.log; fail "apt-get install failed"; }
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' orvane)"

for file in /usr/bin/orvane /usr/bin/orvane-convert /usr/share/applications/orvane.desktop \
  /usr/share/icons/hicolor/48x48/apps/orvane.png /usr/share/icons/hicolor/scalable/apps/orvane.svg \
  /usr/share/man/man1/orvane.1.gz /usr/share/man/man1/orvane-convert.1.gz \
  /usr/share/doc/orvane/copyright /usr/share/doc/orvane/changelog.Debian.gz; do
  [ -f "$file" ] || fail "$file is missing"
done
ls /usr/share/metainfo/*.metainfo.xml >/dev/null || fail "no AppStream metainfo"

captions=examples/safety__2024/media/captions
orvane-convert "$captions" >convert.out || fail "orvane-convert failed: $(cat convert.out)"
grep -qx "Files converted to folder: $PWD/$captions" convert.out || fail "unexpected output: $(cat convert.out)"
for golden in golden/*.txt; do
  cmp "$golden" "$captions/$(basename "$golden")" || fail "$(basename "$golden") differs from tests/golden"
done
orvane-convert --version | grep -qx "orvane-convert [0-9.]*" || fail "orvane-convert --version"

# The dialog runs until closed: the program must still be running after a few
# seconds, and Qt must not have complained (a missing platform plugin, say).
status=0
mkdir -m 700 runtime
XDG_RUNTIME_DIR=$PWD/runtime QT_QPA_PLATFORM=offscreen timeout 5 orvane >orvane.log 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "orvane ended with status $status: $(cat orvane.log)"
[ ! -s orvane.log ] || fail "orvane wrote: $(cat orvane.log)"

dpkg -L orvane >files
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q orvane >apt.log 2>&1 ||
  { cat apt.log; fail "apt-get remove failed"; }
state=$(dpkg-query -W -f='${db:Status-Status}' orvane 2>/dev/null || true)
case $state in
  "" | not-installed) ;;
  *) fail "orvane is still $state after apt-get remove" ;;
esac
# What remains of the package's list may only be folders that other packages
# share (/usr/share/man, ...): no file, and no empty folder of its own.
while read -r path; do
  [ -e "$path" ] || continue
  [ -d "$path" ] || fail "$path was left behind"
  [ -n "$(ls -A "$path")" ] || dpkg -S "$path" >/dev/null 2>&1 || fail "empty folder $path was left behind"
done <files
leftovers=$(find / -xdev -path "$PWD" -prune -o -iname '*orvane*' -print)
[ -z "$leftovers" ] || fail "left behind: $leftovers"
echo "deb_install_test: passed"
