#!/usr/bin/env bash
# The run report against its JSON Schema: a finished run written to a file, a
# report on standard output, and a run killed with kill -9 in the middle,
# whose report must still be valid up to its last document. The documents are
# made by the office.
#
#   report_test.sh <batchreplace-cli> <report.schema.json>
set -euo pipefail

cli=$1 schema=$2
work=$(mktemp -d)
export XDG_CACHE_HOME=$work/cache HOME=$work/home
cleanup() {
  # A killed command line leaves its office running: end it by its profile.
  pkill -9 -f "$work/" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if ! command -v soffice >/dev/null; then
  echo "SKIPPED: LibreOffice (soffice) is not installed"
  exit 77
fi
if ! /usr/bin/python3 -c 'import jsonschema' 2>/dev/null; then
  echo "SKIPPED: Debian's python3-jsonschema is not installed"
  exit 77
fi

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

mkdir -p "$work/src" "$work/docs" "$work/app"
count=24
for i in $(seq -w 1 $count); do
  cat >"$work/src/d$i.fodt" <<FODT
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text><text:p>第 $i 号文档：旧的内容</text:p></office:text></office:body>
</office:document>
FODT
done
soffice "-env:UserInstallation=file://$work/convert" --headless --convert-to doc \
  --outdir "$work/docs" "$work/src"/*.fodt >"$work/convert.log" 2>&1 ||
  fail "the office could not make the documents: $(cat "$work/convert.log")"
[ "$(ls "$work/docs" | wc -l)" -eq $count ] || fail "the office made $(ls "$work/docs" | wc -l) documents"

# check <report> <complete: true|false> <least documents>
check() {
  /usr/bin/python3 - "$1" "$schema" "$2" "$3" <<'PY'
import json, sys, jsonschema
report = json.load(open(sys.argv[1], encoding="utf-8"))
jsonschema.validate(report, json.load(open(sys.argv[2], encoding="utf-8")))
assert report["complete"] == (sys.argv[3] == "true"), report["complete"]
paths = [d["path"] for d in report["documents"]]
assert len(paths) >= int(sys.argv[4]), len(paths)
assert paths == sorted(paths), paths
for d in report["documents"]:
    assert len(d["lines"]) == 1 and d["lines"][0].startswith(d["path"] + " "), d
PY
}

echo "== A whole run, reported to a file"
"$cli" word-replace --folder "$work/docs" --find 旧 --replace 新 --app-folder "$work/app" \
  --report "$work/full.json" >"$work/full.out" || fail "the run failed: $(cat "$work/full.out")"
check "$work/full.json" true $count || fail "the whole run's report"
[ "$(wc -l <"$work/full.out")" -eq $count ] || fail "the lines are not printed beside the report"

echo "== The report on standard output, instead of the lines"
"$cli" word-replace --folder "$work/docs" --find 新 --replace 新 --dry-run --app-folder "$work/app" \
  --report - >"$work/stdout.json" || fail "the dry run failed"
check "$work/stdout.json" true $count || fail "the report on standard output"

echo "== A run killed in the middle"
"$cli" word-replace --folder "$work/docs" --find 新 --replace 旧 --no-prescan \
  --app-folder "$work/app" --report "$work/killed.json" >/dev/null &
pid=$!
for _ in $(seq 1 600); do
  done_count=$(/usr/bin/python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["documents"]))' \
    "$work/killed.json" 2>/dev/null || echo 0)
  [ "$done_count" -ge 3 ] && break
  sleep 0.1
done
kill -9 $pid
wait $pid 2>/dev/null || true
check "$work/killed.json" false 3 || fail "the killed run's report"
echo "all reports valid"
