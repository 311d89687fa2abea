#!/usr/bin/env bash
# Two libraries (two group containers, as two machines would have) kept in
# step through one cloud server by `quillet-fp sync`: items created,
# renamed, moved, edited and deleted on one appear on the other, opening an
# item downloads its bytes, edits on both sides converge, and (PostgreSQL)
# a server that stops makes a sync fail and the next one finish.
# Usage: cloud_sync_test.sh path/to/quillet-fp embedded|postgresql
set -euo pipefail

FP=${1:?usage: cloud_sync_test.sh path/to/quillet-fp embedded|postgresql}
BACKEND=${2:?usage: cloud_sync_test.sh path/to/quillet-fp embedded|postgresql}
SCRATCH=$(mktemp -d /tmp/qlt-sync-XXXXXX)
WATCH=

source "$(dirname "${BASH_SOURCE[0]}")/../support/scratch_library.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/postgres_server.sh"
cleanup() {
  if [[ -n "$WATCH" ]]; then kill "$WATCH" 2>/dev/null || true; wait "$WATCH" 2>/dev/null || true; fi
  stop_postgres
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { [[ "$(json "$1" "bool($2)")" == "True" ]] || fail "$3: $(cat "$1")"; }
PREFERENCES="$XDG_CONFIG_HOME/quillet/preferences/group.com.quillet.plist"
set_preference() {
  mkdir -p "$(dirname "$PREFERENCES")"
  python3 -c 'import plistlib,sys; plistlib.dump({sys.argv[1]: sys.argv[2]}, open(sys.argv[3], "wb"))' "$1" "$2" "$PREFERENCES"
}

# Machine one names the server in QLT_CLOUD_URL, machine two through the
# file the setting names.
URL=
if [[ "$BACKEND" == postgresql ]]; then
  status=0
  start_postgres || status=$?
  if [[ $status -eq 77 ]]; then echo "skipped: PostgreSQL is not installed"; exit 77; fi
  [[ $status -eq 0 ]] || fail "the PostgreSQL server did not start"
  URL=$PG_URL
  printf '%s\n' "$URL" > "$SCRATCH/cloud-url"
  chmod 644 "$SCRATCH/cloud-url"
  set_preference QLTCloudURLFile "$SCRATCH/cloud-url"
else
  set_preference QLTCloudStoreDirectory "$SCRATCH/cloud"
fi
one() { QLT_CLOUD_URL="$URL" QLT_GROUP_CONTAINER="$SCRATCH/one" "$FP" "$@"; }
two() { QLT_CLOUD_URL= QLT_GROUP_CONTAINER="$SCRATCH/two" "$FP" "$@"; }
# identifier FILE NAME: the identifier of the entry called NAME in a list-all output.
identifier() { json "$1" "[i['itemIdentifier'] for l in lines for i in l.get('items', []) if i['filename'] == '$2'][0]"; }

one seed --folders 2 --items 4 --file-size 20 > "$SCRATCH/seed.json"
one sync > "$SCRATCH/sync1.json"
expect "$SCRATCH/sync1.json" "last['synced']['uploaded'] >= 6" "the first sync sends the library"
if [[ "$BACKEND" == postgresql ]]; then
  if two sync > "$SCRATCH/open.json" 2> "$SCRATCH/open.err"; then fail "a URL file others may read was used"; fi
  grep -q "0600" "$SCRATCH/open.err" || fail "the refusal names the mode: $(cat "$SCRATCH/open.err")"
  chmod 600 "$SCRATCH/cloud-url"
fi
two sync > "$SCRATCH/sync2.json"
expect "$SCRATCH/sync2.json" "last['synced']['applied'] >= 6 and last['synced']['uploaded'] == 0" \
  "the second library takes the first one's records"

one list-all working-set > "$SCRATCH/one.json"
two list-all working-set > "$SCRATCH/two.json"
expect "$SCRATCH/two.json" "sorted(i['filename'] for l in lines for i in l.get('items', [])) == \
  sorted(i['filename'] for l in [json.loads(x) for x in open('$SCRATCH/one.json')] for i in l.get('items', []))" \
  "both libraries list the same folders and items"
I1=$(identifier "$SCRATCH/one.json" "Item 000001.txt")
I2=$(identifier "$SCRATCH/one.json" "Item 000002.txt")
I3=$(identifier "$SCRATCH/one.json" "Item 000003.txt")
I4=$(identifier "$SCRATCH/one.json" "Item 000004.txt")
F2=$(identifier "$SCRATCH/one.json" "Folder 000002")
expect "$SCRATCH/two.json" "[i['isDownloaded'] for l in lines for i in l.get('items', []) if i['itemIdentifier'] == '$I1'] == [False]" \
  "items arrive without their bytes"
two fetch "$I1" --to "$SCRATCH/i1.txt" > /dev/null
[[ "$(cat "$SCRATCH/i1.txt")" == "$(printf 'q%.0s' {1..20})" ]] || fail "opening downloads the bytes"

# Created, renamed, moved, edited and deleted on one; seen on two.
two anchor > "$SCRATCH/anchor.json"
ANCHOR=$(json "$SCRATCH/anchor.json" "last['anchor']")
one host rename "$I1" "Renamed.txt" > /dev/null
one host move "$I3" "$F2" > /dev/null
printf 'edited on one' > "$SCRATCH/edit.txt"
one host replace "$I2" "$SCRATCH/edit.txt" > /dev/null
one host delete "$I4" > /dev/null
one seed --items 1 --file-size 5 > /dev/null
one sync > /dev/null
two sync > "$SCRATCH/sync3.json"
two list-all working-set > "$SCRATCH/two.json"
expect "$SCRATCH/two.json" "[i['filename'] for l in lines for i in l.get('items', []) if i['itemIdentifier'] == '$I1'] == ['Renamed.txt']" "rename"
expect "$SCRATCH/two.json" "[i['parentItemIdentifier'] for l in lines for i in l.get('items', []) if i['itemIdentifier'] == '$I3'] == ['$F2']" "move"
expect "$SCRATCH/two.json" "not [i for l in lines for i in l.get('items', []) if i['itemIdentifier'] == '$I4']" "deletion"
expect "$SCRATCH/two.json" "len([i for l in lines for i in l.get('items', []) if i['parentItemIdentifier'] == 'NSFileProviderRootContainerItemIdentifier' and i['filename'].startswith('Item')]) == 1" "creation"
two fetch "$I2" --to "$SCRATCH/i2.txt" > /dev/null
[[ "$(cat "$SCRATCH/i2.txt")" == "edited on one" ]] || fail "edit: $(cat "$SCRATCH/i2.txt")"
two changes working-set --anchor "$ANCHOR" > "$SCRATCH/changes.json"
expect "$SCRATCH/changes.json" "'$I4' in [d for l in lines for d in l['deleted']]" "the service hears of the deletion"

# The same item renamed on both sides, and edited on both sides: they
# converge, and the contents that lost stay as a version.
one host rename "$I3" "One.txt" > /dev/null
one sync > /dev/null
two host rename "$I3" "Two.txt" > /dev/null
printf 'from one' > "$SCRATCH/c1.txt"
printf 'from two' > "$SCRATCH/c2.txt"
one host replace "$I2" "$SCRATCH/c1.txt" > /dev/null
one sync > /dev/null
two host replace "$I2" "$SCRATCH/c2.txt" > /dev/null
two sync > /dev/null
one sync > /dev/null
one list-all working-set > "$SCRATCH/one.json"
two list-all working-set > "$SCRATCH/two.json"
for side in one two; do
  expect "$SCRATCH/$side.json" "[i['filename'] for l in lines for i in l.get('items', []) if i['itemIdentifier'] == '$I3'] == ['Two.txt']" "$side: the later rename"
done
one fetch "$I2" --to "$SCRATCH/c.txt" > /dev/null
[[ "$(cat "$SCRATCH/c.txt")" == "from two" ]] || fail "the later edit: $(cat "$SCRATCH/c.txt")"
find "$SCRATCH/one" -path '*Versions.noindex*' -type f -exec grep -l "from one" {} + | grep -q . \
  || fail "the replaced contents are kept as a version"

if [[ "$BACKEND" == postgresql ]]; then
  # The server stops: the sync fails with the cloud error and keeps the
  # change; the next one, with the server back, finishes it.
  pg_stop
  one host rename "$I1" "Offline.txt" > /dev/null
  if one sync > "$SCRATCH/down.json" 2> "$SCRATCH/down.err"; then fail "a sync without a server succeeded"; fi
  expect "$SCRATCH/down.err" "last['domain'] == 'CKErrorDomain' and last['code'] in (3, 4)" "the converted error"
  pg_restart
  one sync > /dev/null
  two sync > /dev/null
  two list-all working-set > "$SCRATCH/two.json"
  expect "$SCRATCH/two.json" "[i['filename'] for l in lines for i in l.get('items', []) if i['itemIdentifier'] == '$I1'] == ['Offline.txt']" "the change made while the server was down"
  if grep -rqF "$URL" "$SCRATCH/one" "$SCRATCH/two" "$SCRATCH"/*.json "$SCRATCH"/*.err; then fail "the URI was written out"; fi
fi

# --watch syncs again and again until a signal.
QLT_CLOUD_URL= QLT_GROUP_CONTAINER="$SCRATCH/two" "$FP" sync --watch 1 > "$SCRATCH/watch.json" &
WATCH=$!
for _ in $(seq 1 100); do
  [[ $(grep -c synced "$SCRATCH/watch.json" 2>/dev/null || true) -ge 2 ]] && break
  sleep 0.1
done
[[ $(grep -c synced "$SCRATCH/watch.json") -ge 2 ]] || fail "--watch syncs repeatedly"
kill -TERM "$WATCH"
wait "$WATCH" || fail "--watch ends cleanly on a signal"
WATCH=
echo "cloud sync ($BACKEND): ok"
