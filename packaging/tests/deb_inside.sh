#!/bin/sh
# The part of deb_install_test.sh that runs inside the fresh Debian root:
# orvane installed, used and removed, then python3-orvane alike.
# Usage: deb_inside.sh STAGE_DIR (the packages, examples/ and golden/)
set -eu
cd "$1"
fail() {
  echo "deb_install_test: $*" >&2
  exit 1
}

# Without the recommended packages: what a package needs must be in Depends.
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >apt.log 2>&1 ||
    { cat apt.log; fail "apt-get install $* failed"; }
}

# Removes the package $1 with apt-get remove and checks that nothing of it is
# left: no file, no empty folder of its own, nothing named after Orvane.
remove_and_check() {
  dpkg -L "$1" >files
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -q "$1" >apt.log 2>&1 ||
    { cat apt.log; fail "apt-get remove $1 failed"; }
  state=$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)
  case $state in
    "" | not-installed) ;;
    *) fail "$1 is still $state after apt-get remove" ;;
  esac
  # What remains of the package's list may only be folders that other packages
  # share (/usr/share/man, ...): no file, and no empty folder of its own.
  while read -r path; do
    [ -e "$path" ] || continue
    [ -d "$path" ] || fail "$path was left behind by $1"
    [ -n "$(ls -A "$path")" ] || dpkg -S "$path" >/dev/null 2>&1 || fail "empty folder $path was left behind by $1"
  done <files
  leftovers=$(find / -xdev -path "$PWD" -prune -o -iname '*orvane*' -print)
  [ -z "$leftovers" ] || fail "left behind by $1: $leftovers"
}

apt_install "./$(ls orvane_*.deb)"
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

remove_and_check orvane

# The Python module: Debian's python3 comes with it, as a dependency.
apt_install "./$(ls python3-orvane_*.deb)"
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' python3-orvane)"
for file in /usr/share/doc/python3-orvane/copyright /usr/share/doc/python3-orvane/changelog.Debian.gz; do
  [ -f "$file" ] || fail "$file is missing"
done
# postinst byte-compiles the Python files, so that users' imports need not.
ls /usr/lib/python3/dist-packages/orvane/__pycache__/__init__.*.pyc >/dev/null 2>&1 ||
  fail "the module's Python files were not byte-compiled on install"

vtt='WEBVTT\n\n00:01.000 --> 00:02.000\n<v Ann>Hi\n'
out=$(python3 -c "import orvane; print(orvane.transcript(b'$vtt', clean=True))" 2>&1) ||
  fail "python3 could not use orvane: $out"
[ "$out" = "b'Ann: Hi\\r\\n'" ] || fail "orvane.transcript gave $out"
# A whole folder, as orvane-convert converts it: the transcripts of tests/golden.
rm -f "$captions"/*.txt
python3 -c 'import sys, orvane
outcomes = orvane.convert_folder(sys.argv[1])
sys.exit(0 if outcomes and all(o.ok for o in outcomes) else "not converted: %r" % (outcomes,))' "$captions" ||
  fail "orvane.convert_folder failed"
for golden in golden/*.txt; do
  cmp "$golden" "$captions/$(basename "$golden")" || fail "$(basename "$golden") of orvane.convert_folder differs"
done

# orvane.dask needs Dask's distributed scheduler, which the package only
# suggests: without it the import must fail for that alone.
status=0
python3 -c 'import orvane.dask' >dask.log 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "orvane.dask was imported without python3-distributed"
tail -n 1 dask.log | grep -Eq "^ModuleNotFoundError: No module named '(dask|distributed)'" ||
  fail "import orvane.dask failed for another reason: $(cat dask.log)"
apt_install python3-distributed
out=$(python3 -c "import dask.bag, orvane.dask
bag = dask.bag.from_sequence([b'$vtt'], npartitions=1)
print(orvane.dask.transcripts(bag, clean=True).compute(scheduler='sync'))" 2>&1) ||
  fail "orvane.dask failed with python3-distributed: $out"
[ "$out" = "[b'Ann: Hi\\r\\n']" ] || fail "orvane.dask.transcripts gave $out"

remove_and_check python3-orvane
echo "deb_install_test: passed"
