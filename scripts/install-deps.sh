#!/bin/sh
# Installs, with apt-get, whichever of the packages named as arguments are
# missing; with none, whichever of scripts/packages.txt.
set -eu
here=$(dirname "$0")
[ "$#" -gt 0 ] || set -- $(grep -v '^#' "$here/packages.txt")
missing=""
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
