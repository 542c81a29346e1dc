#!/usr/bin/env bash
# Starts the deployed folder of batchreplace.exe (<build>/deploy) under Wine on
# a virtual display, in a fresh prefix where nothing else is installed, and
# checks that it starts: it writes update.exe, toconfigure/ and the journal
# beside itself. Then takes the windows' screenshots (window_screenshots.exe,
# run from another copy of the deployed folder) into <build>/screenshots;
# that run also makes a Word replace, which must report that Word cannot be
# started. The prefix is a Chinese Windows (locale zh_CN, ANSI code page 936),
# as the users have. The Chinese text needs a CJK font: WenQuanYi Micro Hei is
# given to the prefix under the names Windows programs ask for.
#
#   run_deployed.sh <build folder>
#
# Exits 0 without doing anything, saying why, when Xvfb or the font is missing.
set -euo pipefail

build=$(cd "$1" && pwd)
wine=(/usr/lib/wine/wine64)
wineserver=/usr/lib/wine/wineserver
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc

if ! command -v Xvfb >/dev/null || [ ! -f "$font" ]; then
  echo "Skipped starting the deployed folder: it needs Xvfb (package xvfb) and" \
       "$font (package fonts-wqy-microhei)."
  exit 0
fi

echo "== Starting the deployed batchreplace.exe in a fresh prefix on a virtual display"
# Wine takes its Windows locale from Linux's: zh_CN.UTF-8, made into the build
# folder when the system has not got it (Wine needs its UTF-8 for the Linux
# file names, or Chinese names cannot be created).
locales="$build/locale"
# (localedef fails on warnings of the locale's sources that do not matter.)
mkdir -p "$locales"
[ -f "$locales/zh_CN.UTF-8/LC_CTYPE" ] ||
  localedef -i zh_CN -f UTF-8 "$locales/zh_CN.UTF-8" >/dev/null 2>&1 || true
if [ -f "$locales/zh_CN.UTF-8/LC_CTYPE" ]; then
  wine=(env LOCPATH="$locales" LC_ALL=zh_CN.UTF-8 /usr/lib/wine/wine64)
else
  echo "   no zh_CN locale could be made (localedef, package locales): the prefix keeps" \
       "the build's locale and its ANSI code page"
fi
export WINEPREFIX="$build/wineprefix-deployed"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# The Windows path of a Linux path: Wine's drive Z: is the root folder.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

stop_wine() {
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
}

# A display number nobody uses.
display=
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
    display=:$n
    break
  fi
done
[ -n "$display" ] || { echo "No free X display number between 90 and 140"; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  stop_wine
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display

stop_wine
rm -rf "$WINEPREFIX"
timeout --kill-after=10 300 "${wine[@]}" wineboot --init >/dev/null 2>&1 </dev/null
timeout --kill-after=10 120 "$wineserver" -w

# The font in the prefix's Fonts folder, under the names Windows' Chinese
# programs (and Qt's fallbacks for Chinese text) ask for. One desktop window
# of Wine's own (a virtual desktop) draws the window frames.
ln -sf "$font" "$WINEPREFIX/drive_c/windows/Fonts/wqy-microhei.ttc"
cat >"$build/wine-settings.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Microsoft YaHei"="WenQuanYi Micro Hei"
"Microsoft YaHei UI"="WenQuanYi Micro Hei"
"SimSun"="WenQuanYi Micro Hei"
"NSimSun"="WenQuanYi Micro Hei"
"SimHei"="WenQuanYi Micro Hei"

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"
REG
timeout --kill-after=10 120 "${wine[@]}" regedit /S "$(winpath "$build/wine-settings.reg")" \
  >/dev/null 2>&1 </dev/null || true

# The deployed folder as a user gets it, in a folder of its own.
run="$build/deployed-run"
rm -rf "$run"
cp -r "$build/deploy" "$run"
echo "   deployed files: $(cd "$run" && find . -type f | sort | tr '\n' ' ')"
(cd "$run" && exec "${wine[@]}" "$(winpath "$run/batchreplace.exe")") >"$build/deployed-run.log" 2>&1 </dev/null &
started=
for _ in $(seq 1 120); do
  if [ -f "$run/update.exe" ] && [ -f "$run/toconfigure/dqbb.ini" ] &&
     [ -n "$(find "$run/Journal" -name '*.txt' 2>/dev/null)" ]; then
    started=yes
    break
  fi
  sleep 0.5
done
# The window shows once its start-up is done: the screen is taken until it is
# no longer the empty desktop (a few hundred bytes of PNG).
mkdir -p "$build/screenshots"
desktop_shot="$build/screenshots/deployed-desktop.png"
for _ in $(seq 1 30); do
  import -display "$display" -window root "$desktop_shot" 2>/dev/null || true
  [ "$(stat -c %s "$desktop_shot" 2>/dev/null || echo 0)" -gt 10000 ] && break
  sleep 1
done
stop_wine
if [ -z "$started" ]; then
  echo "The deployed batchreplace.exe did not write update.exe, toconfigure/dqbb.ini and its" \
       "journal beside itself within a minute. Its folder:"
  (cd "$run" && find . | sort)
  cat "$build/deployed-run.log"
  exit 1
fi
cmp -s "$run/update.exe" "$build/update/update.exe" ||
  { echo "update.exe written by batchreplace.exe differs from the update.exe of this build"; exit 1; }
echo "   it wrote update.exe, toconfigure/dqbb.ini and the journal:" \
     "$(cd "$run" && find Journal -name '*.txt')"

echo "== Screenshots of the windows, from a second copy of the deployed folder"
shots="$build/deployed-shots"
rm -rf "$shots"
cp -r "$build/deploy" "$shots"
cp "$build/tests/windows/window_screenshots.exe" "$shots/"
# Started in its own folder, which the folder list then shows.
if ! (cd "$shots" && timeout --kill-after=10 180 "${wine[@]}" "$(winpath "$shots/window_screenshots.exe")" \
      "$(winpath "$build/screenshots")" </dev/null); then
  echo "Taking the screenshots failed."
  exit 1
fi
grep -a -q "Microsoft Word" "$shots"/Journal/*/*.txt ||
  { echo "The journal beside the program does not hold the Word line."; exit 1; }
ls -l "$build/screenshots"
