#!/usr/bin/env bash
# quillet-fp link and open on a scratch library, and `serve` following a
# file that another program changes in the library's directories.
set -euo pipefail

FP=${1:?usage: quillet_fp_links_test.sh path/to/quillet-fp}
SCRATCH=$(mktemp -d /tmp/qlt-fp-links-XXXXXX)
SERVER=
cleanup() {
  if [[ -n "$SERVER" ]]; then kill "$SERVER" 2>/dev/null || true; wait "$SERVER" 2>/dev/null || true; fi
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../support/scratch_library.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { [[ "$(json "$1" "bool($2)")" == "True" ]] || fail "$3: $(cat "$1")"; }
expect_error() {
  local name=$1; shift
  if "$@" > "$SCRATCH/$name.out" 2> "$SCRATCH/$name.err"; then fail "$name succeeded"; fi
  expect "$SCRATCH/$name.err" "set(last) == {'domain','code','description'}" "$name error object"
}

"$FP" seed --folders 1 --items 2 --file-size 10 > "$SCRATCH/seed.json"
"$FP" list-all working-set > "$SCRATCH/all.json"
ITEM=$(json "$SCRATCH/all.json" "[i for p in lines[:-1] for i in p['items'] if i['itemIdentifier'].startswith('Item|')][0]['itemIdentifier']")
FOLDER=$(json "$SCRATCH/all.json" "[i for p in lines[:-1] for i in p['items'] if i['itemIdentifier'].startswith('Folder|')][0]['itemIdentifier']")
ID=${ITEM#Item|}
FOLDER_ID=${FOLDER#Folder|}

"$FP" link "$ITEM" > "$SCRATCH/link.json"
expect "$SCRATCH/link.json" "last == {'item': '$ID', 'link': 'quillet://link?item=$ID'}" "link of an item"
"$FP" link "$ID" --from "$FOLDER_ID" > "$SCRATCH/link-from.json"
expect "$SCRATCH/link-from.json" "last['link'] == 'quillet://link?item=$ID&from=$FOLDER_ID'" "link with its referring item"
expect_error link-folder "$FP" link "$FOLDER"
expect_error link-missing "$FP" link 00000000-0000-4000-8000-000000000000

# Nothing is mounted at the mount point: the library's own file.
"$FP" open "quillet://link?item=$ID" --mount-point "$SCRATCH/nothing-here" > "$SCRATCH/open.json"
FILE=$(json "$SCRATCH/open.json" "last['path']")
expect "$SCRATCH/open.json" "last['item'] == '$ID' and not last['mounted']" "open without a mount"
[[ -f "$FILE" && "$FILE" == "$QLT_GROUP_CONTAINER"/* ]] || fail "open names the library's file: $FILE"

# --open hands the path to xdg-open.
mkdir -p "$SCRATCH/bin"
printf '#!/bin/sh\nprintf "%%s" "$1" > "%s/opened"\n' "$SCRATCH" > "$SCRATCH/bin/xdg-open"
chmod +x "$SCRATCH/bin/xdg-open"
PATH="$SCRATCH/bin:$PATH" "$FP" open "quillet://link?item=$ID&from=$FOLDER_ID" --open \
  --mount-point "$SCRATCH/nothing-here" > "$SCRATCH/opened.json"
expect "$SCRATCH/opened.json" "last['opened'] and last['from'] == '$FOLDER_ID'" "opened"
[[ "$(cat "$SCRATCH/opened")" == "$FILE" ]] || fail "xdg-open got the file"

# Links that are not the library's, or name nothing in it.
expect_error open-scheme "$FP" open "https://link?item=$ID"
expect "$SCRATCH/open-scheme.err" "last['domain'] == 'QLTItemLinkErrorDomain' and 'scheme' in last['description']" "other scheme"
expect_error open-folder "$FP" open "quillet://link?item=$FOLDER_ID"
expect "$SCRATCH/open-folder.err" "last['code'] == 10002" "a folder's identifier names no item"
expect_error open-dots "$FP" open "quillet://link?item=..%2F..%2Fetc%2Fpasswd"
expect_error open-extra "$FP" open "quillet://link?item=$ID&item=$ID"

# A file changed by another program while `serve` runs reaches its item.
"$FP" serve > "$SCRATCH/serve.out" 2> "$SCRATCH/serve.err" &
SERVER=$!
for _ in $(seq 100); do grep -q serving "$SCRATCH/serve.out" 2>/dev/null && break; sleep 0.1; done
printf 'forty-two bytes written by another program' > "$FILE"
for _ in $(seq 40); do
  "$FP" item "$ITEM" > "$SCRATCH/changed.json"
  [[ "$(json "$SCRATCH/changed.json" "last['documentSize']")" == 42 ]] && break
  sleep 0.1
done
expect "$SCRATCH/changed.json" "last['documentSize'] == 42" "the changed file's size within seconds"
kill -TERM "$SERVER"
wait "$SERVER" || fail "serve exit status"
SERVER=
echo "links: ok"
