#!/usr/bin/env bash
# Cross-builds the programs and their tests for 64-bit Windows with mingw-w64
# (preset windows-cross) and runs the tests under Wine in a fresh prefix,
# headless. With Qt for mingw-w64 the windows are built too: their tests run
# with the others, and on a virtual display (Xvfb) the deployed folder is
# started in a fresh prefix of its own and the windows' screenshots are taken
# into <build folder>/screenshots.
#
#   run_windows_tests.sh <source folder> <build folder> [<qt6-mingw64.tar.xz>]
#
# Exits 77 (ctest: skipped) when the cross compiler or Wine is missing.
set -euo pipefail

src=$(cd "$1" && pwd)
build=$2
qt_archive=${3:-}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
[ -x "$wine" ] && [ -x "$wineserver" ] || missing+=(wine64)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Skipped: the Windows tests need the Debian packages ${missing[*]}" \
       "(bash scripts/install-deps.sh installs them)."
  exit 77
fi

echo "== Cross-building for Windows in $build"
mkdir -p "$build"
build=$(cd "$build" && pwd)
configure=(cmake --preset windows-cross -B "$build")
[ -n "$qt_archive" ] && configure+=("-DBR_QT_MINGW_ARCHIVE=$qt_archive")
start=$SECONDS
(cd "$src" && "${configure[@]}" >"$build/configure.log") ||
  { cat "$build/configure.log"; exit 1; }
grep '^-- Windows: ' "$build/configure.log" || true
# The build's own lines only when it fails or warns.
if ! cmake --build "$build" -j 2 >"$build/build.log" 2>&1; then
  cat "$build/build.log"
  exit 1
fi
grep -A5 -i 'warning' "$build/build.log" || true
echo "   built in $((SECONDS - start)) s"

# A fresh prefix each run, so that nothing of an earlier run (registered
# classes, running objects, files) is found again. Wine offers to install
# Mono and Gecko in a new prefix: the overrides keep those dialogs away, and
# without a display nothing else can wait for a click.
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

stop_wine() {
  # Ends the prefix's server and every Windows process in it, so that no
  # Wine service is left holding this test's output open.
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
}
trap stop_wine EXIT

stop_wine
rm -rf "$WINEPREFIX"
echo "== Preparing a fresh Wine prefix"
timeout --kill-after=10 300 "$wine" wineboot --init >/dev/null 2>&1
# The first start must end completely before its services (RpcSs, which the
# running object table needs) can be started again.
timeout --kill-after=10 120 "$wineserver" -w
# One server for the whole run instead of one per test program. Its system
# processes (services.exe and the services it starts) are started here, on
# /dev/null: started by the first test, they would keep that test's output
# open and ctest would wait for them until the time-out.
"$wineserver" -p >/dev/null 2>&1 </dev/null
timeout --kill-after=10 120 "$wine" cmd.exe /c exit >/dev/null 2>&1 </dev/null

echo "== Running the Windows tests under Wine"
start=$SECONDS
ctest --test-dir "$build" --output-on-failure --timeout 300 --no-tests=error
echo "   tests ran in $((SECONDS - start)) s"
stop_wine

if [ ! -f "$build/deploy/batchreplace.exe" ]; then
  echo "No windows in this build: nothing deployed, no screenshots."
  exit 0
fi
bash "$src/tests/windows/run_deployed.sh" "$build"
