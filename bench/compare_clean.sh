#!/usr/bin/env bash
# Compares `halvorn care --fix --yes --only 1` (scan of the user caches, then the clean that
# removes what it reported) with `rm -rf` on two copies of the same cache-like tree of
# 200,000 files in nested folders (the tree of bench/compare_du.sh, made once by
# bench_FileScanBench and reused), warm cache, same run.
#
#   bench/compare_clean.sh [build-dir]      (RUNS=1 by default; with more, the best run counts)
#
# One copy goes to ~/.cache/benchapp of a temporary home (HALVORN_ROOT an empty temporary
# root), the other beside it for rm. Prints the wall time of each, their ratio, and the time of
# a scan alone over the same copy for reference. Everything made here is removed on exit; the
# generated tree is kept for the next run.
set -euo pipefail

BUILD=${1:-build}
GEN="$BUILD/bench/bench_FileScanBench"
HALVORN="$BUILD/halvorn"
BUNDLE=${HALVORN_BUNDLE:-$BUILD/Halvorn.app}
TREE=${HALVORN_BENCH_TREE:-/tmp/halvorn-bench-cache-tree-200k}
RUNS=${RUNS:-1}

for f in "$GEN" "$HALVORN"; do
    if [[ ! -x "$f" ]]; then
        echo "missing $f: cmake --build $BUILD --target bench_FileScanBench halvorn" >&2
        exit 1
    fi
done
"$GEN" --make-tree "$TREE"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-clean-bench-XXXXXX")
cleanup() { rm -rf "$WORK"; }
trap cleanup EXIT
HOME_DIR="$WORK/home"
ROOT_DIR="$WORK/root"
mkdir -p "$HOME_DIR/.cache" "$ROOT_DIR" "$WORK/rm"

PIN=()
if command -v taskset >/dev/null 2>&1; then PIN=(taskset -c 0); fi

care() {
    env -u XDG_DATA_HOME HOME="$HOME_DIR" HALVORN_ROOT="$ROOT_DIR" HALVORN_BUNDLE="$BUNDLE" \
        HALVORN_LOG=quiet HALVORN_AUTH=deny "${PIN[@]}" "$HALVORN" care "$@"
}
now_ns() { date +%s%N; }
ms_since() { echo $((($(now_ns) - $1) / 1000000)); }

# The settings a user has after a first start, so that the timed run only scans and cleans.
HOME="$HOME_DIR" HALVORN_LOG=quiet HALVORN_BUNDLE="$BUNDLE" "$HALVORN" settings list >/dev/null

files=$(find "$TREE" -type f | wc -l)
best_care="" best_rm="" scan_ms=""
for ((run = 0; run < RUNS; run++)); do
    cp -a "$TREE" "$HOME_DIR/.cache/benchapp"
    cp -a "$TREE" "$WORK/rm/benchapp"
    # Warm the page and inode caches for both copies, then time a scan alone once.
    du -sb "$HOME_DIR/.cache/benchapp" "$WORK/rm/benchapp" >/dev/null
    sync
    if [[ -z "$scan_ms" ]]; then
        s=$(now_ns)
        care --json --only 1 >"$WORK/scan.json"
        scan_ms=$(ms_since "$s")
        if ! grep -q "\"filePath\": \"$HOME_DIR/.cache/benchapp\"" "$WORK/scan.json"; then
            echo "the scan did not report $HOME_DIR/.cache/benchapp" >&2
            exit 1
        fi
    fi

    # Each removal starts with nothing left to write back from the copies or from the other
    # removal; the order alternates between runs.
    time_care() {
        sync
        s=$(now_ns)
        care --fix --yes --only 1 >"$WORK/care.out"
        care_ms=$(ms_since "$s")
        if [[ -e "$HOME_DIR/.cache/benchapp" ]]; then
            echo "halvorn care left $HOME_DIR/.cache/benchapp behind:" >&2
            cat "$WORK/care.out" >&2
            exit 1
        fi
    }
    time_rm() {
        sync
        s=$(now_ns)
        "${PIN[@]}" rm -rf "$WORK/rm/benchapp"
        rm_ms=$(ms_since "$s")
    }
    if ((run % 2 == 0)); then
        time_care
        time_rm
    else
        time_rm
        time_care
    fi

    echo "run $((run + 1)): rm -rf $rm_ms ms, halvorn care $care_ms ms"
    if [[ -z "$best_care" || $care_ms -lt $best_care ]]; then best_care=$care_ms; fi
    if [[ -z "$best_rm" || $rm_ms -lt $best_rm ]]; then best_rm=$rm_ms; fi
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

echo "tree: $TREE ($files files), runs: $RUNS, pinned: ${PIN[*]:-no}"
printf '%-44s %8s %8s\n' "" "ms" "x rm"
printf '%-44s %8d %8s\n' "rm -rf" "$best_rm" "1.00"
printf '%-44s %8d %8s\n' "halvorn care --fix --yes --only 1" "$best_care" "$(ratio "$best_care" "$best_rm")"
printf '%-44s %8d %8s\n' "  of which a scan alone (care --json --only 1)" "$scan_ms" "$(ratio "$scan_ms" "$best_rm")"
