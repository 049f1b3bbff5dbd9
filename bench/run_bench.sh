#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures `trevalo-cli run` against what a user would do instead, in the same call:
#   uncompressed full set  vs  cp -a, then sync
#   compressed full set    vs  one `zip -3 -j -q` per folder, then sync
# (a run ends with its set written back to the medium, so the other tools must too)
# on three corpora. Runs alternate (A B A B ...) after a warm-up; every run writes a new target
# (old targets are left in place, never deleted between runs, see BENCH-FACTS), and `sync` runs
# before each measured command; the table shows
# medians, the median of the per-round ratios and the peak memory of the Trevalo runs.
#
# usage: bench/run_bench.sh [small] [large] [tiny]     (default: all three)
# environment: WORK (default /var/tmp/trevalo-bench), RUNS (default 3), BUILD_DIR (default ./build),
#              KEEP=1 keeps the targets afterwards, BASE_BUILD_DIR: the build of an earlier version,
#              run (then sync) in every round too, so the table also shows this build against it
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO/build}
CLI=$BUILD_DIR/src/app/trevalo-cli
BASE_CLI=${BASE_BUILD_DIR:+$BASE_BUILD_DIR/src/app/trevalo-cli}
WORK=${WORK:-/var/tmp/trevalo-bench}
RUNS=${RUNS:-3}
CORPORA=("$@")
[ ${#CORPORA[@]} -gt 0 ] || CORPORA=(small large tiny)

[ -x "$CLI" ] || { echo "build first: scripts/build" >&2; exit 1; }
[ -z "$BASE_CLI" ] || [ -x "$BASE_CLI" ] || { echo "no trevalo-cli in $BASE_BUILD_DIR" >&2; exit 1; }
command -v zip >/dev/null || { echo "zip missing: scripts/install-deps" >&2; exit 1; }
[ -x /usr/bin/time ] || { apt-get install -y -qq time >/dev/null; }

mkdir -p "$WORK/corpus" "$WORK/out" "$WORK/state" "$WORK/config" "$WORK/tmp"
export XDG_STATE_HOME=$WORK/state XDG_CONFIG_HOME=$WORK/config

# Text-like content: slices of a block of random words, so deflate has real work to do.
generate() { # name files dirs min max
    local dir=$WORK/corpus/$1
    [ -f "$dir.done" ] && return
    rm -rf "$dir"
    echo "generating $1 ($2 files in $3 folders, $4-$5 bytes)" >&2
    python3 - "$dir" "$2" "$3" "$4" "$5" <<'PY'
import os, random, sys
root, files, dirs, lo, hi = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
rnd = random.Random(4711)
words = ["".join(rnd.choice("abcdefghijklmnopqrstuvwxyzäöü") for _ in range(rnd.randint(2, 11))) for _ in range(6000)]
block = " ".join(rnd.choice(words) for _ in range(1_200_000)).encode()
top = max(1, int(dirs ** 0.5))
folders = []
for i in range(dirs):
    d = os.path.join(root, "ordner%03d" % (i % top), "sub%04d" % i) if i >= top else os.path.join(root, "ordner%03d" % i)
    os.makedirs(d, exist_ok=True)
    folders.append(d)
for n in range(files):
    size = rnd.randint(lo, hi)
    with open(os.path.join(folders[n % dirs], "datei%06d.txt" % n), "wb") as f:
        left = size
        while left > 0:
            off = rnd.randrange(0, len(block) - 1)
            chunk = block[off:off + min(left, 1 << 20)]
            f.write(chunk)
            left -= len(chunk)
PY
    touch "$dir.done"
}

write_job() { # scripts-base name compress target source
    mkdir -p "$1/Scripts"
    printf '[Einstellungen]\r\nName=%s\r\nZiel=%s\r\nGesamtsicherung=1\r\nkomprimieren=%s\r\nproto=0\r\nStart_Meldung=0\r\nbackup_ok_anzeigen=0\r\nfehler_anzeigen=0\r\ntemp_pfad=%s\r\n[Verzeichnisse]\r\nVerz1=%s\r\n[SubDirs]\r\nSubDir1=1\r\n' \
        "$2" "$4" "$3" "$WORK/tmp" "$5" > "$1/Scripts/0.scr"
}

# Runs a command, appends "seconds peak-KiB" to the given file. Dirty pages of the run before
# are written out first, so neither tool pays for the other's writeback.
measure() { # result-file command...
    local out=$1; shift
    sync
    /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null
    cat "$WORK/time.txt" >> "$out"
}

zip_loop() { # source target
    local src=$1 dst=$2
    (cd "$src" && find . -type d) | while read -r d; do
        mkdir -p "$dst/$d"
        ( cd "$src/$d" && find . -maxdepth 1 -type f -printf '%f\n' | zip -3 -j -q "$dst/$d/Archive.zip" -@ ) || true
    done
}
export -f zip_loop

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

declare -A SPEC=([small]="20000 400 1024 65536" [large]="8 1 67108864 67108864" [tiny]="100000 1000 0 4096")
results=()
for c in "${CORPORA[@]}"; do
    read -r files dirs lo hi <<< "${SPEC[$c]}"
    generate "$c" "$files" "$dirs" "$lo" "$hi"
    src=$WORK/corpus/$c
    cat $(find "$src" -type f | head -n 200000) > /dev/null 2>&1 || true   # warm the page cache
    for mode in copy zip; do
        rm -f "$WORK/$c-$mode-"*.txt
        [ -z "$BASE_CLI" ] || : > "$WORK/$c-$mode-base.txt"
        for round in $(seq 0 "$RUNS"); do   # round 0 is the warm-up
            stamp=$(date +%s%N)
            base=$WORK/jobs/$c-$mode-$stamp
            write_job "$base" "bench" "$([ $mode = zip ] && echo 1 || echo 0)" "$WORK/out/t-$c-$mode-$stamp" "$src"
            tfile=$WORK/$c-$mode-trevalo.txt; ofile=$WORK/$c-$mode-other.txt
            bfile=$WORK/$c-$mode-base.txt
            [ "$round" -eq 0 ] && { tfile=/dev/null; ofile=/dev/null; bfile=/dev/null; }
            measure "$tfile" "$CLI" --scripts-folder "$base" run bench
            if [ -n "$BASE_CLI" ]; then
                write_job "$base-b" "bench" "$([ $mode = zip ] && echo 1 || echo 0)" "$WORK/out/b-$c-$mode-$stamp" "$src"
                # followed by sync: an earlier version may leave its set in the page cache
                measure "$bfile" bash -c "'$BASE_CLI' --scripts-folder '$base-b' run bench && sync"
            fi
            if [ $mode = copy ]; then
                measure "$ofile" bash -c "cp -a '$src' '$WORK/out/o-$c-$mode-$stamp' && sync"
            else
                measure "$ofile" bash -c "zip_loop '$src' '$WORK/out/o-$c-$mode-$stamp' && sync"
            fi
        done
        t=$(cut -d' ' -f1 "$WORK/$c-$mode-trevalo.txt" | median)
        o=$(cut -d' ' -f1 "$WORK/$c-$mode-other.txt" | median)
        r=$(paste -d' ' "$WORK/$c-$mode-trevalo.txt" "$WORK/$c-$mode-other.txt" | awk '{printf "%.3f\n", $1/$3}' | median)
        m=$(cut -d' ' -f2 "$WORK/$c-$mode-trevalo.txt" | sort -g | tail -n1)
        other=$([ $mode = copy ] && echo "cp -a; sync" || echo "zip -3 -j per folder; sync")
        row=$(printf '| %-6s | %-5s | %8.2f s | %-22s %8.2f s | %6.3f | %6.1f MiB |' "$c" "$mode" "$t" "$other" "$o" "$r" "$(awk -v m="$m" 'BEGIN {print m / 1024}')")
        if [ -n "$BASE_CLI" ]; then
            b=$(cut -d' ' -f1 "$WORK/$c-$mode-base.txt" | median)
            rb=$(paste -d' ' "$WORK/$c-$mode-base.txt" "$WORK/$c-$mode-other.txt" | awk '{printf "%.3f\n", $1/$3}' | median)
            ra=$(paste -d' ' "$WORK/$c-$mode-trevalo.txt" "$WORK/$c-$mode-base.txt" | awk '{printf "%.3f\n", $1/$3}' | median)
            mb=$(cut -d' ' -f2 "$WORK/$c-$mode-base.txt" | sort -g | tail -n1)
            row+=$(printf ' %8.2f s | %6.3f | %6.3f | %6.1f MiB |' "$b" "$rb" "$ra" "$(awk -v m="$mb" 'BEGIN {print m / 1024}')")
        fi
        results+=("$row")
    done
done

echo
if [ -n "$BASE_CLI" ]; then
    echo "| corpus | set   | trevalo    | other                             | ratio  | trevalo peak | earlier    | ratio  | vs earlier | earlier peak |"
    echo "|--------|-------|------------|-----------------------------------|--------|--------------|------------|--------|------------|--------------|"
else
    echo "| corpus | set   | trevalo    | other                             | ratio  | trevalo peak |"
    echo "|--------|-------|------------|-----------------------------------|--------|--------------|"
fi
printf '%s\n' "${results[@]}"
[ "${KEEP:-0}" = 1 ] || rm -rf "$WORK/out" "$WORK/jobs"
