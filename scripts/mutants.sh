#!/usr/bin/env bash
# Applies the faults of scripts/mutants.txt one at a time to a scratch copy of the tree, builds
# it and runs the debug suite. A fault that no test catches is a survivor: the suite has a hole
# there. Prints every fault's fate and exits 1 when one survives, is stale or does not build.
# usage: scripts/mutants.sh [MUTANTS_FILE]     (JOBS, MUTANTS_DIR and KEEP=1 may be set)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
list=$(realpath "${1:-$top/scripts/mutants.txt}")
jobs=${JOBS:-$(nproc)}
scratch=${MUTANTS_DIR:-$(mktemp -d /tmp/morvex-mutants.XXXXXX)}
mkdir -p "$scratch"
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT

# The tree as it is now, uncommitted changes included, without build output.
(cd "$top" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$scratch"
cd "$scratch"
log=$scratch/mutants.log

build() { cmake --build --preset debug -j "$jobs" >>"$log" 2>&1; }
# The package test checks packaging, not the program: left out.
suite() { ctest --preset debug -j "$jobs" -E '^package_' --stop-on-failure --timeout 300 >>"$log" 2>&1; }

cmake --preset debug >>"$log" 2>&1
if ! build || ! suite; then
    echo "The tree as it is fails its own build or suite (log: $log)" >&2
    trap - EXIT
    exit 1
fi

# One folder per fault, holding its file, old text, new text and what it is.
mkdir -p .mutants
perl -e '
    my ($list, $out) = @ARGV;
    open my $in, "<", $list or die "$list: $!";
    my ($n, $state, %m) = (0, "");
    sub emit { $n++; mkdir "$out/$n";
        for my $k (qw(what file old new)) { open my $f, ">", "$out/$n/$k"; print $f $m{$k} // ""; } }
    while (my $line = <$in>) {
        if ($state eq "old") { if ($line eq "===\n") { $state = "new" } else { $m{old} .= $line } next }
        if ($state eq "new") { if ($line eq ">>>\n") { emit(); %m = (); $state = "" } else { $m{new} .= $line } next }
        if ($line =~ /^@ (.*)$/) { $m{what} = $1 }
        elsif ($line =~ /^file (\S+)$/) { $m{file} = $1 }
        elsif ($line eq "<<<\n") { $state = "old" }
    }
' "$list" .mutants

# Replaces the old text by the new one in the file; fails unless the old text occurs once.
apply() {
    perl -e '
        my ($file, $oldf, $newf) = @ARGV;
        local $/; open my $o, "<", $oldf; my $old = <$o>; open my $n, "<", $newf; my $new = <$n>;
        open my $f, "<", $file or exit 2; my $text = <$f>; close $f;
        my $count = () = $text =~ /\Q$old\E/g;
        exit 3 if $count != 1;
        $text =~ s/\Q$old\E/$new/;
        open $f, ">", $file or exit 2; print $f $text;
    ' "$1" "$2" "$3"
}

bad=0
total=0
for dir in $(ls .mutants | sort -n); do
    m=.mutants/$dir
    what=$(cat "$m/what")
    file=$(cat "$m/file")
    total=$((total + 1))
    cp "$file" "$m/original"
    if ! apply "$file" "$m/old" "$m/new"; then
        echo "STALE     $file: $what"
        bad=$((bad + 1))
        continue
    fi
    echo "=== $file: $what" >>"$log"
    if ! build; then
        echo "NO BUILD  $file: $what"
        bad=$((bad + 1))
    elif suite; then
        echo "SURVIVED  $file: $what"
        bad=$((bad + 1))
    else
        echo "caught    $file: $what"
    fi
    cp "$m/original" "$file"
done
build # leave the scratch tree as it was, for KEEP=1
echo "$((total - bad)) of $total faults caught."
[ "$bad" -eq 0 ]
