#!/usr/bin/env bash
# End-to-end creation through quillet-fp: the service's create request with
# a template built from the command line, and the host application's own
# import paths. Checks the listing, the bytes on disk and the changes
# database, and that refused requests leave nothing behind.
set -euo pipefail

FP=${1:?usage: quillet_fp_create_test.sh path/to/quillet-fp}
SCRATCH=$(mktemp -d /tmp/qlt-create-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/scratch_library.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { [[ "$(json "$1" "bool($2)")" == "True" ]] || fail "$3: $(cat "$1")"; }
expect_error() {
  local name=$1 code=$2; shift 2
  if "$@" > "$SCRATCH/$name.out" 2> "$SCRATCH/$name.err"; then fail "$name succeeded"; fi
  expect "$SCRATCH/$name.err" "last['code'] == $code" "$name error code"
}

"$FP" status > "$SCRATCH/status.json"
FILES="$QLT_GROUP_CONTAINER/Quillet/Files"
"$FP" anchor > "$SCRATCH/anchor.json"
ANCHOR=$(json "$SCRATCH/anchor.json" "last['anchor'] or ''")
ANCHOR_ARGS=()
[[ -n "$ANCHOR" ]] && ANCHOR_ARGS=(--anchor "$ANCHOR")

head -c 5000 /dev/urandom > "$SCRATCH/Report.bin"
"$FP" create root --name Report.bin --from "$SCRATCH/Report.bin" --tags Work,Later \
  --created 2021-02-03T04:05:06Z --modified 2022-03-04T05:06:07Z > "$SCRATCH/created.json"
expect "$SCRATCH/created.json" "last['created']['filename'] == 'Report.bin' and last['created']['documentSize'] == 5000" \
  "created descriptor"
expect "$SCRATCH/created.json" "last['created']['creationDate'] == '2021-02-03T04:05:06Z' and last['created']['contentModificationDate'] == '2022-03-04T05:06:07Z'" \
  "template dates"
ITEM=$(json "$SCRATCH/created.json" "last['created']['itemIdentifier']")
cmp "$SCRATCH/Report.bin" "$FILES/Report.bin" || fail "the item's file holds other bytes"
getfattr --absolute-names -d "$FILES/Report.bin" | grep -q "kMDItemUserTags" || fail "the tags are not on the file"

"$FP" list root > "$SCRATCH/list.json"
expect "$SCRATCH/list.json" "any(i['itemIdentifier'] == '$ITEM' and i['tagData'] for i in last['items'])" "listed with tags"
"$FP" changes working-set "${ANCHOR_ARGS[@]}" > "$SCRATCH/changes.json"
expect "$SCRATCH/changes.json" "[i['itemIdentifier'] for b in lines for i in b['updated']] == ['$ITEM']" "one change"

# A folder, and a file inside it.
"$FP" create root --name Projects --folder > "$SCRATCH/folder.json"
FOLDER=$(json "$SCRATCH/folder.json" "last['created']['itemIdentifier']")
[[ -d "$FILES/Projects" ]] || fail "no directory for the folder"
echo "plan" > "$SCRATCH/plan.txt"
"$FP" create "$FOLDER" --name plan.txt --from "$SCRATCH/plan.txt" > /dev/null
cmp "$SCRATCH/plan.txt" "$FILES/Projects/plan.txt" || fail "nested file"

# Name clashes: refused, or the existing item with --may-exist.
expect_error clash -1001 "$FP" create root --name Report.bin --from "$SCRATCH/plan.txt"
"$FP" create root --name Report.bin --from "$SCRATCH/plan.txt" --may-exist > "$SCRATCH/existing.json"
expect "$SCRATCH/existing.json" "last['created']['itemIdentifier'] == '$ITEM'" "may-exist returns the item"
cmp "$SCRATCH/Report.bin" "$FILES/Report.bin" || fail "may-exist wrote over the item"

# Refused requests leave the library as it was.
ls -A "$FILES" > "$SCRATCH/before.txt"
"$FP" list-all working-set > "$SCRATCH/before.json"
mkfifo "$SCRATCH/pipe"
ln -s /etc/passwd "$SCRATCH/link"
expect_error slash 514 "$FP" create root --name "a/b" --from "$SCRATCH/plan.txt"
expect_error dots 514 "$FP" create root --name ".." --from "$SCRATCH/plan.txt"
expect_error long 36 "$FP" create root --name "$(printf 'n%.0s' {1..256})" --from "$SCRATCH/plan.txt"
expect_error parent -1005 "$FP" create "$ITEM" --name x.txt --from "$SCRATCH/plan.txt"
expect_error missing 4 "$FP" create root --name x.txt --from "$SCRATCH/missing"
expect_error fifo 256 timeout 30 "$FP" create root --name x.txt --from "$SCRATCH/pipe"
expect_error link -2010 "$FP" create root --name x.txt --from "$SCRATCH/link"
ls -A "$FILES" > "$SCRATCH/after.txt"
cmp "$SCRATCH/before.txt" "$SCRATCH/after.txt" || fail "files changed: $(diff "$SCRATCH/before.txt" "$SCRATCH/after.txt")"
"$FP" list-all working-set > "$SCRATCH/after.json"
expect "$SCRATCH/after.json" "last['summary'] == $(json "$SCRATCH/before.json" "last['summary']")" "no new rows"

# The host application's import paths.
"$FP" host import "$SCRATCH/plan.txt" --folder "$FOLDER" > "$SCRATCH/import.json"
expect "$SCRATCH/import.json" "last['created']['filename'] == 'plan 1.txt'" "import takes a unique name"
cmp "$SCRATCH/plan.txt" "$FILES/Projects/plan 1.txt" || fail "imported bytes"
"$FP" host note $'Groceries\nmilk' > "$SCRATCH/note.json"
expect "$SCRATCH/note.json" "last['created']['filename'] == 'Groceries.qltnote'" "note name"
"$FP" text-read "$FILES/Groceries.qltnote" > "$SCRATCH/note-text.json"
grep -q milk "$SCRATCH/note-text.json" || fail "note text"
NOTE=$(json "$SCRATCH/note.json" "last['created']['itemIdentifier']")
expect_error replace-package 1 "$FP" host replace "$NOTE" "$SCRATCH/plan.txt"
"$FP" text-read "$FILES/Groceries.qltnote" > "$SCRATCH/note-text2.json"
grep -q milk "$SCRATCH/note-text2.json" || fail "a refused replacement changed the note"
"$FP" host weblink "https://example.com/a" > "$SCRATCH/link.json"
expect "$SCRATCH/link.json" "last['created']['filename'].endswith('.webloc')" "web link"
if "$FP" host weblink "not a url" > /dev/null 2>&1; then fail "a bad address was taken"; fi
echo "create tests passed"
