#!/bin/sh
# Installs, with apt-get, whichever packages of scripts/packages.txt are missing.
set -eu
here=$(dirname "$0")
missing=""
for package in $(grep -v '^#' "$here/packages.txt"); do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
