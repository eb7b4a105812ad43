#!/usr/bin/env bash
# Compares `halvorn dupes` with `jdupes -r`, `fdupes -r` and `rmlint` on two generated
# corpora, warm cache, in one run, and checks every tool's groups against the truth that
# the generator wrote.
#
#   bench/compare_dupes.sh [build-dir]      (RUNS=3 by default, RMLINT_RUNS=1 for rmlint,
#                                            which takes minutes on the small files; the
#                                            best run of each counts)
#
# Corpora (made once, kept for the next run under HALVORN_BENCH_DUPES, default
# /tmp/halvorn-bench-dupes):
#   mixed  ~1,400 files, ~1.2 GB: groups of identical files from 1 KiB to 50 MiB (a fifth of
#          them in hidden folders), pairs of equal size that differ in one byte in the middle
#          (between the sampled blocks), unique files of the groups' sizes, hard links (to
#          group members, to unique files, and link-only pairs), empty files
#   small  200,000 files of 1 to 8 KiB in 1,000 folders, 15% of them copies
#
# Every tool searches the same things: hidden files included, empty files and hard links
# not counted as duplicates (jdupes -r; fdupes -r -n; rmlint -T df --hidden -L;
# halvorn dupes --hidden). Groups are compared as sets of distinct files (device and
# inode), so a tool may name any of the names of a hard-linked file; a reported group that
# is not a true group (a near-duplicate, a hard link of itself, a partial group) is a false
# group, a true group not reported whole is a missed one.
#
# Needs perl, /usr/bin/time (package time) and the tools (packages jdupes, fdupes, rmlint);
# a missing tool is left out of the table.
set -euo pipefail

BUILD=${1:-build}
HALVORN="$BUILD/halvorn"
CORPUS=${HALVORN_BENCH_DUPES:-/tmp/halvorn-bench-dupes}
RUNS=${RUNS:-3}

if [[ ! -x "$HALVORN" ]]; then
    echo "missing $HALVORN: cmake --build $BUILD --target halvorn" >&2
    exit 1
fi
HALVORN=$(cd "$(dirname "$HALVORN")" && pwd)/$(basename "$HALVORN")

WORK=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-dupes-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
# The command must not touch the real home: a temporary one, and a quiet log.
export HOME="$WORK/home" HALVORN_ROOT="$WORK/root" HALVORN_LOG=quiet
mkdir -p "$HOME" "$HALVORN_ROOT"
case $CORPUS in /*) ;; *) CORPUS="$PWD/$CORPUS" ;; esac
# rmlint writes its own script and report into the working folder unless told otherwise.
cd "$WORK"

# --- Corpus generation (deterministic layout; contents from /dev/urandom) ---------------
generate() {
    local kind=$1 root=$2
    perl - "$kind" "$root" <<'PERL'
use strict; use warnings;
my ($kind, $root) = @ARGV;
srand(kind_seed($kind));
sub kind_seed { return $_[0] eq 'mixed' ? 42 : 4242 }
open(my $rnd, '<:raw', '/dev/urandom') or die "urandom: $!";
sub bytes { my $n = shift; my $b = ''; my $got = 0;
    while ($got < $n) { my $r = read($rnd, $b, $n - $got, $got); die "urandom: $!" unless $r; $got += $r }
    return $b }
my %made;
sub mkdirs { my $d = shift; return if $made{$d}; my $p = '';
    for my $part (split m{/}, $d) { next if $part eq ''; $p .= "/$part"; mkdir $p unless -d $p } $made{$d} = 1 }
sub put { my ($path, $data) = @_; (my $dir = $path) =~ s{/[^/]+$}{}; mkdirs($dir);
    open(my $f, '>:raw', $path) or die "$path: $!"; print $f $data; close $f or die "$path: $!" }
my @truth;
my $n = 0;
if ($kind eq 'mixed') {
    my @folders = map { sprintf("d%02d", $_) } 0 .. 39;
    push @folders, map { sprintf("d%02d/sub/deeper", $_) } 0 .. 9;
    my @hidden = ('.hidden', 'd03/.cache', 'd07/.config/app', '.local/share');
    sub place { my $hiddenToo = shift; my @f = @_;
        return (rand() < 0.2) ? $hiddenToo->[int rand @$hiddenToo] : $f[int rand @f] }
    my @sizes;
    my @specs;
    push @specs, [20 * 1048576 + int rand(30 * 1048576), 2 + int rand 2] for 1 .. 6;
    push @specs, [1048576 + int rand(7 * 1048576), 2 + int rand 3] for 1 .. 40;
    push @specs, [int(1024 * exp(rand(log(1024)))), 2 + int rand 3] for 1 .. 300;
    my @members;
    for my $s (@specs) {
        my ($size, $copies) = @$s;
        my $data = bytes($size);
        my @group;
        for my $c (1 .. $copies) {
            my $p = "$root/" . place(\@hidden, @folders) . "/g" . $n++ . ".bin";
            put($p, $data); push @group, $p;
        }
        push @truth, \@group; push @sizes, $size; push @members, $group[0];
    }
    # Near-duplicates: equal size, one byte changed in the middle (outside the samples).
    for (1 .. 40) {
        my $size = int(25 * 1024 * exp(rand(log(400))));
        my $data = bytes($size);
        put("$root/" . place(\@hidden, @folders) . "/near" . $n++ . ".bin", $data);
        substr($data, int($size / 2), 1) = chr((ord(substr($data, int($size / 2), 1)) + 1) % 256);
        put("$root/" . place(\@hidden, @folders) . "/near" . $n++ . ".bin", $data);
    }
    # Unique files of the groups' sizes.
    my @uniques;
    for (1 .. 200) {
        my $p = "$root/" . place(\@hidden, @folders) . "/u" . $n++ . ".bin";
        put($p, bytes($sizes[int rand @sizes])); push @uniques, $p;
    }
    # Hard links: extra names of group members and of unique files, and link-only pairs.
    for (1 .. 30) { my $t = $members[int rand @members];
        my $d = "$root/" . place(\@hidden, @folders); mkdirs($d); link($t, "$d/hl" . $n++ . ".bin") or die $! }
    for (1 .. 10) { my $t = $uniques[int rand @uniques];
        my $d = "$root/" . place(\@hidden, @folders); mkdirs($d); link($t, "$d/hl" . $n++ . ".bin") or die $! }
    for (1 .. 5) { my $p = "$root/d01/pair" . $n++ . ".bin"; put($p, bytes(5000 + int rand 50000));
        link($p, "$root/d02/pairlink" . $n++ . ".bin") or die $! }
    put("$root/" . $folders[int rand @folders] . "/empty" . $n++, '') for 1 .. 40;
} else {
    my @groups;  # content index -> paths
    my @contents;
    for my $i (0 .. 199_999) {
        my $dir = sprintf("%s/a%02d/b%02d", $root, int($i / 200) % 50, int($i / 200) / 50 % 20);
        my $p = sprintf("%s/f%06d", $dir, $i);
        my $k;
        if ($i > 1000 && rand() < 0.15) {
            $k = int rand @contents;
        } else {
            push @contents, bytes(1024 + int rand(7168)); $k = $#contents;
        }
        put($p, $contents[$k]);
        push @{$groups[$k]}, $p;
    }
    @truth = grep { @$_ > 1 } @groups;
}
open(my $t, '>', "$root.truth") or die $!;
print $t join("\n", @$_), "\n\n" for @truth;
close $t;
PERL
}

for kind in mixed small; do
    if [[ ! -f "$CORPUS/$kind.truth" ]]; then
        echo "making the $kind corpus in $CORPUS/$kind ..." >&2
        rm -rf "$CORPUS/$kind"
        mkdir -p "$CORPUS/$kind"
        generate "$kind" "$CORPUS/$kind"
    fi
done

# --- Checking --------------------------------------------------------------------------
# check TRUTH REPORTED: reads two files of groups (paths, one per line, groups separated by
# blank lines) and prints "groups false missed".
check() {
    perl - "$1" "$2" <<'PERL'
use strict; use warnings;
sub groups { my $file = shift; open(my $f, '<', $file) or die "$file: $!"; local $/ = '';
    my %set;
    while (my $block = <$f>) {
        my %ids;
        for my $p (split /\n/, $block) { next if $p eq ''; my @st = lstat($p) or next; $ids{"$st[0]:$st[1]"} = 1 }
        my @ids = sort keys %ids;
        $set{join(',', @ids)} = scalar @ids;
    }
    return \%set }
my ($truth, $got) = (groups($ARGV[0]), groups($ARGV[1]));
my $false = grep { !exists $truth->{$_} } keys %$got;
my $missed = grep { $truth->{$_} > 1 && !exists $got->{$_} } keys %$truth;
printf "%d %d %d\n", scalar(keys %$got), $false, $missed;
PERL
}

have() { command -v "$1" >/dev/null 2>&1; }

# tool_argv NAME DIR: sets CMD to the command line of a tool.
tool_argv() {
    case $1 in
        halvorn) CMD=("$HALVORN" dupes --hidden "$2") ;;
        jdupes) CMD=(jdupes -q -r "$2") ;;
        fdupes) CMD=(fdupes -q -r -n "$2") ;;
        rmlint) CMD=(rmlint -T df --hidden -L -o fdupes:stdout "$2") ;;
    esac
}

now_ns() { date +%s%N; }

# measure NAME DIR: runs the tool RUNS times (RMLINT_RUNS for rmlint, which is slow on many
# small files), keeping the output of the last run in $WORK/NAME.out; prints the best wall
# time in ms and the peak resident set of the best run in KiB (from /usr/bin/time -v).
measure() {
    local runs=$RUNS best="" peak="n/a" s e ms kb
    [[ $1 == rmlint ]] && runs=${RMLINT_RUNS:-1}
    tool_argv "$1" "$2"
    for ((i = 0; i < runs; i++)); do
        s=$(now_ns)
        if [[ -x /usr/bin/time ]]; then
            /usr/bin/time -v -o "$WORK/time.txt" "${CMD[@]}" >"$WORK/$1.out" 2>/dev/null || true
        else
            "${CMD[@]}" >"$WORK/$1.out" 2>/dev/null || true
        fi
        e=$(now_ns)
        ms=$(((e - s) / 1000000))
        kb="n/a"
        [[ -f "$WORK/time.txt" ]] && kb=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$WORK/time.txt")
        if [[ -z "$best" || $ms -lt $best ]]; then best=$ms; peak=$kb; fi
    done
    echo "$best $peak"
}

# The groups in a tool's output as blank-line separated path lists (halvorn's text output
# has a header line per group and two spaces before each path).
groups_of() {
    if [[ $1 == halvorn ]]; then
        awk '/^  / { print substr($0, 3); next } /^[0-9]+ files of / { print "" }' "$WORK/$1.out"
    else
        cat "$WORK/$1.out"
    fi
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

tools=(halvorn)
for t in jdupes fdupes rmlint; do
    if have "$t"; then tools+=("$t"); else echo "($t is not installed: left out)" >&2; fi
done

for kind in mixed small; do
    dir="$CORPUS/$kind"
    files=$(find "$dir" -type f | wc -l)
    bytes=$(du -sb "$dir" | cut -f1)
    echo
    echo "corpus $kind: $files files, $((bytes / 1000000)) MB, runs: $RUNS (best counts), warm cache"
    # Warm the page cache and the inode cache.
    find "$dir" -type f -print0 | xargs -0 cat >/dev/null
    printf '%-10s %9s %9s %12s %8s %7s %7s\n' tool ms "x halvorn" "peak KiB" groups false missed
    ours=""
    for t in "${tools[@]}"; do
        read -r ms kb < <(measure "$t" "$dir")
        [[ -z $ours ]] && ours=$ms
        groups_of "$t" >"$WORK/$t.groups"
        read -r g f m < <(check "$dir.truth" "$WORK/$t.groups")
        printf '%-10s %9d %9s %12s %8d %7d %7d\n' "$t" "$ms" "$(ratio "$ms" "$ours")" "$kb" "$g" "$f" "$m"
    done
done
