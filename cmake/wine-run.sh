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
exec timeout --kill-after=10 "${BR_WINE_TIMEOUT:-300}" "$wine" "$@"
