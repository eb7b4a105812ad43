#!/usr/bin/env bash
# Compares the file scanner's folder sizing with `du -sb` on the same generated cache-like
# tree of 200,000 files (made once by bench_FileScanBench), warm cache, one core, same run.
#
#   bench/compare_du.sh [build-dir]      (RUNS=5 by default; the best run of each counts)
#
# Prints the best wall time of `du -sb`, of the scan of module 1 with sub-folders sized whole
# (norec), of every file reported (rec) and of the bare walker (walk), the ratios to du, and
# the peak resident memory of each (from /usr/bin/time -v when present, else getrusage).
set -euo pipefail

BUILD=${1:-build}
BIN="$BUILD/bench/bench_FileScanBench"
TREE=${HALVORN_BENCH_TREE:-/tmp/halvorn-bench-cache-tree-200k}
RUNS=${RUNS:-5}

if [[ ! -x "$BIN" ]]; then
    echo "missing $BIN: cmake --build $BUILD --target bench_FileScanBench" >&2
    exit 1
fi
"$BIN" --make-tree "$TREE"

PIN=()
if command -v taskset >/dev/null 2>&1; then PIN=(taskset -c 0); fi

now_ns() { date +%s%N; }

# best_of CMD...: the smallest wall time in milliseconds over RUNS runs.
best_of() {
    local best="" s e ms
    for ((i = 0; i < RUNS; i++)); do
        s=$(now_ns)
        "${PIN[@]}" "$@" >/dev/null
        e=$(now_ns)
        ms=$(((e - s) / 1000000))
        if [[ -z "$best" || $ms -lt $best ]]; then best=$ms; fi
    done
    echo "$best"
}

# peak_kb CMD...: the peak resident set of one run, in KiB.
peak_kb() {
    if [[ -x /usr/bin/time ]]; then
        /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'
    elif [[ "$1" == "$BIN" ]]; then
        "$@" | sed -n 's/.*maxrss_kb=\([0-9]*\).*/\1/p'
    else
        echo "n/a"
    fi
}

# Warm the page cache and the inode cache with one pass of each.
du -sb "$TREE" >/dev/null
"$BIN" --scan-once norec "$TREE" >/dev/null

files=$(find "$TREE" -type f | wc -l)
echo "tree: $TREE ($files files), runs: $RUNS, pinned: ${PIN[*]:-no}"

du_ms=$(best_of du -sb "$TREE")
norec_ms=$(best_of "$BIN" --scan-once norec "$TREE")
walk_ms=$(best_of "$BIN" --scan-once walk "$TREE")
rec_ms=$(RUNS=1 best_of "$BIN" --scan-once rec "$TREE")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

printf '%-28s %8s %8s %12s\n' "" "ms" "x du" "peak KiB"
printf '%-28s %8d %8s %12s\n' "du -sb" "$du_ms" "1.00" "$(peak_kb du -sb "$TREE")"
printf '%-28s %8d %8s %12s\n' "scan, sub-folders whole" "$norec_ms" "$(ratio "$norec_ms" "$du_ms")" \
    "$(peak_kb "$BIN" --scan-once norec "$TREE")"
printf '%-28s %8d %8s %12s\n' "walker total size" "$walk_ms" "$(ratio "$walk_ms" "$du_ms")" \
    "$(peak_kb "$BIN" --scan-once walk "$TREE")"
printf '%-28s %8s %8s %12s\n' "scan of one 5,000-file app" "" "" \
    "$(peak_kb "$BIN" --scan-once norec "$TREE/com.vendor.app1")"
printf '%-28s %8d %8s %12s\n' "scan, every file reported" "$rec_ms" "$(ratio "$rec_ms" "$du_ms")" \
    "$(peak_kb "$BIN" --scan-once rec "$TREE")"
