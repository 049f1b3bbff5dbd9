#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures how the restore window reads a backup folder against what a user would run instead:
#   a copied set of 100,000 files   vs  find SET -type f | wc -l (and find -printf, which reads
#                                       size, time and mode of each file as the window does)
#   a zipped set of 100,000 entries vs  unzip -Z1 over every archive of the set
#   a copied set of 100,000 files in one folder (the worst case for the window's pauses)
# The sets are made once by `trevalo-cli run` from generated trees (100,000 files of 0-4 KB in
# 1,000 folders, the corpus "tiny" of run_bench.sh; and 100,000 small files in one folder).
# bench/restorescan runs the window's own "Neu Einlesen" (offscreen), ticks every set and shows
# the largest folder in the list. Runs alternate (A B A B ...) after a warm-up, all from the
# page cache; the table shows medians, the median of the per-round ratios, the peak memory of
# restorescan, and, from restorescan itself, the time of the scan, of the ticks and of showing
# the largest folder, and the window's longest pause in handling events during scan and ticks.
#
# usage: bench/restore_scan.sh
# environment: WORK (default /var/tmp/trevalo-bench), RUNS (default 5), BUILD_DIR (default ./build)
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO/build}
CLI=$BUILD_DIR/src/app/trevalo-cli
SCAN=$BUILD_DIR/bench/restorescan
WORK=${WORK:-/var/tmp/trevalo-bench}
RUNS=${RUNS:-5}

[ -x "$CLI" ] && [ -x "$SCAN" ] || {
    echo "build first: cmake --build build --target trevalo-cli restorescan" >&2
    exit 1
}
command -v unzip >/dev/null || apt-get install -y -qq unzip >/dev/null
[ -x /usr/bin/time ] || apt-get install -y -qq time >/dev/null

mkdir -p "$WORK/corpus" "$WORK/scan" "$WORK/state" "$WORK/config" "$WORK/tmp"
export XDG_STATE_HOME=$WORK/state XDG_CONFIG_HOME=$WORK/config QT_QPA_PLATFORM=offscreen
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
    export XDG_RUNTIME_DIR
fi

# The corpus "tiny" of run_bench.sh: text-like files, so the zipped set has real archives.
# shellcheck source=bench/corpus.sh
source "$REPO/bench/corpus.sh"

# One set per mode, written by the engine into a backup folder of its own.
make_set() { # mode compress corpus
    local target=$WORK/scan/$1
    [ -f "$target.done" ] && return
    rm -rf "$target" "$WORK/scan/jobs-$1"
    mkdir -p "$target" "$WORK/scan/jobs-$1/Scripts"
    printf '[Einstellungen]\r\nName=scan\r\nZiel=%s\r\nGesamtsicherung=1\r\nkomprimieren=%s\r\nproto=0\r\nStart_Meldung=0\r\nbackup_ok_anzeigen=0\r\nfehler_anzeigen=0\r\ntemp_pfad=%s\r\n[Verzeichnisse]\r\nVerz1=%s\r\n[SubDirs]\r\nSubDir1=1\r\n' \
        "$target" "$2" "$WORK/tmp" "$WORK/corpus/$3" > "$WORK/scan/jobs-$1/Scripts/0.scr"
    echo "making the $1 set" >&2
    "$CLI" --scripts-folder "$WORK/scan/jobs-$1" run scan >/dev/null
    touch "$target.done"
}

measure() { # result-file command...
    local out=$1; shift
    /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" > "$WORK/stdout.txt"
    cat "$WORK/time.txt" >> "$out"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

generate tiny 100000 1000 0 4096
generate flat 100000 1 0 64
make_set copy 0 tiny
make_set zip 1 tiny
make_set flat 0 flat

results=()
# set, the tool's name, the tool (SET stands for the set folder). "find -printf" reads what the window
# shows of each file (size, date, mode), which "find -type f" does not.
MODES=(copy copy zip flat)
NAMES=("find SET -type f | wc -l" "find SET -type f -printf '%s %T@ %m'" "unzip -Z1 on every archive"
    "find SET -type f | wc -l")
COMMANDS=(
    "find SET -type f | wc -l"
    "find SET -type f -printf '%s %T@ %m\\n' | wc -l"
    "find SET -type f -name Archive.zip -exec unzip -Z1 {} \\; | wc -l"
    "find SET -type f | wc -l"
)
for n in "${!MODES[@]}"; do
    mode=${MODES[$n]}
    other=${NAMES[$n]}
    command=${COMMANDS[$n]}
    set_folder=$WORK/scan/$mode
    set_dir=$(find "$set_folder" -mindepth 1 -maxdepth 1 -type d -name 'B-T0*' | head -n1)
    other_cmd=(bash -c "${command//SET/\"$set_dir\"}")
    rm -f "$WORK/scan-$n-"*.txt
    for round in $(seq 0 "$RUNS"); do   # round 0 is the warm-up
        tfile=$WORK/scan-$n-trevalo.txt; ofile=$WORK/scan-$n-other.txt
        [ "$round" -eq 0 ] && { tfile=/dev/null; ofile=/dev/null; }
        measure "$tfile" "$SCAN" "$set_folder"
        [ "$round" -eq 0 ] || cat "$WORK/stdout.txt" >> "$WORK/scan-$n-inner.txt"
        measure "$ofile" "${other_cmd[@]}"
        [ "$round" -eq 0 ] && others=$(tr -d ' ' < "$WORK/stdout.txt")
    done
    read -r _ records _ <<< "$(tail -n1 "$WORK/scan-$n-inner.txt")"
    t=$(cut -d' ' -f1 "$WORK/scan-$n-trevalo.txt" | median)
    o=$(cut -d' ' -f1 "$WORK/scan-$n-other.txt" | median)
    r=$(paste -d' ' "$WORK/scan-$n-trevalo.txt" "$WORK/scan-$n-other.txt" | awk '{printf "%.3f\n", $1/$3}' | median)
    m=$(cut -d' ' -f2 "$WORK/scan-$n-trevalo.txt" | sort -g | tail -n1)
    scan_ms=$(cut -d' ' -f3 "$WORK/scan-$n-inner.txt" | median)
    scan_gap=$(cut -d' ' -f4 "$WORK/scan-$n-inner.txt" | sort -g | tail -n1)
    tick_ms=$(cut -d' ' -f5 "$WORK/scan-$n-inner.txt" | median)
    tick_gap=$(cut -d' ' -f6 "$WORK/scan-$n-inner.txt" | sort -g | tail -n1)
    show_ms=$(cut -d' ' -f7 "$WORK/scan-$n-inner.txt" | median)
    read -r _ _ _ _ _ _ _ show_rows <<< "$(tail -n1 "$WORK/scan-$n-inner.txt")"
    results+=("$(printf '| %-4s | %s / %s | %5.2f s | %s: %5.2f s | %5.2f | %5.1f MiB | %4s ms | %3s ms | %3s ms | %3s ms | %s rows: %s ms |' \
        "$mode" "$records" "$others" "$t" "$other" "$o" "$r" "$(awk -v m="$m" 'BEGIN {print m / 1024}')" \
        "$scan_ms" "$scan_gap" "$tick_ms" "$tick_gap" "$show_rows" "$show_ms")")
done

echo
echo "| set | entries (window / tool) | restorescan | tool | ratio | peak | scan in the window | longest pause | tick all | longest pause | largest folder shown |"
echo "|-----|-------------------------|-------------|------|-------|------|--------------------|---------------|----------|---------------|----------------------|"
printf '%s\n' "${results[@]}"
