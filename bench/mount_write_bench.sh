#!/usr/bin/env bash
# Writing through the mount against the same writes into a plain directory,
# measured in one run: copying 1,000 files of 4 KB (cp -r), and writing one
# 100 MB file (dd, 1 MB blocks, with fsync). Prints each figure and its
# ratio to the native one.
#   bench/mount_write_bench.sh [path/to/quillet-fp]
set -euo pipefail

FP=${1:-build/src/tools/quillet-fp}
SCRATCH=$(mktemp -d /tmp/qlt-mount-write-bench-XXXXXX)
MOUNTER=
cleanup() {
  mountpoint -q "$SCRATCH/mnt" 2>/dev/null && fusermount3 -u "$SCRATCH/mnt"
  [[ -n "$MOUNTER" ]] && wait "$MOUNTER" 2>/dev/null
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

now() { date +%s.%N; }
seconds() { python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.3f}')" "$1" "$2"; }
rate() { python3 -c "import sys; print(f'{float(sys.argv[1]) / max(float(sys.argv[2]), 1e-9):.0f}')" "$1" "$2"; }
ratio() { python3 -c "import sys; print(f'{float(sys.argv[1]) / max(float(sys.argv[2]), 1e-9):.2f}x')" "$1" "$2"; }
timed() { local start; start=$(now); "$@" > /dev/null 2>&1; seconds "$start" "$(now)"; }

export QLT_GROUP_CONTAINER="$SCRATCH/group"
export XDG_CONFIG_HOME="$SCRATCH/config" XDG_DATA_HOME="$SCRATCH/data" XDG_CACHE_HOME="$SCRATCH/cache"
mkdir -p "$QLT_GROUP_CONTAINER" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$SCRATCH/source" "$SCRATCH/native"
for i in $(seq -w 1 1000); do head -c 4096 /dev/urandom > "$SCRATCH/source/file $i.bin"; done

"$FP" mount "$SCRATCH/mnt" --foreground > "$SCRATCH/mount.out" 2> "$SCRATCH/mount.err" &
MOUNTER=$!
until grep -q '"mounted"' "$SCRATCH/mount.out" 2>/dev/null; do sleep 0.05; done

NATIVE_COPY=$(timed cp -r "$SCRATCH/source" "$SCRATCH/native/copy")
MOUNT_COPY=$(timed cp -r "$SCRATCH/source" "$SCRATCH/mnt/copy")
NATIVE_WRITE=$(timed dd if=/dev/zero of="$SCRATCH/native/big" bs=1M count=100 conv=fsync)
MOUNT_WRITE=$(timed dd if=/dev/zero of="$SCRATCH/mnt/big" bs=1M count=100 conv=fsync)

echo "copy of 1,000 files of 4 KB: native ${NATIVE_COPY}s ($(rate 1000 "$NATIVE_COPY") files/s); mount ${MOUNT_COPY}s ($(rate 1000 "$MOUNT_COPY") files/s, $(ratio "$NATIVE_COPY" "$MOUNT_COPY") of native)"
echo "write of 100 MB: native ${NATIVE_WRITE}s ($(rate 100 "$NATIVE_WRITE") MB/s); mount ${MOUNT_WRITE}s ($(rate 100 "$MOUNT_WRITE") MB/s, $(ratio "$NATIVE_WRITE" "$MOUNT_WRITE") of native)"
