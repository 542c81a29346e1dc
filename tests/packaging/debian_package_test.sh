#!/usr/bin/env bash
# Builds the Debian package from the build's CPack configuration into a
# temporary folder and reads its control data and contents.
#
#   debian_package_test.sh <build folder> <with window: ON|OFF> <with LibreOffice: ON|OFF>
#                          <with web view: ON|OFF>
set -euo pipefail

build=$1 window=$2 office=$3 web_view=$4
missing=()
command -v dpkg-deb >/dev/null || missing+=("dpkg-deb (Debian package dpkg)")
command -v dpkg-shlibdeps >/dev/null || missing+=("dpkg-shlibdeps (Debian package dpkg-dev)")
if [ ${#missing[@]} -gt 0 ]; then
  echo "Skipped: building the Debian package needs ${missing[*]}."
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack"
fi
debs=("$work"/batchreplace_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no batchreplace_*.deb: $(ls "$work")"
deb=${debs[0]}
dpkg-deb --info "$deb"

depends=$(dpkg-deb --field "$deb" Depends)
# The package names of the list, alternatives included, without versions.
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
wanted=(libc6 libstdc++6 libcurl4)
[ "$office" = ON ] && wanted+=(libreoffice-writer libreoffice-calc libuno-sal3 libuno-cppu3)
# The window, and the updater that batchreplace carries inside itself.
[ "$window" = ON ] && wanted+=(libqt6widgets6 libqt6network6 qt6-qpa-plugins fonts-wqy-microhei)
[ "$web_view" = ON ] && wanted+=(libqt6webenginewidgets6)
for p in "${wanted[@]}"; do
  grep -Fxq -- "$p" <<<"$names" || fail "Depends lacks $p: $depends"
done
[ "$(sort <<<"$names" | uniq -d)" = "" ] || fail "Depends names a package twice: $depends"
# The office's -nogui variants lack what a document with a comment needs.
! grep -q nogui <<<"$depends" || fail "Depends names a -nogui office: $depends"

contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
files=(./usr/bin/batchreplace-cli ./usr/share/batchreplace/installed
       ./usr/share/man/man1/batchreplace-cli.1.gz)
[ "$window" = ON ] && files+=(./usr/bin/batchreplace ./usr/share/applications/batchreplace.desktop
                              ./usr/share/icons/hicolor/scalable/apps/batchreplace.svg)
for f in "${files[@]}"; do
  grep -qx -- "$f" <<<"$contents" || fail "the package lacks $f"
done
! grep -q -- '^\./usr/bin/update$' <<<"$contents" || fail "the package installs update into bin/"
echo "Passed."
