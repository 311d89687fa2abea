#!/usr/bin/env bash
# The library through a real FUSE mount, checked with ordinary tools: the
# tree, sizes, dates, bytes and extended attributes match what the
# service's requests report, and changes made by another process show in
# the mount within two seconds. Exits 77 (skipped) only where this machine
# cannot mount.
set -euo pipefail

FP=${1:?usage: mount_test.sh path/to/quillet-fp}
if ! { exec 3<>/dev/fuse; } 2>/dev/null; then echo "SKIP: /dev/fuse cannot be opened here"; exit 77; fi
exec 3>&-
command -v fusermount3 >/dev/null || { echo "SKIP: fusermount3 is not installed"; exit 77; }

SCRATCH=$(mktemp -d /tmp/qlt-mount-XXXXXX)
MOUNT="$SCRATCH/mnt"
MOUNTER=
# Sanitizer reports land in files: the extension writes its standard error
# to its log file, which goes with the scratch folder.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:log_path=$SCRATCH/sanitizer"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-}:log_path=$SCRATCH/sanitizer"
cleanup() {
  for report in "$SCRATCH"/sanitizer*; do [[ -f "$report" ]] && cat "$report" >&2; done
  if mountpoint -q "$MOUNT" 2>/dev/null; then fusermount3 -u "$MOUNT" 2>/dev/null || fusermount3 -uz "$MOUNT" || true; fi
  if [[ -n "$MOUNTER" ]]; then kill "$MOUNTER" 2>/dev/null || true; wait "$MOUNTER" 2>/dev/null || true; fi
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../support/scratch_library.sh"

fail() { echo "FAIL: $*" >&2; [[ -f "$SCRATCH/mount.err" ]] && tail -20 "$SCRATCH/mount.err" >&2; exit 1; }
# eventually SECONDS COMMAND...: retries the command until it succeeds.
# Changes reach an idle mount well within two seconds; the checks below
# allow twice that, as ctest runs other programs beside this one.
CHANGE_SECONDS=4
eventually() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do (( SECONDS < deadline )) || return 1; sleep 0.1; done
}

"$FP" seed --folders 1 --items 2000 --file-size 100 > /dev/null
"$FP" seed --folders 2 --items 6 --file-size 300 > /dev/null
"$FP" list-all root --page-size 500 > "$SCRATCH/root.json"
BIG=$(json "$SCRATCH/root.json" "[i for p in lines[:-1] for i in p['items'] if i['filename'] == 'Folder 000001'][0]['itemIdentifier']")
"$FP" list-all "$BIG" --page-size 500 > "$SCRATCH/big.json"

"$FP" mount "$MOUNT" --foreground > "$SCRATCH/mount.out" 2> "$SCRATCH/mount.err" &
MOUNTER=$!
eventually 20 grep -q '"mounted"' "$SCRATCH/mount.out" || fail "the mount did not come up"
mountpoint -q "$MOUNT" || fail "nothing is mounted at $MOUNT"

# The top: the root folder's contents and the trash, once each.
ls -1 "$MOUNT" > "$SCRATCH/top.txt"
python3 - "$SCRATCH/root.json" "$SCRATCH/top.txt" <<'PY' || fail "the top level differs from the root listing"
import json, sys
pages = [json.loads(l) for l in open(sys.argv[1]) if l.strip()][:-1]
expected = sorted([i['filename'] for p in pages for i in p['items']] + ['Deleted Items'])
shown = sorted(l.rstrip('\n') for l in open(sys.argv[2]))
sys.exit(0 if expected == shown else f"{expected} != {shown}")
PY

# The 2,000-entry folder: every item once, with its size and date.
find "$MOUNT/Folder 000001" -mindepth 1 -maxdepth 1 -printf '%f\t%s\t%T@\t%m\n' > "$SCRATCH/big.txt"
python3 - "$SCRATCH/big.json" "$SCRATCH/big.txt" <<'PY' || fail "the big folder differs from its listing"
import json, sys, datetime
pages = [json.loads(l) for l in open(sys.argv[1]) if l.strip()][:-1]
items = {i['filename']: i for p in pages for i in p['items']}
rows = [l.rstrip('\n').split('\t') for l in open(sys.argv[2])]
names = [r[0] for r in rows]
if len(names) != len(set(names)) or set(names) != set(items) or len(items) != 2000:
    sys.exit(f"{len(names)} shown, {len(set(names))} distinct, {len(items)} listed")
for name, size, mtime, mode in rows:
    item = items[name]
    if int(size) != item['documentSize']: sys.exit(f"{name}: size {size} != {item['documentSize']}")
    when = datetime.datetime.fromisoformat(item['contentModificationDate'].replace('Z', '+00:00')).timestamp()
    if not 0 <= float(mtime) - when < 1: sys.exit(f"{name}: date {mtime} != {when}")
    if mode != '644': sys.exit(f"{name}: mode {mode}")
PY

# Bytes and extended attributes of one item, against its contents and
# descriptor.
ITEM=$(json "$SCRATCH/big.json" "lines[0]['items'][0]['itemIdentifier']")
NAME=$(json "$SCRATCH/big.json" "lines[0]['items'][0]['filename']")
"$FP" fetch "$ITEM" --to "$SCRATCH/fetched" > /dev/null
cmp "$MOUNT/Folder 000001/$NAME" "$SCRATCH/fetched" || fail "the bytes differ"
IDENTIFIER=$(getfattr --absolute-names --only-values -n user.com.quillet.identifier "$MOUNT/Folder 000001/$NAME")
[[ "Item|$IDENTIFIER" == "$ITEM" ]] || fail "identifier attribute $IDENTIFIER for $ITEM"
getfattr --absolute-names -d "$MOUNT/Folder 000001/$NAME" | grep -q 'user.com.quillet.identifier' || fail "listxattr misses the identifier"
if getfattr --absolute-names -n user.missing "$MOUNT/Folder 000001/$NAME" 2>/dev/null; then fail "a missing attribute was found"; fi
if ls "$MOUNT/no such item" 2>/dev/null; then fail "a missing name was found"; fi

# Another process adds items: they show within two seconds, in the top
# and in the folder already listed.
"$FP" seed --items 2 --file-size 10 > /dev/null
shown_at_top() { [[ $(ls -1 "$MOUNT" | grep -c '^Item ') -eq 2 ]]; }
eventually "$CHANGE_SECONDS" shown_at_top || fail "new items did not show at the top: $(ls "$MOUNT")"

# The host application renames, moves, trashes and deletes in another
# process: each shows in the mount within two seconds.
"$FP" list-all root --page-size 500 > "$SCRATCH/root2.json"
TOP_ITEM=$(json "$SCRATCH/root2.json" "[i for p in lines[:-1] for i in p['items'] if i['filename'] == 'Item 000001.txt'][0]['itemIdentifier']")
OTHER_TOP=$(json "$SCRATCH/root2.json" "[i for p in lines[:-1] for i in p['items'] if i['filename'] == 'Item 000002.txt'][0]['itemIdentifier']")
SECOND=$(json "$SCRATCH/root2.json" "[i for p in lines[:-1] for i in p['items'] if i['filename'] == 'Folder 000002'][0]['itemIdentifier']")
ls "$MOUNT/Folder 000002" > /dev/null
"$FP" host rename "$TOP_ITEM" "Renamed.txt" > /dev/null
renamed() { [[ -e "$MOUNT/Renamed.txt" && ! -e "$MOUNT/Item 000001.txt" ]]; }
eventually "$CHANGE_SECONDS" renamed || fail "the rename did not show: $(ls "$MOUNT")"
"$FP" host move "$TOP_ITEM" "$SECOND" > /dev/null
moved() { [[ -e "$MOUNT/Folder 000002/Renamed.txt" && ! -e "$MOUNT/Renamed.txt" ]]; }
eventually "$CHANGE_SECONDS" moved || fail "the move did not show: $(ls "$MOUNT" "$MOUNT/Folder 000002")"
[[ $(wc -c < "$MOUNT/Folder 000002/Renamed.txt") -eq 10 ]] || fail "the moved item reads wrong"
"$FP" host trash "$ITEM" > /dev/null
trashed() { [[ ! -e "$MOUNT/Folder 000001/$NAME" ]] && ls "$MOUNT/Deleted Items" | grep -q "^${NAME%.txt}"; }
eventually "$CHANGE_SECONDS" trashed || fail "the trashing did not show: $(ls "$MOUNT/Deleted Items")"
"$FP" host delete "$OTHER_TOP" > /dev/null
deleted() { ! ls -1 "$MOUNT" | grep -qx 'Item 000002.txt'; }
eventually "$CHANGE_SECONDS" deleted || fail "the deletion did not show: $(ls "$MOUNT")"

# An item link resolves to the item's path in the mount; a file that another
# program changes in the library's directories shows there with its new size.
LINKED="quillet://link?item=${TOP_ITEM#Item|}"
"$FP" open "$LINKED" --mount-point "$MOUNT" > "$SCRATCH/open.json" || fail "open: $(cat "$SCRATCH/open.json")"
[[ $(json "$SCRATCH/open.json" "last['path']") == "$MOUNT/Folder 000002/Renamed.txt" ]] || fail "open: $(cat "$SCRATCH/open.json")"
"$FP" open "quillet://link?item=${ITEM#Item|}" --mount-point "$MOUNT" > "$SCRATCH/open-trashed.json"
TRASHED=$(json "$SCRATCH/open-trashed.json" "last['path']")
[[ "$TRASHED" == "$MOUNT/Deleted Items/"* && -f "$TRASHED" ]] || fail "open of a trashed item: $TRASHED"
"$FP" open "$LINKED" --mount-point "$SCRATCH/not-mounted" > "$SCRATCH/open-file.json"
LIBRARY_FILE=$(json "$SCRATCH/open-file.json" "last['path']")
printf 'forty-two bytes written by another program' > "$LIBRARY_FILE"
resized() { [[ $(stat -c %s "$MOUNT/Folder 000002/Renamed.txt") -eq 42 ]]; }
eventually "$CHANGE_SECONDS" resized || fail "the changed file did not show: $(stat -c %s "$MOUNT/Folder 000002/Renamed.txt")"

# The host application's requests reach the mount's extension: a reimport
# lists the folder afresh, an unknown item is refused, and materializing a
# path in the mount reads it through the mount.
"$FP" reimport "$BIG" > "$SCRATCH/reimport.json" || fail "reimport: $(cat "$SCRATCH/reimport.json")"
[[ $(find "$MOUNT/Folder 000001" -mindepth 1 -maxdepth 1 | wc -l) -eq 1999 ]] || fail "the reimported folder lost entries"
if "$FP" reimport "Item|NO-SUCH-ITEM" > /dev/null 2>&1; then fail "reimport of an unknown item succeeded"; fi
"$FP" materialize "$MOUNT/Folder 000002/Renamed.txt" > "$SCRATCH/materialize.json" 2>&1 ||
  fail "materialize: $(cat "$SCRATCH/materialize.json")"

fusermount3 -u "$MOUNT" || fail "unmounting failed"
wait "$MOUNTER" || fail "the mount process failed"
MOUNTER=
grep -q '"unmounted"' "$SCRATCH/mount.out" || fail "the mount did not say it stopped"
echo "mount test passed"
