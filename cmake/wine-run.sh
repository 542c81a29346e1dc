#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, headless: no debug
# output, no installer dialogs for Mono or Gecko, and a time limit so that
# nothing can wait for ever. The Wine prefix is $WINEPREFIX when set (the test
# script makes a fresh one), otherwise one beside the build.
set -euo pipefail
wine=${BR_WINE:-/usr/lib/wine/wine64}
if [ ! -x "$wine" ]; then
  echo "Wine is not installed ($wine is missing): install the wine64 package." >&2
  exit 1
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPREFIX=${WINEPREFIX:-$PWD/wineprefix}
unset DISPLAY WAYLAND_DISPLAY
# --qttest <program> [arguments]: a Qt Test program. Without a console its
# log never reaches the standard output under Wine; it goes to a file that
# is printed once the program ends. Wine does not hand variables named QT_*
# to Windows programs: the platform plugin is given as an argument.
if [ "${1:-}" = --qttest ]; then
  program=$2
  shift 2
  platform=()
  [ -n "${QT_QPA_PLATFORM:-}" ] && platform=(-platform "$QT_QPA_PLATFORM")
  log=$(mktemp)
  status=0
  timeout --kill-after=10 "${BR_WINE_TIMEOUT:-300}" "$wine" "$program" "${platform[@]}" "$@" \
    -o "Z:${log//\//\\},txt" ||
    status=$?
  cat "$log"
  rm -f "$log"
  exit "$status"
fi
exec timeout --kill-after=10 "${BR_WINE_TIMEOUT:-300}" "$wine" "$@"
