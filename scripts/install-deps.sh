#!/bin/sh
# Installs, with apt-get, whichever of the packages named as arguments are
# missing; with none, whichever of scripts/packages.txt, and then the npm
# packages of the page checks (tests/web/package-lock.json, with npm ci; again
# only when that lock file changed).
set -eu
here=$(dirname "$0")
all=false
if [ "$#" -eq 0 ]; then
  all=true
  set -- $(grep -v '^#' "$here/packages.txt")
  # Node.js from elsewhere may bring its own npm, which Debian's npm package
  # conflicts with: that package only where there is no npm.
  command -v npm >/dev/null 2>&1 || set -- "$@" npm
fi
missing=""
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
fi
"$all" || exit 0

web=$(cd "$here/../tests/web" && pwd)
if ! command -v npm >/dev/null 2>&1; then
  echo "$0: npm is missing, and the page checks need it: install Node.js with npm" \
    "(on Debian: apt-get install nodejs npm), then run this again" >&2
  exit 1
fi
if ! cmp -s "$web/package-lock.json" "$web/node_modules/.orvane-installed-lock.json"; then
  echo "Installing the npm packages of tests/web: npm ci"
  # No install scripts, and no browser download: the checks use Debian's
  # Chromium and Java.
  if (cd "$web" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund); then
    cp "$web/package-lock.json" "$web/node_modules/.orvane-installed-lock.json"
  else
    # Everything else can still be built and tested: tests/web/run.sh fails
    # at the end of scripts/test.sh, saying what is missing.
    echo "$0: could not install the npm packages of tests/web (is the npm registry" \
      "reachable?): the page checks will fail" >&2
  fi
fi
