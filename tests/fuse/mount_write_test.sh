#!/usr/bin/env bash
# Writing through a real FUSE mount with programs no one here wrote:
# rsync, tar, git, an editor's save, and the system calls programs make
# (O_TRUNC, appends, small writes, renames of open files, renameat2 flags,
# long names, extended attributes, a writer killed mid-way). After each,
# the library on disk matches what the service reports: every item has its
# file and no file lacks an item. Exits 77 (skipped) only where this
# machine cannot mount.
set -euo pipefail

FP=${1:?usage: mount_write_test.sh path/to/quillet-fp}
if ! { exec 3<>/dev/fuse; } 2>/dev/null; then echo "SKIP: /dev/fuse cannot be opened here"; exit 77; fi
exec 3>&-
command -v fusermount3 >/dev/null || { echo "SKIP: fusermount3 is not installed"; exit 77; }

SCRATCH=$(mktemp -d /tmp/qlt-mount-write-XXXXXX)
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
FILES="$QLT_GROUP_CONTAINER/Quillet/Files"

# The library's rows and its files agree: the working set's folders and
# items, by their stored names below the root, are exactly the entries of
# the Files directory.
consistent() {
  "$FP" list-all working-set --page-size 1000 > "$SCRATCH/all.json"
  python3 - "$SCRATCH/all.json" "$FILES" <<'PY' || fail "the library and its files differ after $1"
import json, os, sys
items = {}
for line in open(sys.argv[1]):
    if line.strip():
        for item in json.loads(line).get('items', []):
            items[item['itemIdentifier']] = item
root = 'NSFileProviderRootContainerItemIdentifier'
def path(item):
    parts = [item['filename']]
    while item['parentItemIdentifier'] != root:
        item = items.get(item['parentItemIdentifier'])
        if item is None:
            return None
        parts.append(item['filename'])
    return '/'.join(reversed(parts))
rows = {path(i) for i in items.values()} - {None}
packages = {p for p, i in ((path(i), i) for i in items.values()) if i['itemIdentifier'].startswith('Item|')}
files = set()
for directory, dirs, names in os.walk(sys.argv[2]):
    relative = os.path.relpath(directory, sys.argv[2])
    if relative != '.' and any(relative == p or relative.startswith(p + '/') for p in packages):
        dirs[:] = []
        continue
    for name in dirs + names:
        files.add(name if relative == '.' else relative + '/' + name)
files = {f for f in files if not any(f.startswith(p + '/') for p in packages)}
if rows != files:
    print('rows without files:', sorted(rows - files)[:10], 'files without rows:', sorted(files - rows)[:10])
    sys.exit(1)
PY
}

item_json() { "$FP" list-all working-set --page-size 1000 | python3 -c "
import json, sys
for line in sys.stdin:
    for i in json.loads(line).get('items', []):
        if i['filename'] == sys.argv[1]: print(json.dumps(i))" "$1"; }

"$FP" status > /dev/null
"$FP" mount "$MOUNT" --foreground > "$SCRATCH/mount.out" 2> "$SCRATCH/mount.err" &
MOUNTER=$!
for _ in $(seq 200); do grep -q '"mounted"' "$SCRATCH/mount.out" 2>/dev/null && break; sleep 0.1; done
mountpoint -q "$MOUNT" || fail "nothing is mounted at $MOUNT"

# The system calls of ordinary programs.
echo "first" > "$MOUNT/note.txt"
[[ "$(cat "$MOUNT/note.txt")" == first ]] || fail "a new file reads back"
cmp <(echo first) "$FILES/note.txt" || fail "the library's file holds the bytes"
echo "second" >> "$MOUNT/note.txt"
[[ "$(cat "$MOUNT/note.txt")" == $'first\nsecond' ]] || fail "append"
echo "truncated" > "$MOUNT/note.txt"
[[ "$(cat "$MOUNT/note.txt")" == truncated ]] || fail "O_TRUNC"
mkdir "$MOUNT/Projects" "$MOUNT/Projects/Inner"
mv "$MOUNT/note.txt" "$MOUNT/Projects/Inner/moved.txt"
[[ -f "$FILES/Projects/Inner/moved.txt" && ! -e "$FILES/note.txt" ]] || fail "a move reaches the library"
python3 - "$MOUNT" <<'PY' || fail "system calls"
import ctypes, errno, os, sys
mount = sys.argv[1]
# Many small writes, and a file renamed while it is open.
with open(f'{mount}/small.bin', 'wb') as f:
    for i in range(2000):
        f.write(bytes([i % 256]) * 7)
    os.rename(f'{mount}/small.bin', f'{mount}/renamed.bin')
    f.write(b'tail')
data = open(f'{mount}/renamed.bin', 'rb').read()
assert data == b''.join(bytes([i % 256]) * 7 for i in range(2000)) + b'tail', len(data)
assert not os.path.exists(f'{mount}/small.bin')
# rmdir of a folder with contents; names too long; renameat2's flags.
def expect(code, call, *args):
    try:
        call(*args)
    except OSError as error:
        assert error.errno == code, (call, args, error)
        return
    raise AssertionError(f'{call.__name__}{args} succeeded')
expect(errno.ENOTEMPTY, os.rmdir, f'{mount}/Projects')
expect(errno.ENAMETOOLONG, open, f'{mount}/{"n" * 256}', 'w')
expect(errno.ENAMETOOLONG, os.mkdir, f'{mount}/{"n" * 256}')
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, NOREPLACE, EXCHANGE = -100, 1, 2
open(f'{mount}/a.txt', 'w').write('a')
open(f'{mount}/b.txt', 'w').write('b')
for flags, code in ((NOREPLACE, errno.EEXIST), (EXCHANGE, errno.EINVAL)):
    result = libc.renameat2(AT_FDCWD, f'{mount}/a.txt'.encode(), AT_FDCWD, f'{mount}/b.txt'.encode(), flags)
    assert result == -1 and ctypes.get_errno() == code, (flags, result, ctypes.get_errno())
assert libc.renameat2(AT_FDCWD, f'{mount}/a.txt'.encode(), AT_FDCWD, f'{mount}/c.txt'.encode(), NOREPLACE) == 0
os.unlink(f'{mount}/b.txt')
os.unlink(f'{mount}/c.txt')
assert not os.path.exists(f'{mount}/b.txt')
PY
[[ ! -e "$FILES/b.txt" && ! -e "$FILES/c.txt" ]] || fail "removed files stay in the library"
consistent "system calls"

# Dates and tags.
touch -d "2020-01-02 03:04:05 UTC" "$MOUNT/Projects/Inner/moved.txt"
[[ "$(stat -c %Y "$MOUNT/Projects/Inner/moved.txt")" == 1577934245 ]] || fail "utimens shows"
item_json moved.txt > "$SCRATCH/moved.json"
json "$SCRATCH/moved.json" "last['contentModificationDate']" | grep -q 2020-01-02T03:04:05 || fail "utimens is a modify request"
setfattr -n user.xdg.tags -v "Work,Later" "$MOUNT/Projects/Inner/moved.txt"
[[ "$(getfattr --absolute-names --only-values -n user.xdg.tags "$MOUNT/Projects/Inner/moved.txt")" == "Work,Later" ]] || fail "tags read back"
item_json moved.txt > "$SCRATCH/tagged.json"
json "$SCRATCH/tagged.json" "last['tagData'] is not None" | grep -q True || fail "the tags are the item's tag data"
setfattr -n user.org.example.mark -v marked "$MOUNT/Projects/Inner/moved.txt"
[[ "$(getfattr --absolute-names --only-values -n user.org.example.mark "$MOUNT/Projects/Inner/moved.txt")" == marked ]] || fail "xattr"

# An editor's save: a swap file renamed over the original keeps the item.
echo "draft" > "$MOUNT/Projects/essay.txt"
item_json essay.txt > "$SCRATCH/before.json"
printf 'final words\n' > "$MOUNT/Projects/.essay.txt.swp"
mv "$MOUNT/Projects/.essay.txt.swp" "$MOUNT/Projects/essay.txt"
[[ "$(cat "$MOUNT/Projects/essay.txt")" == "final words" ]] || fail "the save shows the new bytes"
item_json essay.txt > "$SCRATCH/after.json"
python3 - "$SCRATCH/before.json" "$SCRATCH/after.json" <<'PY' || fail "the save kept one item with a new version"
import json, sys
before, after = (json.loads(open(p).read()) for p in sys.argv[1:3])
assert before['itemIdentifier'] == after['itemIdentifier']
assert before['itemVersion'] != after['itemVersion']
assert after['documentSize'] == 12
PY
[[ -z "$(ls -A "$MOUNT/Projects" | grep swp)" ]] || fail "the swap file stays"
consistent "an editor's save"

# A writer killed in the middle leaves the library consistent.
bash -c 'python3 -c "
import os, sys
f = open(sys.argv[1], \"wb\")
f.write(b\"x\" * 100000)
f.flush()
os.kill(os.getpid(), 9)" "$1" 2> /dev/null' killer "$MOUNT/killed.bin" 2> /dev/null || true
sleep 0.3
consistent "a killed writer"

# rsync in and out: a tree of 1,000 entries with spaces, Unicode, empty
# files and a 50 MB file.
SOURCE="$SCRATCH/source"
mkdir -p "$SOURCE"
python3 - "$SOURCE" <<'PY'
import os, sys
root = sys.argv[1]
count = 0
for d in range(13):
    for sub in ('', f'Ünter {d}/tief'):
        directory = os.path.join(root, f'Folder {d}', sub)
        os.makedirs(directory, exist_ok=True)
        count += 1
        for f in range(40):
            name = f'file {f}.txt' if f % 3 else f'data é{f}.bin'
            with open(os.path.join(directory, name), 'wb') as out:
                out.write(os.urandom(f * 41) if f % 5 else b'')
            count += 1
PY
head -c 50000000 /dev/urandom > "$SOURCE/big file.bin"
rsync -a "$SOURCE/" "$MOUNT/Copied/" || fail "rsync into the mount"
diff -r "$SOURCE" "$MOUNT/Copied" > "$SCRATCH/diff.txt" || fail "the copy differs: $(head -5 "$SCRATCH/diff.txt")"
rsync -a "$MOUNT/Copied/" "$SCRATCH/back/" || fail "rsync out of the mount"
diff -r "$SOURCE" "$SCRATCH/back" > "$SCRATCH/diff.txt" || fail "the copy back differs: $(head -5 "$SCRATCH/diff.txt")"
consistent "rsync"
"$FP" list-all working-set --page-size 1000 > "$SCRATCH/all.json"
expected=$(find "$SOURCE" -mindepth 1 | wc -l)
listed=$(json "$SCRATCH/all.json" "sum(1 for l in lines for i in l.get('items', []) if i['filename'] != 'Deleted Items')")
(( listed >= expected )) || fail "list-all shows $listed entries, the tree has $expected"

# tar in and out.
(cd "$SOURCE" && tar -cf "$SCRATCH/tree.tar" "Folder 1" "Folder 2")
mkdir "$MOUNT/Unpacked"
tar -xf "$SCRATCH/tree.tar" -C "$MOUNT/Unpacked" || fail "tar -x into the mount"
mkdir "$SCRATCH/untarred"
(cd "$MOUNT/Unpacked" && tar -cf "$SCRATCH/back.tar" "Folder 1" "Folder 2") || fail "tar -c from the mount"
tar -xf "$SCRATCH/back.tar" -C "$SCRATCH/untarred"
diff -r "$SCRATCH/untarred/Folder 1" "$SOURCE/Folder 1" > /dev/null || fail "tar round trip"
diff -r "$SCRATCH/untarred/Folder 2" "$SOURCE/Folder 2" > /dev/null || fail "tar round trip"
consistent "tar"

# git: lock files, renames over existing files, fsync.
mkdir "$MOUNT/Repository"
(
  cd "$MOUNT/Repository"
  git init -q .
  git config user.email someone@example.com
  git config user.name Someone
  echo "hello" > README
  mkdir src && echo "int main() {}" > src/main.c
  git add README src
  git commit -qm first
  echo "more" >> README
  git commit -qam second
  [[ -z "$(git status --porcelain)" ]]
  [[ "$(git log --oneline | wc -l)" == 2 ]]
  git fsck --no-progress 2> /dev/null
) || fail "git in the mount"
consistent "git"
echo "mount write tests passed"
