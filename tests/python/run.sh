#!/bin/sh
# Installs the Python module from the checkout as its users install it (pip in
# a virtual environment that sees Debian's packages, with nothing downloaded)
# and runs the Python tests (tests/python) against it, with BUILD's
# orvane-convert and reference-cues to compare with. Prints
# "Python tests: N passed, M failed" last.
# Usage: tests/python/run.sh [BUILD]   (default: build/)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
venv=$root/build-python-venv
rm -rf "$venv"
# Debian's Python, whose setuptools and wheel build the module.
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --no-index --no-build-isolation --no-cache-dir "$root"
results=$(mktemp)
trap 'rm -f "$results"' EXIT
status=0
# From another folder, so that nothing but the installed module is imported.
(cd "$venv" && ORVANE_CONVERT="$build/orvane-convert" \
  ORVANE_REFERENCE_CUES="$build/tests/oracle/reference-cues" \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider --junitxml="$results" "$root/tests/python") ||
  status=$?
/usr/bin/python3 - "$results" <<'PY'
import sys
import xml.etree.ElementTree as ElementTree

suites = ElementTree.parse(sys.argv[1]).getroot()
suites = [suites] if suites.tag == "testsuite" else list(suites)
total = sum(int(s.get("tests")) - int(s.get("skipped", 0)) for s in suites)
failed = sum(int(s.get("failures")) + int(s.get("errors")) for s in suites)
print(f"Python tests: {total - failed} passed, {failed} failed")
PY
exit "$status"
