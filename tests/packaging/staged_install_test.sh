#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR) as the package lays it
# out, and runs the installed command line from there: its version, its help,
# and a word replace on copies of the sample documents, with the application
# folder in a temporary home.
#
#   staged_install_test.sh <build folder> <source folder> <version text> <with window: ON|OFF>
#                          <with LibreOffice: ON|OFF>
set -euo pipefail

build=$1 src=$2 version=$3 window=$4 office=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

if ! DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "cmake --install into the staging folder"
fi
usr=$work/stage/usr

echo "== The layout"
expected=(bin/batchreplace-cli share/batchreplace/installed share/batchreplace/report.schema.json
          share/man/man1/batchreplace-cli.1.gz)
if [ "$window" = ON ]; then
  expected+=(bin/batchreplace share/applications/batchreplace.desktop
             share/icons/hicolor/scalable/apps/batchreplace.svg)
fi
for f in "${expected[@]}"; do
  [ -f "$usr/$f" ] || fail "$f is not installed"
done
# The main program writes the updater into its application folder itself.
[ ! -e "$usr/bin/update" ] || fail "update is installed into bin/"
if [ "$window" = ON ]; then
  # The menu entry starts the installed program and shows the installed icon.
  desktop=$usr/share/applications/batchreplace.desktop
  exec_line=$(sed -n 's/^Exec=//p' "$desktop")
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -x "$usr/bin/${exec_line%% *}" ] || fail "Exec=$exec_line names no installed program"
  [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon has no icon file"
fi
# The installed programs find the office's libraries, and nothing of the
# build or the SDK, on their run-time path.
if command -v readelf >/dev/null; then
  for program in batchreplace batchreplace-cli; do
    [ -f "$usr/bin/$program" ] || continue
    runpath=$(readelf -d "$usr/bin/$program" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]/\1/p')
    case ":$runpath:" in
      *"$build"* | *"$src"* | */sdk/*) fail "$program has the run-time path $runpath" ;;
    esac
  done
fi
# The manual page renders without warnings.
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$usr/share/man/man1/batchreplace-cli.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
fi

echo "== batchreplace-cli --version and --help"
cli=$usr/bin/batchreplace-cli
printed=$("$cli" --version)
[ "$printed" = "batchreplace-cli $version" ] || fail "--version printed \"$printed\""
"$cli" --help >"$work/help.txt" || fail "--help exited with $?"
grep -q "batchreplace-cli word-replace" "$work/help.txt" || fail "--help printed no usage"

if [ "$office" != ON ]; then
  echo "Skipped: the word replace needs the LibreOffice server, not built (no LibreOffice SDK)."
  exit 77
fi
if [ ! -x "$(sed -n 's/.*LIBREOFFICE_PROGRAM_DIR:PATH=//p' "$build/CMakeCache.txt")/soffice.bin" ]; then
  echo "Skipped: the word replace needs LibreOffice (Debian packages libreoffice-writer, libreoffice-calc)."
  exit 77
fi

echo "== A word replace on the sample documents, from the installed program"
cp -r "$src/samples" "$work/docs"
mkdir "$work/home"
if ! (cd "$work" && env -u XDG_DATA_HOME HOME="$work/home" "$cli" word-replace \
        --folder "$work/docs" --find 旧版本 --replace 新版本 >"$work/out.txt" 2>"$work/err.txt"); then
  cat "$work/out.txt" "$work/err.txt"
  fail "the word replace exited with an error"
fi
cat "$work/out.txt"
grep -qx "通知.doc 已替换内容" "$work/out.txt" || fail "通知.doc was not replaced"
grep -qx "会议纪要.doc 没找到替换的内容" "$work/out.txt" || fail "会议纪要.doc was not reported"
cmp -s "$src/samples/会议纪要.doc" "$work/docs/会议纪要.doc" || fail "会议纪要.doc was changed"

# The journal is in the user's data folder, nothing beside the program.
journal=$(find "$work/home/.local/share/batchreplace/Journal" -name '*.txt' 2>/dev/null | head -1)
[ -n "$journal" ] || fail "no journal under ~/.local/share/batchreplace/Journal"
grep -q "通知.doc 已替换内容" "$journal" || fail "the journal lacks the replaced document"
[ -z "$(ls -A "$usr/bin" | grep -vx -e batchreplace -e batchreplace-cli)" ] ||
  fail "the installed program wrote beside itself: $(ls "$usr/bin")"

echo "== With XDG_DATA_HOME, the journal goes there"
HOME="$work/home" XDG_DATA_HOME="$work/data" "$cli" word-replace --dry-run \
  --folder "$work/docs" --find 新版本 --replace 旧版本 >"$work/out2.txt"
grep -qx "通知.doc 含有要替换的内容（试运行，未保存）" "$work/out2.txt" || fail "the dry run found nothing: $(cat "$work/out2.txt")"
ls "$work/data/batchreplace/Journal"/*/*.txt >/dev/null || fail "no journal under \$XDG_DATA_HOME/batchreplace"
echo "Passed."
