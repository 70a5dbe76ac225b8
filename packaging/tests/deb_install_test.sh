#!/bin/sh
# Installs the Debian packages into a fresh Debian 12 root, one after the
# other, as a user would: apt-get install ./orvane_*.deb resolves their
# dependencies from Debian's archive. There orvane-convert must convert the
# example course to the transcripts of tests/golden/, orvane must start
# (offscreen) and keep running and the menu data must be in place; Debian's
# python3 must import the module of python3-orvane, which must convert the
# course alike, and orvane.dask once python3-distributed is installed. Each
# package's apt-get remove must leave none of its files behind.
#
# Usage: deb_install_test.sh ORVANE.deb PYTHON3_ORVANE.deb [APT_CACHE_DIR]
# The root is made with mmdebstrap (in a user namespace when not root) from
# the first mirror of the host's apt sources; downloaded packages are kept in
# APT_CACHE_DIR for the next run.
set -eu
deb=$(realpath "$1")
python_deb=$(realpath "$2")
cache=$(realpath -m "${3:-$(dirname "$deb")/apt-cache}")
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$cache"

mirror=$(grep -rhoE '^(URIs:|deb) +https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list \
  /etc/apt/sources.list.d/ 2>/dev/null | awk '{ print $2; exit }')
[ -n "$mirror" ] || mirror=http://deb.debian.org/debian

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$deb" "$python_deb" "$stage/"
cp -R "$root/examples" "$root/tests/golden" "$stage/"
cp "$root/packaging/tests/deb_inside.sh" "$stage/"

mmdebstrap --variant=apt --skip=download/empty --skip=essential/unlink \
  --setup-hook='mkdir -p "$1"/var/cache/apt/archives/' \
  --setup-hook="sync-in '$cache' /var/cache/apt/archives/" \
  --customize-hook="copy-in '$stage' /tmp" \
  --customize-hook="chroot \"\$1\" sh /tmp/$(basename "$stage")/deb_inside.sh /tmp/$(basename "$stage")" \
  --customize-hook="sync-out /var/cache/apt/archives '$cache'" \
  bookworm /dev/null "$mirror"
