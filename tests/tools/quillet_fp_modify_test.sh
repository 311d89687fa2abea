#!/usr/bin/env bash
# End-to-end modification through quillet-fp: the service's modify request
# with exactly the fields its options name. A created item renamed and given
# new contents is reported once by change enumeration, with its final name
# and size, and its contents are the new bytes; refused requests change
# nothing.
set -euo pipefail

FP=${1:?usage: quillet_fp_modify_test.sh path/to/quillet-fp}
SCRATCH=$(mktemp -d /tmp/qlt-modify-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/scratch_library.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { [[ "$(json "$1" "bool($2)")" == "True" ]] || fail "$3: $(cat "$1")"; }
expect_error() {
  local name=$1 code=$2; shift 2
  if "$@" > "$SCRATCH/$name.out" 2> "$SCRATCH/$name.err"; then fail "$name succeeded"; fi
  expect "$SCRATCH/$name.err" "last['code'] == $code and last['pendingFields'] > 0" "$name error"
}

"$FP" status > /dev/null
FILES="$QLT_GROUP_CONTAINER/Quillet/Files"
echo "first draft" > "$SCRATCH/draft.txt"
"$FP" create root --name Draft.txt --from "$SCRATCH/draft.txt" > "$SCRATCH/created.json"
ITEM=$(json "$SCRATCH/created.json" "last['created']['itemIdentifier']")
"$FP" create root --name Later --folder > "$SCRATCH/folder.json"
FOLDER=$(json "$SCRATCH/folder.json" "last['created']['itemIdentifier']")
"$FP" anchor > "$SCRATCH/anchor.json"
ANCHOR=$(json "$SCRATCH/anchor.json" "last['anchor'] or ''")
ANCHOR_ARGS=()
[[ -n "$ANCHOR" ]] && ANCHOR_ARGS=(--anchor "$ANCHOR")

"$FP" modify "$ITEM" --name Final.txt > "$SCRATCH/renamed.json"
expect "$SCRATCH/renamed.json" "last['modified']['filename'] == 'Final.txt' and last['pendingFields'] == 0" "renamed"
[[ -f "$FILES/Final.txt" && ! -e "$FILES/Draft.txt" ]] || fail "the file was not renamed"

head -c 7000 /dev/urandom > "$SCRATCH/final.bin"
"$FP" modify "$ITEM" --contents "$SCRATCH/final.bin" --modified 2024-05-01T12:00:00Z --tags Done > "$SCRATCH/edited.json"
expect "$SCRATCH/edited.json" "last['modified']['documentSize'] == 7000" "new size"
expect "$SCRATCH/edited.json" "last['modified']['contentModificationDate'] == '2024-05-01T12:00:00Z'" "new date"
cmp "$SCRATCH/final.bin" "$FILES/Final.txt" || fail "the file holds other bytes"

"$FP" changes working-set "${ANCHOR_ARGS[@]}" > "$SCRATCH/changes.json"
expect "$SCRATCH/changes.json" "[(i['filename'], i['documentSize']) for b in lines for i in b['updated'] if i['itemIdentifier'] == '$ITEM'] == [('Final.txt', 7000)]" \
  "reported once, as it ends"
"$FP" fetch "$ITEM" --to "$SCRATCH/fetched.bin" > /dev/null
cmp "$SCRATCH/final.bin" "$SCRATCH/fetched.bin" || fail "fetch returns other bytes"

# Moves: into a folder, into the trash and back.
"$FP" modify "$ITEM" --parent "$FOLDER" > "$SCRATCH/moved.json"
expect "$SCRATCH/moved.json" "last['modified']['parentItemIdentifier'] == '$FOLDER'" "moved"
[[ -f "$FILES/Later/Final.txt" ]] || fail "the file did not move"
"$FP" modify "$ITEM" --parent trash > "$SCRATCH/trashed.json"
expect "$SCRATCH/trashed.json" "last['modified']['parentItemIdentifier'] == 'NSFileProviderTrashContainerItemIdentifier'" \
  "trashed"
"$FP" modify "$ITEM" --parent root > "$SCRATCH/back.json"
expect "$SCRATCH/back.json" "last['modified']['parentItemIdentifier'] == 'NSFileProviderRootContainerItemIdentifier'" \
  "back from the trash"

# Name clashes: refused, or numbered with --may-exist.
echo other > "$SCRATCH/other.txt"
"$FP" create root --name Other.txt --from "$SCRATCH/other.txt" > "$SCRATCH/other.json"
OTHER=$(json "$SCRATCH/other.json" "last['created']['itemIdentifier']")
expect_error clash 4101 "$FP" modify "$OTHER" --name Final.txt
"$FP" modify "$OTHER" --name Final.txt --may-exist > "$SCRATCH/numbered.json"
expect "$SCRATCH/numbered.json" "last['modified']['filename'] == 'Final 1.txt'" "numbered name"

# Refused requests change nothing.
ls -AR "$FILES" > "$SCRATCH/before.txt"
ln -s /etc/passwd "$SCRATCH/link"
expect_error unknown -1005 "$FP" modify "Item|00000000-0000-4000-8000-000000000000" --name x.txt
expect_error item-parent -1005 "$FP" modify "$OTHER" --parent "$ITEM"
expect_error escape 514 "$FP" modify "$OTHER" --name "../x.txt"
expect_error missing 4 "$FP" modify "$OTHER" --contents "$SCRATCH/missing"
expect_error link 4101 "$FP" modify "$OTHER" --contents "$SCRATCH/link"
ls -AR "$FILES" > "$SCRATCH/after.txt"
cmp "$SCRATCH/before.txt" "$SCRATCH/after.txt" || fail "files changed: $(diff "$SCRATCH/before.txt" "$SCRATCH/after.txt")"
cmp "$SCRATCH/final.bin" "$FILES/Final.txt" || fail "a refused request touched the item"
echo "modify tests passed"
