#!/usr/bin/env bash
# Compares the internet-security signature scan with ClamAV's clamscan and with a plain walk
# that opens every file and reads its first 8 KiB, on the 200,000-file benchmark tree
# (bench_FileScanBench --make-tree; a copy of its own, since signatures are planted in it),
# warm cache, same run.
#
#   bench/compare_clamscan.sh [build-dir]
#
#   RUNS=3          timed runs of the walk and of Halvorn (the best counts)
#   CLAM_RUNS=1     timed runs of clamscan (about a minute each)
#   SIGNATURES=10000 PLANTS=50 SEED=1
#
# The signatures: SIGNATURES random byte strings of 8 to 64 bytes at offsets 0 to 8 KiB, the
# same for both scanners (HVN_VIRUS_CODE in a SQLite file for Halvorn, one "Name:0:Offset:Hex"
# line each in a .ndb file for clamscan, which loads nothing else). PLANTS files of the tree
# get one of them written at its offset, never at the file's end (a file that is too short is
# lengthened), so both scanners must report exactly those files under those names.
#
# Halvorn's figure is the whole process bench_VirusScanBench --scan: loading the signatures,
# preparing them, and the scan operation the application runs (HVNVirusOperation: the walk
# on one thread, the files checked on one thread per core). clamscan runs as
# `clamscan -d sigs.ndb --no-summary -r -i TREE`. The baseline is bench_VirusScanBench
# --read-walk TREE 8192: the same descriptor walk, one thread, open + read(8 KiB) + close
# per file (and with two threads, for reference). A first untimed walk reads every file
# whole, so that all runs find the tree in the page cache. Nothing is pinned: the scan uses
# the cores the machine has.
#
# Needs the Debian package clamav (only its clamscan; no database download is needed).
set -euo pipefail

BUILD=${1:-build}
GEN="$BUILD/bench/bench_FileScanBench"
VB="$BUILD/bench/bench_VirusScanBench"
TREE=${HALVORN_BENCH_VIRUS_TREE:-/tmp/halvorn-bench-virus-tree-200k}
RUNS=${RUNS:-3}
CLAM_RUNS=${CLAM_RUNS:-1}
SIGNATURES=${SIGNATURES:-10000}
PLANTS=${PLANTS:-50}
SEED=${SEED:-1}

for f in "$GEN" "$VB"; do
    if [[ ! -x "$f" ]]; then
        echo "missing $f: cmake --build $BUILD --target bench_FileScanBench bench_VirusScanBench" >&2
        exit 1
    fi
done
if ! command -v clamscan >/dev/null 2>&1; then
    echo "clamscan is missing: apt-get install -y --no-install-recommends clamav" >&2
    exit 1
fi

"$GEN" --make-tree "$TREE"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-virus-bench-XXXXXX")
cleanup() { rm -rf "$WORK"; }
trap cleanup EXIT
export HALVORN_LOG=quiet

"$VB" --make-signatures "$WORK/sigs.db" "$WORK/sigs.ndb" "$SIGNATURES" "$SEED"
"$VB" --plant "$TREE" "$WORK/sigs.db" "$PLANTS" "$SEED" >"$WORK/expected.txt"

now_ns() { date +%s%N; }
ms_since() { echo $((($(now_ns) - $1) / 1000000)); }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
best() { if [[ -z "$1" || $2 -lt $1 ]]; then echo "$2"; else echo "$1"; fi; }

echo "warming the page cache ..." >&2
"$VB" --read-walk "$TREE" 65536 1 2>/dev/null

walk_ms="" walk2_ms="" halvorn_ms="" inline_ms="" clam_ms=""
for ((run = 0; run < RUNS; run++)); do
    s=$(now_ns); "$VB" --read-walk "$TREE" 8192 1 2>/dev/null; walk_ms=$(best "$walk_ms" "$(ms_since "$s")")
    s=$(now_ns); "$VB" --scan "$TREE" "$WORK/sigs.db" >"$WORK/halvorn.txt" 2>/dev/null
    halvorn_ms=$(best "$halvorn_ms" "$(ms_since "$s")")
    s=$(now_ns); "$VB" --read-walk "$TREE" 8192 2 2>/dev/null; walk2_ms=$(best "$walk2_ms" "$(ms_since "$s")")
    s=$(now_ns); "$VB" --scan "$TREE" "$WORK/sigs.db" 0 >"$WORK/inline.txt" 2>/dev/null
    inline_ms=$(best "$inline_ms" "$(ms_since "$s")")
done
for ((run = 0; run < CLAM_RUNS; run++)); do
    s=$(now_ns)
    # clamscan exits 1 when it found something.
    clamscan -d "$WORK/sigs.ndb" --no-summary -r -i "$TREE" >"$WORK/clam.out" || [[ $? -eq 1 ]]
    clam_ms=$(best "$clam_ms" "$(ms_since "$s")")
done
sed -n 's/^\(.*\): \(.*\)\.UNOFFICIAL FOUND$/\1\t\2/p' "$WORK/clam.out" | sort >"$WORK/clam.txt"

status=0
check() {
    if ! diff -q "$WORK/expected.txt" "$2" >/dev/null; then
        echo "$1 did not report the planted files (< planted, > $1):" >&2
        diff "$WORK/expected.txt" "$2" | head -20 >&2
        status=1
    fi
}
check "halvorn" "$WORK/halvorn.txt"
check "halvorn (one thread)" "$WORK/inline.txt"
check "clamscan" "$WORK/clam.txt"

files=$(find "$TREE" -type f | wc -l)
echo "tree: $TREE ($files files), $SIGNATURES signatures, $PLANTS planted, runs: $RUNS (clamscan $CLAM_RUNS), cores: $(nproc)"
printf '%-52s %8s %10s %10s\n' "" "ms" "x walk" "clamscan /"
printf '%-52s %8d %10s %10s\n' "walk: open + read 8 KiB + close, 1 thread" "$walk_ms" "1.00" ""
printf '%-52s %8d %10s %10s\n' "  the same walk, 2 threads" "$walk2_ms" "$(ratio "$walk2_ms" "$walk_ms")" ""
printf '%-52s %8d %10s %10s\n' "halvorn signature scan" "$halvorn_ms" "$(ratio "$halvorn_ms" "$walk_ms")" \
    "$(ratio "$clam_ms" "$halvorn_ms")"
printf '%-52s %8d %10s %10s\n' "  the same, files checked on the walking thread" "$inline_ms" \
    "$(ratio "$inline_ms" "$walk_ms")" "$(ratio "$clam_ms" "$inline_ms")"
printf '%-52s %8d %10s %10s\n' "clamscan -d sigs.ndb -r -i" "$clam_ms" "$(ratio "$clam_ms" "$walk_ms")" "1.00"
echo "found: halvorn $(wc -l <"$WORK/halvorn.txt"), clamscan $(wc -l <"$WORK/clam.txt"), planted $(wc -l <"$WORK/expected.txt")"
exit $status
