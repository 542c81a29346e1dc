#!/usr/bin/env bash
# The desktop entry passes desktop-file-validate without errors or warnings.
# Its hint that Office and Utility are both main categories is wanted: the
# program shows in both menus.
#
#   desktop_entry_test.sh <desktop entry>
set -euo pipefail
if ! command -v desktop-file-validate >/dev/null; then
  echo "Skipped: the desktop entry test needs desktop-file-validate (Debian package desktop-file-utils)."
  exit 77
fi
report=$(desktop-file-validate --no-hints "$1" 2>&1) || { echo "$report"; exit 1; }
[ -z "$report" ] || { echo "$report"; exit 1; }
echo "Passed: $1"
