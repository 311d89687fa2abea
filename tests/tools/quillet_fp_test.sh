#!/usr/bin/env bash
# End-to-end run of quillet-fp on a scratch group container: seeding,
# paged listing, changes and anchors, item lookups and contents, searches
# and groups, argument
# errors, and the host application's requests through `serve`.
set -euo pipefail

FP=${1:?usage: quillet_fp_test.sh path/to/quillet-fp}
SCRATCH=$(mktemp -d /tmp/qlt-fp-XXXXXX)
SERVER=
cleanup() {
  if [[ -n "$SERVER" ]]; then kill "$SERVER" 2>/dev/null || true; wait "$SERVER" 2>/dev/null || true; fi
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../support/scratch_library.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { [[ "$(json "$1" "bool($2)")" == "True" ]] || fail "$3: $(cat "$1")"; }
# expect_error OUTFILE COMMAND...: the command fails with one JSON error.
expect_error() {
  local name=$1; shift
  if "$@" > "$SCRATCH/$name.out" 2> "$SCRATCH/$name.err"; then fail "$name succeeded"; fi
  expect "$SCRATCH/$name.err" "set(last) == {'domain','code','description'}" "$name error object"
}

"$FP" seed --folders 3 --items 6 --file-size 100 > "$SCRATCH/seed1.json"
expect "$SCRATCH/seed1.json" "last['folders'] == 3 and last['items'] == 6 and last['files'] == 6" "seed into folders"
"$FP" anchor > "$SCRATCH/seeded1.json"
SEEDED1=$(json "$SCRATCH/seeded1.json" "last['anchor']")
"$FP" seed --items 3 --file-size 100 > "$SCRATCH/seed2.json"
expect "$SCRATCH/seed2.json" "last['items'] == 3" "seed into the root"
# The second seed is one save stamping three items with one date: followed
# from the anchor before it, batch by batch, each is reported once.
"$FP" changes working-set --anchor "$SEEDED1" --batch-size 2 > "$SCRATCH/seed2-changes.json"
expect "$SCRATCH/seed2-changes.json" \
  "len(lines) == 2 and lines[0]['moreComing'] and not last['moreComing'] and sorted(i['filename'] for b in lines for i in b['updated']) == ['Item 000001.txt', 'Item 000002.txt', 'Item 000003.txt']" \
  "one save larger than a batch"

# Root: 3 folders and 3 items, followed page by page with the printed token.
: > "$SCRATCH/pages.json"
TOKEN=
for _ in 1 2 3 4; do
  if [[ -z "$TOKEN" ]]; then "$FP" list root --page-size 2 >> "$SCRATCH/pages.json"
  else "$FP" list root --page-size 2 --page "$TOKEN" >> "$SCRATCH/pages.json"; fi
  TOKEN=$(json "$SCRATCH/pages.json" "last['nextPage'] or ''")
  [[ -n "$TOKEN" ]] || break
done
expect "$SCRATCH/pages.json" "len(lines) == 3 and all(len(p['items']) == 2 for p in lines)" "three pages of two"
expect "$SCRATCH/pages.json" \
  "[i['itemIdentifier'].split('|')[0] for p in lines for i in p['items']] == ['Folder']*3 + ['Item']*3" \
  "folders before items"
expect "$SCRATCH/pages.json" "lines[0]['nextPage'] == '{\"foldersReturned\":2,\"itemsReturned\":0}'" "token text"
FOLDER=$(json "$SCRATCH/pages.json" "lines[0]['items'][0]['itemIdentifier']")
ITEM=$(json "$SCRATCH/pages.json" "lines[2]['items'][1]['itemIdentifier']")

"$FP" list-all working-set --page-size 5 > "$SCRATCH/all.json"
expect "$SCRATCH/all.json" "last['summary'] == {'pages': 3, 'items': 12}" "list-all summary"

"$FP" changes working-set --batch-size 5 > "$SCRATCH/changes.json"
expect "$SCRATCH/changes.json" "sum(len(b['updated']) for b in lines) == 12 and not last['moreComing']" \
  "changes without an anchor"
expect "$SCRATCH/changes.json" "lines[0]['moreComing']" "first batch has more coming"
ANCHOR=$(json "$SCRATCH/changes.json" "last['anchor']")
"$FP" changes working-set --anchor "$ANCHOR" > "$SCRATCH/since.json"
expect "$SCRATCH/since.json" "last['updated'] == [] and last['anchor'] == '$ANCHOR' and not last['moreComing']" \
  "nothing changed since the anchor"

"$FP" anchor > "$SCRATCH/anchor.json"
expect "$SCRATCH/anchor.json" "last['anchor'] == '$ANCHOR'" "current anchor"

"$FP" item "$FOLDER" > "$SCRATCH/folder.json"
expect "$SCRATCH/folder.json" "last['childItemCount'] == 2 and last['parentItemIdentifier'] == 'NSFileProviderRootContainerItemIdentifier'" \
  "folder descriptor"
"$FP" item "$ITEM" > "$SCRATCH/item.json"
expect "$SCRATCH/item.json" "last['documentSize'] == 100 and last['filename'].startswith('Item ') and last['itemVersion']['content']" \
  "item descriptor"
"$FP" fetch "$ITEM" --to "$SCRATCH/copy.txt" > "$SCRATCH/fetch.json"
[[ "$(cat "$SCRATCH/copy.txt")" == "$(printf 'q%.0s' $(seq 100))" ]] || fail "fetched contents"
"$FP" service-sources NSFileProviderRootContainerItemIdentifier > "$SCRATCH/sources.json"
expect "$SCRATCH/sources.json" "last == {'count': 1, 'services': ['com.quillet-FileProvider']}" "service sources"

"$FP" search 000002 --fields name --sort name:desc > "$SCRATCH/search.json"
expect "$SCRATCH/search.json" "[i['filename'] for i in lines] == ['Item 000002.txt'] * 2" "name search"
"$FP" search --option 'size:>50' --in "${FOLDER#Folder|}" --sort size > "$SCRATCH/search-in.json"
expect "$SCRATCH/search-in.json" "len(lines) == 2" "search within a folder"
"$FP" search --option 'tags:' --limit 4 > "$SCRATCH/untagged.json"
expect "$SCRATCH/untagged.json" "len(lines) == 4" "untagged items, limited"
"$FP" groups > "$SCRATCH/groups.json"
expect "$SCRATCH/groups.json" \
  "{g['kind']: g['items'] for g in lines} == {'library': 9, 'recents': 9, 'favorites': 0, 'unfiled': 3, 'no-label': 9}" \
  "groups and their counts"
expect_error bad-option "$FP" search --option 'colour:red'
expect_error bad-sort "$FP" search report --sort colour
expect_error bad-field "$FP" search report --fields colour

expect_error token "$FP" list root --page 'not a token'
expect "$SCRATCH/token.err" "last['domain'] == 'QLTCommandLineErrorDomain'" "token error domain"
expect_error anchor-text "$FP" changes working-set --anchor '%%%'
expect_error anchor-data "$FP" changes working-set --anchor 'aGVsbG8='
expect_error no-item "$FP" item 'Item|no-such-item'
expect_error bad-container "$FP" list 'Folder|missing'
expect_error sources-missing "$FP" service-sources 'Item|no-such-item'
expect_error no-server "$FP" reimport NSFileProviderRootContainerItemIdentifier

# The host application's changes reach change enumeration; a deletion is
# reported once.
OTHER=$(json "$SCRATCH/pages.json" "lines[2]['items'][0]['itemIdentifier']")
"$FP" anchor > "$SCRATCH/before-host.json"
BEFORE_HOST=$(json "$SCRATCH/before-host.json" "last['anchor']")
"$FP" host rename "$FOLDER" "Renamed Folder" > "$SCRATCH/host-rename.json"
expect "$SCRATCH/host-rename.json" "last['renamed']['name'] == 'Renamed Folder'" "host rename"
[[ -d "$QLT_GROUP_CONTAINER/Quillet/Files/Renamed Folder" ]] || fail "renamed directory"
"$FP" host delete "$OTHER" > "$SCRATCH/host-delete.json"
expect "$SCRATCH/host-delete.json" "last == {'deleted': ['$OTHER']}" "host delete"
"$FP" changes working-set --anchor "$BEFORE_HOST" > "$SCRATCH/host-changes.json"
expect "$SCRATCH/host-changes.json" \
  "[d for b in lines for d in b['deleted']] == ['$OTHER'] and [i['filename'] for b in lines for i in b['updated']] == ['Renamed Folder']" \
  "host changes reported"
"$FP" changes working-set --anchor "$BEFORE_HOST" > "$SCRATCH/host-changes2.json"
expect "$SCRATCH/host-changes2.json" "all(b['deleted'] == [] for b in lines)" "a deletion is reported once"

# Bad requests change nothing.
expect_error host-cycle "$FP" host move "$FOLDER" "$FOLDER"
expect_error host-missing-folder "$FP" host move "$ITEM" 'Folder|no-such-folder'
expect_error host-system "$FP" host delete NSFileProviderRootContainerItemIdentifier
expect_error delete-nonempty "$FP" delete "$FOLDER"
expect "$SCRATCH/delete-nonempty.err" "last['code'] == -1007" "non-empty folder refused"
"$FP" item "$FOLDER" > "$SCRATCH/folder-after.json"
expect "$SCRATCH/folder-after.json" "last['childItemCount'] == 2 and last['parentItemIdentifier'] == 'NSFileProviderRootContainerItemIdentifier'" \
  "folder untouched"
[[ $(ls "$QLT_GROUP_CONTAINER/Quillet/Files/Renamed Folder" | wc -l) == 2 ]] || fail "folder contents kept"
"$FP" delete "$FOLDER" --recursive > "$SCRATCH/delete.json"
expect "$SCRATCH/delete.json" "last == {'deleted': '$FOLDER', 'recursive': True}" "recursive delete"
[[ ! -e "$QLT_GROUP_CONTAINER/Quillet/Files/Renamed Folder" ]] || fail "folder directory removed"
expect_error deleted-item "$FP" item "$FOLDER"

"$FP" serve > "$SCRATCH/serve.out" 2> "$SCRATCH/serve.err" &
SERVER=$!
for _ in $(seq 100); do grep -q serving "$SCRATCH/serve.out" 2>/dev/null && break; sleep 0.1; done
SOCKET=$(json "$SCRATCH/serve.out" "lines[0]['serving']")
[[ "$(stat -c %a "$SOCKET")" == 600 ]] || fail "socket mode"
CONTENTS=$(json "$SCRATCH/fetch.json" "last['contents']")
"$FP" materialize "$CONTENTS" > "$SCRATCH/materialize.json"
expect "$SCRATCH/materialize.json" "last == {'URL': '$CONTENTS'}" "materialize reply"
"$FP" reimport NSFileProviderRootContainerItemIdentifier > "$SCRATCH/reimport.json"
expect "$SCRATCH/reimport.json" "last == {'Success': True}" "reimport reply"
python3 - "$SOCKET" <<'PY' || fail "malformed frame reply"
import json, socket, struct, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])
s.sendall(struct.pack('>I', 5) + b'nope!')
size = struct.unpack('>I', s.recv(4))[0]
reply = json.loads(s.recv(size))
assert 'Error' in reply, reply
assert s.recv(1) == b'', 'connection stays open'
PY
kill -TERM "$SERVER"
wait "$SERVER" || fail "serve exit status"
SERVER=
[[ ! -e "$SOCKET" ]] || fail "socket left behind"

# Text files: RTF with a text-list checklist becomes a note, takes text and
# an attachment, and goes back out as plain text.
TEXT="$SCRATCH/text"; mkdir -p "$TEXT"
printf '{\\rtf1 Hello {\\b world} #tag_one\\par\\tab \\u10003?\\tab done\\par}' > "$TEXT/in.rtf"
echo zip > "$TEXT/data.zip"
"$FP" text-read "$TEXT/in.rtf" > "$TEXT/read.json"
expect "$TEXT/read.json" "last['type'] == 'rich text' and last['tags'] == ['tag one']" "text-read of RTF"
"$FP" text-convert "$TEXT/in.rtf" "$TEXT/Note.qltnote" > "$TEXT/convert.json"
[[ -f "$TEXT/Note.qltnote/NoteText" && -f "$TEXT/Note.qltnote/TXT.rtf" ]] || fail "note package entries"
"$FP" text-append "$TEXT/Note.qltnote" --text " more #x" --attachment "$TEXT/data.zip" > "$TEXT/append.json"
expect "$TEXT/append.json" "last['type'] == 'note' and last['attachments'] == ['data.zip'] and 'x' in last['tags']" \
  "text-append to a note"
[[ -f "$TEXT/Note.qltnote/data.zip" ]] || fail "attachment file in the package"
"$FP" text-convert "$TEXT/Note.qltnote" "$TEXT/out.txt" > /dev/null
grep -q "done" "$TEXT/out.txt" || fail "plain-text export"
expect_error text_unsupported "$FP" text-read "$TEXT/data.zip"

echo "quillet_fp_cli: 1 passed, 0 failed"
