# Sourced by the command-line tests. Points quillet-fp at a scratch group
# container, preferences, data, caches and runtime folder below $SCRATCH,
# and gives the helpers the tests share.

export QLT_GROUP_CONTAINER="$SCRATCH/group"
export XDG_CONFIG_HOME="$SCRATCH/config" XDG_DATA_HOME="$SCRATCH/data" XDG_CACHE_HOME="$SCRATCH/cache"
export XDG_RUNTIME_DIR="$SCRATCH/runtime"
mkdir -p "$QLT_GROUP_CONTAINER" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# json FILE EXPRESSION: evaluates a Python expression over the JSON lines
# of FILE (`lines`, and `last` for the last one) and prints the result.
json() { python3 -c 'import json,sys; lines=[json.loads(l) for l in open(sys.argv[1]) if l.strip()]; last=lines[-1]; print(eval(sys.argv[2]))' "$1" "$2"; }
