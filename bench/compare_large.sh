#!/usr/bin/env bash
# Compares `halvorn large --min 50M` with `find TREE -type f -size +50000000c` on the same
# generated tree of 200,000 small files with sparse and real large files among them, warm
# cache, one core, same run; checks that both find the same set of files.
#
#   bench/compare_large.sh [build-dir]      (RUNS=5 by default; the best run of each counts)
#
# Both use the exact byte threshold: larger than 50,000,000 bytes (find's "c" unit; the
# tool's "M" is 1,000,000). The tree holds files of 49,999,999, 50,000,000 and 50,000,001
# bytes, so an off-by-one on either side shows as differing sets.
set -euo pipefail

BUILD=${1:-build}
BIN="$BUILD/halvorn"
TREE=${HALVORN_BENCH_TREE:-/tmp/halvorn-bench-large-tree-200k}
RUNS=${RUNS:-5}

if [[ ! -x "$BIN" ]]; then
    echo "missing $BIN: cmake --build $BUILD --target halvorn" >&2
    exit 1
fi

# The tree is made once: 20 x 10 folders of 1,000 files of 0 to 3 KiB, 40 sparse files from
# 40 MB to 6 GB (some under the threshold) and 4 real files of 55 to 70 MB.
if [[ ! -f "$TREE/.complete" ]]; then
    rm -rf "$TREE"
    mkdir -p "$TREE"
    python3 - "$TREE" <<'PY'
import os, sys
root = sys.argv[1]
blob = os.urandom(4096)
for a in range(20):
    for b in range(10):
        d = os.path.join(root, "dir%02d" % a, "sub%02d" % b)
        os.makedirs(d, exist_ok=True)
        for i in range(1000):
            with open(os.path.join(d, "file%04d.dat" % i), "wb") as f:
                f.write(blob[: (i * 37) % 3072])
sizes = [40_000_000, 45_000_000, 49_999_999, 50_000_000, 60_000_000, 99_000_000, 150_000_000,
         400_000_000, 900_000_000, 2_000_000_000, 4_000_000_000, 6_000_000_000]
n = 0
for k in range(40):
    size = sizes[k % len(sizes)]
    d = os.path.join(root, "dir%02d" % (k % 20), "sub%02d" % (k % 10))
    with open(os.path.join(d, "sparse%02d.img" % k), "wb") as f:
        f.truncate(size)
for k, size in enumerate([55_000_000, 60_000_000, 64_000_000, 70_000_000]):
    d = os.path.join(root, "dir%02d" % (k * 3), "sub%02d" % k)
    with open(os.path.join(d, "real%d.mov" % k), "wb") as f:
        left = size
        chunk = os.urandom(1 << 20)
        while left > 0:
            f.write(chunk[: min(left, len(chunk))])
            left -= len(chunk)
open(os.path.join(root, ".complete"), "w").close()
PY
fi

# Files at the threshold itself (added to trees made before they were part of it).
edge="$TREE/dir05/sub05/edge-50000001.img"
[[ -f "$edge" ]] || truncate -s 50000001 "$edge"

# The command runs with a home of its own: nothing of the user's is read or written.
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
export HOME="$SCRATCH/home" HALVORN_ROOT="$SCRATCH/root" HALVORN_LOG=quiet
mkdir -p "$HOME" "$HALVORN_ROOT"

PIN=()
if command -v taskset >/dev/null 2>&1; then PIN=(taskset -c 0); fi

now_ns() { date +%s%N; }

# time_ms CMD...: the wall time of one run in ms.
time_ms() {
    local s e
    s=$(now_ns)
    "${PIN[@]}" "$@" >/dev/null
    e=$(now_ns)
    echo $(((e - s) / 1000000))
}

peak_kb() {
    if [[ -x /usr/bin/time ]]; then
        /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'
    else
        echo "n/a"
    fi
}

# Warm the caches, then check that both find the same files.
find "$TREE" -type f -size +50000000c >/dev/null
"$BIN" large --min 50M "$TREE" --json >/dev/null
find "$TREE" -type f -size +50000000c | sort >"$SCRATCH/find.txt"
"$BIN" large --min 50M "$TREE" --json |
    python3 -c 'import json, sys; [print(f["path"]) for f in json.load(sys.stdin)["files"]]' | sort >"$SCRATCH/large.txt"
if ! cmp -s "$SCRATCH/find.txt" "$SCRATCH/large.txt"; then
    echo "the result sets differ:" >&2
    diff "$SCRATCH/find.txt" "$SCRATCH/large.txt" >&2 || true
    exit 1
fi

files=$(find "$TREE" -type f | wc -l)
found=$(wc -l <"$SCRATCH/find.txt")
echo "tree: $TREE ($files files, $found above 50,000,000 bytes, same set from both), runs: $RUNS, pinned: ${PIN[*]:-no}"

# The runs of the three alternate, so that a slower moment of the machine falls on all of
# them alike; the best run of each counts.
find_ms="" large_ms="" json_ms=""
min_of() { if [[ -z "$1" || $2 -lt $1 ]]; then echo "$2"; else echo "$1"; fi; }
for ((i = 0; i < RUNS; i++)); do
    find_ms=$(min_of "$find_ms" "$(time_ms find "$TREE" -type f -size +50000000c)")
    large_ms=$(min_of "$large_ms" "$(time_ms "$BIN" large --min 50M "$TREE")")
    json_ms=$(min_of "$json_ms" "$(time_ms "$BIN" large --min 50M "$TREE" --json)")
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

printf '%-36s %8s %8s %12s\n' "" "ms" "x find" "peak KiB"
printf '%-36s %8d %8s %12s\n' "find -type f -size +50000000c" "$find_ms" "1.00" \
    "$(peak_kb find "$TREE" -type f -size +50000000c)"
printf '%-36s %8d %8s %12s\n' "halvorn large --min 50M" "$large_ms" "$(ratio "$large_ms" "$find_ms")" \
    "$(peak_kb "$BIN" large --min 50M "$TREE")"
printf '%-36s %8d %8s %12s\n' "halvorn large --min 50M --json" "$json_ms" "$(ratio "$json_ms" "$find_ms")" \
    "$(peak_kb "$BIN" large --min 50M "$TREE" --json)"
