#!/bin/sh
# Checks the transcript pages under FOLDER, and always the hand-written
# tests/web/sample.html, in headless Chromium (axe-core in the light and dark
# colour schemes, a phone's width, print) and with the Nu HTML Checker: see
# check_pages.js. FALLBACK_LIST names the pages whose lang is a fallback, one
# a line (relative to the list's folder); for those alone the checker's guess
# that the text is in another language is no fault.
#
# Usage: tests/web/run.sh [--screenshots DIR [--screenshot-page PAGE]] [FOLDER [FALLBACK_LIST]]
#
# With --screenshots, once every page passed, saves DIR/page-light.png,
# DIR/page-dark.png and DIR/page-phone.png of PAGE (default: the sample page).
# Installs nothing: scripts/install-deps.sh installs Chromium, Java and the
# npm packages (npm ci in tests/web). Exits non-zero on any finding.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
chromium=${CHROMIUM:-/usr/bin/chromium}

usage() {
  echo "Usage: $0 [--screenshots DIR [--screenshot-page PAGE]] [FOLDER [FALLBACK_LIST]]" >&2
  exit 2
}
shots=""
shot_page="$here/sample.html"
while [ "$#" -gt 0 ]; do
  case "$1" in
    --screenshots) [ "$#" -ge 2 ] || usage; shots=$2; shift 2 ;;
    --screenshot-page) [ "$#" -ge 2 ] || usage; shot_page=$2; shift 2 ;;
    --help) usage ;;
    -*) echo "$0: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ "$#" -le 2 ] || usage
folder=${1:-}
fallback=${2:-}

missing() {
  echo "$0: $1 is missing; scripts/install-deps.sh installs it" >&2
  exit 1
}
command -v node >/dev/null 2>&1 || missing "node (Debian's nodejs)"
command -v java >/dev/null 2>&1 || missing "java (Debian's default-jre-headless)"
[ -x "$chromium" ] || missing "$chromium (Debian's chromium)"
for module in puppeteer-core axe-core vnu-jar/build/dist/vnu.jar; do
  [ -e "$here/node_modules/$module" ] || missing "tests/web/node_modules/$module (npm ci in tests/web)"
done

set -- "$here/sample.html"
[ -z "$folder" ] || set -- "$@" "$folder"
[ -z "$fallback" ] || set -- --fallback-lang "$fallback" "$@"
CHROMIUM=$chromium node "$here/check_pages.js" "$@"

if [ -n "$shots" ]; then
  CHROMIUM=$chromium node "$here/screenshots.js" "$shot_page" "$shots"
fi
