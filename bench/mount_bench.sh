#!/usr/bin/env bash
# The mount against the same files in a plain directory, measured in one
# run: `ls -l` of a folder of 10,000 items (first listing after mounting,
# then once listed), `cat` of a 100 MB item (first open, then once handed
# out), and the mount's resident memory after walking a 100,000-item
# library twice. Prints each figure and its ratio to the native one.
#   bench/mount_bench.sh [path/to/quillet-fp] [items-for-memory]
set -euo pipefail

FP=${1:-build/src/tools/quillet-fp}
MEMORY_ITEMS=${2:-100000}
SCRATCH=$(mktemp -d /tmp/qlt-mount-bench-XXXXXX)
PIDS=()
cleanup() {
  for mount in "$SCRATCH"/mnt-*; do mountpoint -q "$mount" 2>/dev/null && fusermount3 -u "$mount"; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

now() { date +%s.%N; }
seconds() { python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.3f}')" "$1" "$2"; }
ratio() { python3 -c "import sys; print(f'{float(sys.argv[1]) / max(float(sys.argv[2]), 1e-9):.2f}x')" "$1" "$2"; }
timed() { local start; start=$(now); "$@" > /dev/null; seconds "$start" "$(now)"; }

# library NAME: points the environment at a fresh group container.
library() {
  export QLT_GROUP_CONTAINER="$SCRATCH/$1/group"
  export XDG_CONFIG_HOME="$SCRATCH/$1/config" XDG_DATA_HOME="$SCRATCH/$1/data" XDG_CACHE_HOME="$SCRATCH/$1/cache"
  mkdir -p "$QLT_GROUP_CONTAINER" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
}
# mount NAME: mounts the current library at $SCRATCH/mnt-NAME; sets MOUNTED_PID.
mount_library() {
  local point="$SCRATCH/mnt-$1"
  "$FP" mount "$point" --foreground > "$SCRATCH/$1.out" 2> "$SCRATCH/$1.err" &
  MOUNTED_PID=$!
  PIDS+=("$MOUNTED_PID")
  until grep -q '"mounted"' "$SCRATCH/$1.out" 2>/dev/null; do sleep 0.05; done
}

library listing
"$FP" seed --folders 1 --items 10000 --file-size 100 > /dev/null
"$FP" seed --items 1 --file-size 104857600 > /dev/null
mkdir -p "$SCRATCH/native/folder"
(cd "$SCRATCH/native/folder" && for i in $(seq -w 1 10000); do head -c 100 /dev/zero > "Item 0$i.txt"; done)
head -c 104857600 /dev/urandom > "$SCRATCH/native/big"
ls -l "$SCRATCH/native/folder" > /dev/null
NATIVE_LS=$(timed ls -l "$SCRATCH/native/folder")
cat "$SCRATCH/native/big" > /dev/null
NATIVE_CAT=$(timed cat "$SCRATCH/native/big")

mount_library listing
FIRST_LS=$(timed ls -l "$SCRATCH/mnt-listing/Folder 000001")
LISTED_LS=$(timed ls -l "$SCRATCH/mnt-listing/Folder 000001")
BIG=$(ls "$SCRATCH/mnt-listing" | grep '^Item ' | head -1)
FIRST_CAT=$(timed cat "$SCRATCH/mnt-listing/$BIG")
CACHED_CAT=$(timed cat "$SCRATCH/mnt-listing/$BIG")
fusermount3 -u "$SCRATCH/mnt-listing"

echo "ls -l of 10,000 items: native ${NATIVE_LS}s; mount first ${FIRST_LS}s ($(ratio "$FIRST_LS" "$NATIVE_LS")), listed ${LISTED_LS}s ($(ratio "$LISTED_LS" "$NATIVE_LS"))"
echo "cat of 100 MB: native ${NATIVE_CAT}s; mount first open ${FIRST_CAT}s (throughput $(ratio "$NATIVE_CAT" "$FIRST_CAT") of native), handed out ${CACHED_CAT}s ($(ratio "$NATIVE_CAT" "$CACHED_CAT") of native)"

library memory
"$FP" seed --folders 10 --items "$MEMORY_ITEMS" > /dev/null
mount_library memory
rss() { awk '/VmRSS/ {print $2}' "/proc/$MOUNTED_PID/status"; }
find "$SCRATCH/mnt-memory" > /dev/null
FIRST_RSS=$(rss)
find "$SCRATCH/mnt-memory" > /dev/null
SECOND_RSS=$(rss)
fusermount3 -u "$SCRATCH/mnt-memory"
echo "resident memory walking $MEMORY_ITEMS items: after the first walk ${FIRST_RSS} kB, after the second ${SECOND_RSS} kB"
