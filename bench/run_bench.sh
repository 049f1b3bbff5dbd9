#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures trevalo-cli against what a user would do instead, in the same call. Rows (MODE):
#   copy     full copied set                          vs  cp -a, then sync
#   zip      full zipped set                          vs  one `zip -3 -j -q` per folder, then sync
#   incr     incremental set, nothing changed since the last run
#                                                     vs  rsync -a SRC/ DST/ on a synced copy, then sync
#   incr1    incremental set after 1 % of the files changed (another 1 % before each round)
#                                                     vs  the same rsync
#   restore  restore of a copied set (trevalo-cli restore --to)   vs  cp -a of the set's files
#   unzip    restore of a zipped set                               vs  one `unzip -q` per archive
# (a run ends with its set written back to the medium, so the other tools of the backup rows
# sync too; neither side of a restore row syncs). Runs alternate (A B A B ...) after a warm-up;
# the copy, zip and restore rows write a new target every run (old targets are left in place,
# never deleted between runs, see BENCH-FACTS), the incremental rows run again and again on
# one primed target each, as a daily run does. `sync` runs before each measured command; the
# table shows medians, the median of the per-round ratios and the peak memory of each side.
# Each row writes to a medium of its own, newly formatted (ext4 in an image file on a loop
# device with direct I/O), so that no row pays for the files an earlier one created or deleted;
# without root or loop devices, or with MEDIUM=folder, targets go to $WORK/out on the work
# folder's own file system.
#
# usage: bench/run_bench.sh [CORPUS[:MODE,MODE...]]...
#   corpora: small (20,000 files of 1-64 KB in 400 folders), large (8 files of 64 MB),
#            tiny (100,000 files of 0-4 KB in 1,000 folders),
#            huge (1,000,000 files of 0-4 KB in 10,000 folders; about 4 GB, and as much per copy)
#   a corpus without modes runs copy and zip; without arguments:
#            small large tiny:copy,zip,incr,incr1,restore,unzip
# environment: WORK (default /var/tmp/trevalo-bench), RUNS (default 3), BUILD_DIR (default ./build),
#              MEDIUM (image or folder, see above), MEDIUM_SIZE (of the image, default 48G; sparse),
#              KEEP=1 keeps the targets afterwards (the last row's medium stays mounted on $WORK/out),
#              BASE_BUILD_DIR: the build of an earlier version,
#              run (then sync) in every round too, so the table also shows this build against it
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO/build}
CLI=$BUILD_DIR/src/app/trevalo-cli
BASE_CLI=${BASE_BUILD_DIR:+$BASE_BUILD_DIR/src/app/trevalo-cli}
WORK=${WORK:-/var/tmp/trevalo-bench}
RUNS=${RUNS:-3}
ITEMS=("$@")
[ ${#ITEMS[@]} -gt 0 ] || ITEMS=(small large tiny:copy,zip,incr,incr1,restore,unzip)

[ -x "$CLI" ] || { echo "build first: scripts/build" >&2; exit 1; }
[ -z "$BASE_CLI" ] || [ -x "$BASE_CLI" ] || { echo "no trevalo-cli in $BASE_BUILD_DIR" >&2; exit 1; }
command -v zip >/dev/null && command -v unzip >/dev/null || { echo "zip or unzip missing: scripts/install-deps" >&2; exit 1; }
need=()
[ -x /usr/bin/time ] || need+=(time)
command -v rsync >/dev/null || need+=(rsync)
[ ${#need[@]} -eq 0 ] || apt-get install -y -qq "${need[@]}" >/dev/null

# Settings start empty: the program remembers the medium each target was on, and a target
# path of an earlier call now on another medium would read as "medium not inserted".
rm -rf "$WORK/config"
mkdir -p "$WORK/corpus" "$WORK/out" "$WORK/config" "$WORK/tmp"
export XDG_CONFIG_HOME=$WORK/config

MEDIUM=${MEDIUM:-image}
if [ "$MEDIUM" = image ] && { [ "$(id -u)" != 0 ] || ! command -v losetup >/dev/null || ! command -v mkfs.ext4 >/dev/null \
        || ! losetup -f >/dev/null 2>&1; }; then
    echo "no loop device here: targets go to $WORK/out on the work folder's file system" >&2
    MEDIUM=folder
fi
medium_device=
drop_medium() {
    [ -n "$medium_device" ] || return 0
    umount "$WORK/out" && losetup -d "$medium_device" && rm -f "$WORK/medium.img"
    medium_device=
}
# A newly formatted medium on $WORK/out, with an inode per 4 KiB (the small-file corpora need
# millions); its inode tables are written now, not by the kernel in the background while a row
# runs.
fresh_medium() {
    [ "$MEDIUM" = image ] || return 0
    drop_medium
    rm -rf "$WORK/out" && mkdir -p "$WORK/out"
    truncate -s "${MEDIUM_SIZE:-48G}" "$WORK/medium.img"
    mkfs.ext4 -q -F -i 4096 -E lazy_itable_init=0,lazy_journal_init=0,nodiscard "$WORK/medium.img"
    medium_device=$(losetup -f --show --direct-io=on "$WORK/medium.img")
    mount "$medium_device" "$WORK/out"
}
[ "$MEDIUM" = folder ] || [ "${KEEP:-0}" = 1 ] || trap drop_medium EXIT

declare -A SPEC=([small]="20000 400 1024 65536" [large]="8 1 67108864 67108864" [tiny]="100000 1000 0 4096"
    [huge]="1000000 10000 0 4096")

# shellcheck source=bench/corpus.sh
source "$REPO/bench/corpus.sh"

# Changes 1 % of the files of a corpus (a line appended, so size and time change): those whose
# number leaves the remainder k when divided by 100.
touch_files() { # name files dirs k
    python3 - "$WORK/corpus/$1" "$2" "$3" "$4" <<PY
import os, sys
$FOLDER_PY
root, files, dirs, k = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
folder_list = folders(root, dirs)
for n in range(k % 100, files, 100):
    with open(file_path(folder_list, n), "ab") as f:
        f.write(b"changed\n")
PY
}

write_job() { # scripts-base name compress target source [full]
    mkdir -p "$1/Scripts"
    printf '[Einstellungen]\r\nName=%s\r\nZiel=%s\r\nGesamtsicherung=%s\r\nkomprimieren=%s\r\nproto=0\r\nStart_Meldung=0\r\nbackup_ok_anzeigen=0\r\nfehler_anzeigen=0\r\ntemp_pfad=%s\r\n[Verzeichnisse]\r\nVerz1=%s\r\n[SubDirs]\r\nSubDir1=1\r\n' \
        "$2" "$4" "${6:-1}" "$3" "$WORK/tmp" "$5" > "$1/Scripts/0.scr"
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
unzip_loop() { # set-folder target
    local src=$1 dst=$2
    (cd "$src" && find . -name Archive.zip -printf '%h\n') | while read -r d; do
        mkdir -p "$dst/$d"
        unzip -q -o "$src/$d/Archive.zip" -d "$dst/$d"
    done
}
export -f zip_loop unzip_loop

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# Each build keeps its own archive-attribute catalog per row, so neither sees the other's runs.
cli() { # which(new|base) state command...
    local which=$1 state=$2; shift 2
    local bin=$CLI
    [ "$which" = base ] && bin=$BASE_CLI
    XDG_STATE_HOME=$state "$bin" "$@"
}
export -f cli
export CLI BASE_CLI

# The set a restore row reads: made once by a run of this build, outside the measured rounds.
make_set() { # corpus compress -> prints the set folder's parent and the set's name
    local c=$1 z=$2 src=$WORK/corpus/$1
    local medium=$WORK/out/set-$c-$z
    if [ ! -d "$medium" ]; then
        write_job "$WORK/jobs/set-$c-$z" bench "$z" "$medium" "$src"
        cli new "$WORK/state-set" --scripts-folder "$WORK/jobs/set-$c-$z" run bench >/dev/null \
            || { echo "the run that makes the set of $c failed" >&2; exit 1; }
    fi
    echo "$medium $(ls "$medium" | grep '^B-T0')"
}

declare -A OTHER=([copy]="cp -a; sync" [zip]="zip -3 -j per folder; sync" [incr]="rsync -a; sync"
    [incr1]="rsync -a; sync" [restore]="cp -a" [unzip]="unzip per archive")
results=()
for item in "${ITEMS[@]}"; do
    c=${item%%:*}
    modes=copy,zip
    [ "$item" = "$c" ] || modes=${item#*:}
    [ -n "${SPEC[$c]:-}" ] || { echo "unknown corpus $c" >&2; exit 1; }
    read -r files dirs lo hi <<< "${SPEC[$c]}"
    generate "$c" "$files" "$dirs" "$lo" "$hi"
    src=$WORK/corpus/$c
    for mode in ${modes//,/ }; do
        [ -n "${OTHER[$mode]:-}" ] || { echo "unknown mode $mode" >&2; exit 1; }
        fresh_medium
        # The page cache holds the source, as it does for a copy made right after the files were written.
        find "$src" -type f -print0 | xargs -0 -n 1000 cat > /dev/null 2>&1 || true
        rm -f "$WORK/$c-$mode-"*.txt
        [ -z "$BASE_CLI" ] || : > "$WORK/$c-$mode-base.txt"
        stamp0=$(date +%s%N)
        case $mode in
        incr|incr1)
            # Primed once: a full run clears the archive attributes, rsync makes its copy.
            for which in new ${BASE_CLI:+base}; do
                st=$WORK/state-$c-$mode-$which-$stamp0
                write_job "$WORK/jobs/$c-$mode-$which-full" bench 0 "$WORK/out/i-$c-$mode-$which" "$src" 1
                write_job "$WORK/jobs/$c-$mode-$which" bench 0 "$WORK/out/i-$c-$mode-$which" "$src" 0
                cli "$which" "$st" --scripts-folder "$WORK/jobs/$c-$mode-$which-full" run bench >/dev/null \
                    || { echo "the priming run of $c $mode failed" >&2; exit 1; }
            done
            rsync -a "$src/" "$WORK/out/i-$c-$mode-rsync/"
            ;;
        restore|unzip)
            read -r medium setname <<< "$(make_set "$c" "$([ $mode = unzip ] && echo 1 || echo 0)")"
            setroot=$medium/$setname/root
            ;;
        esac
        for round in $(seq 0 "$RUNS"); do   # round 0 is the warm-up
            stamp=$(date +%s%N)
            tfile=$WORK/$c-$mode-trevalo.txt; ofile=$WORK/$c-$mode-other.txt
            bfile=$WORK/$c-$mode-base.txt
            [ "$round" -eq 0 ] && { tfile=/dev/null; ofile=/dev/null; bfile=/dev/null; }
            [ "$mode" = incr1 ] && touch_files "$c" "$files" "$dirs" "$round"
            for which in new ${BASE_CLI:+base}; do
                # A run syncs its set; an earlier version may leave it in the page cache: sync after it.
                f=$tfile after=""
                [ "$which" = base ] && { f=$bfile; after=" && sync"; }
                case $mode in
                copy|zip)
                    write_job "$WORK/jobs/$c-$mode-$stamp-$which" bench "$([ $mode = zip ] && echo 1 || echo 0)" \
                        "$WORK/out/t-$c-$mode-$stamp-$which" "$src"
                    measure "$f" bash -c "cli $which '$WORK/state-$which' --scripts-folder '$WORK/jobs/$c-$mode-$stamp-$which' run bench$after"
                    ;;
                incr|incr1)
                    measure "$f" bash -c "cli $which '$WORK/state-$c-$mode-$which-$stamp0' --scripts-folder '$WORK/jobs/$c-$mode-$which' run bench$after"
                    ;;
                restore|unzip)
                    measure "$f" bash -c "cli $which '$WORK/state-$which' restore '$medium' --set '$setname' --to '$WORK/out/r-$c-$mode-$stamp-$which'"
                    ;;
                esac
            done
            case $mode in
            copy) measure "$ofile" bash -c "cp -a '$src' '$WORK/out/o-$c-$mode-$stamp' && sync" ;;
            zip) measure "$ofile" bash -c "zip_loop '$src' '$WORK/out/o-$c-$mode-$stamp' && sync" ;;
            incr|incr1) measure "$ofile" bash -c "rsync -a '$src/' '$WORK/out/i-$c-$mode-rsync/' && sync" ;;
            restore) measure "$ofile" cp -a "$setroot" "$WORK/out/o-$c-$mode-$stamp" ;;
            unzip) measure "$ofile" bash -c "unzip_loop '$setroot' '$WORK/out/o-$c-$mode-$stamp'" ;;
            esac
        done
        t=$(cut -d' ' -f1 "$WORK/$c-$mode-trevalo.txt" | median)
        o=$(cut -d' ' -f1 "$WORK/$c-$mode-other.txt" | median)
        r=$(paste -d' ' "$WORK/$c-$mode-trevalo.txt" "$WORK/$c-$mode-other.txt" | awk '{printf "%.3f\n", $1/$3}' | median)
        m=$(cut -d' ' -f2 "$WORK/$c-$mode-trevalo.txt" | sort -g | tail -n1)
        mo=$(cut -d' ' -f2 "$WORK/$c-$mode-other.txt" | sort -g | tail -n1)
        row=$(printf '| %-6s | %-7s | %8.2f s | %-26s %8.2f s | %6.3f | %7.1f MiB | %7.1f MiB |' "$c" "$mode" "$t" \
            "${OTHER[$mode]}" "$o" "$r" "$(awk -v m="$m" 'BEGIN {print m / 1024}')" "$(awk -v m="$mo" 'BEGIN {print m / 1024}')")
        if [ -n "$BASE_CLI" ]; then
            b=$(cut -d' ' -f1 "$WORK/$c-$mode-base.txt" | median)
            rb=$(paste -d' ' "$WORK/$c-$mode-base.txt" "$WORK/$c-$mode-other.txt" | awk '{printf "%.3f\n", $1/$3}' | median)
            ra=$(paste -d' ' "$WORK/$c-$mode-trevalo.txt" "$WORK/$c-$mode-base.txt" | awk '{printf "%.3f\n", $1/$3}' | median)
            mb=$(cut -d' ' -f2 "$WORK/$c-$mode-base.txt" | sort -g | tail -n1)
            row+=$(printf ' %8.2f s | %6.3f | %6.3f | %7.1f MiB |' "$b" "$rb" "$ra" "$(awk -v m="$mb" 'BEGIN {print m / 1024}')")
        fi
        results+=("$row")
    done
done

echo
head="| corpus | set     | trevalo    | other                                  | ratio  | trevalo peak | other peak  |"
rule="|--------|---------|------------|----------------------------------------|--------|--------------|-------------|"
if [ -n "$BASE_CLI" ]; then
    head+=" earlier    | ratio  | vs earlier | earlier peak |"
    rule+="------------|--------|------------|--------------|"
fi
echo "$head"
echo "$rule"
printf '%s\n' "${results[@]}"
[ "${KEEP:-0}" = 1 ] || { drop_medium; rm -rf "$WORK/out" "$WORK/jobs" "$WORK"/state-*; }
