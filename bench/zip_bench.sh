#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Packs the same folders with Trevalo's zipFiles and with one `zip -3 -j -q` per folder,
# alternating the two (A B A B ...) after a warm-up, and prints the medians, the median of
# the per-round ratios and the peak memory. Each run's archive is deleted before both tools alike.
#
# usage: bench/zip_bench.sh [ZIPBENCH_BINARY]
#   without a binary, bench/zipbench.cpp is built by hand against $BUILD_DIR/src/libtrevalo_core.a
#   environment: BUILD_DIR (default: <repo>/build), WORK (default: /tmp/trevalo-zipbench), RUNS (default: 5)
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO/build}
WORK=${WORK:-/tmp/trevalo-zipbench}
RUNS=${RUNS:-5}
mkdir -p "$WORK/out"

BIN=${1:-}
if [ -z "$BIN" ]; then
    BIN=$WORK/zipbench
    echo "building $BIN against $BUILD_DIR/src/libtrevalo_core.a" >&2
    g++ -O2 -std=c++20 -fPIC -DQT_NO_CAST_FROM_ASCII -I"$REPO/src" -I"$BUILD_DIR/src" \
        $(pkg-config --cflags Qt6Core) "$REPO/bench/zipbench.cpp" "$BUILD_DIR/src/libtrevalo_core.a" \
        $(pkg-config --libs Qt6Core Qt6Network libzip sqlite3 zlib) -lpthread -o "$BIN"
fi

# Text-like data: words of a small vocabulary in random order, so that deflate finds matches
# but not endless repeats. Sizes are spread evenly between the bounds.
generate() { # folder count min_bytes max_bytes
    [ -f "$1.complete" ] && return
    rm -rf "$1"
    mkdir -p "$1"
    python3 - "$@" <<'PY'
import os, random, sys
folder, count, lo, hi = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
random.seed(count * 7919 + hi)
words = ("Sicherung Datei Verzeichnis Archiv komprimiert Rechnung Kunde Betrag Summe Datum "
         "Lieferung Auftrag Nummer 2023 2024 12,50 EUR ok nein ja Konto Buchung").split()
for i in range(count):
    size = random.randint(lo, hi)
    parts, n = [], 0
    while n < size:
        w = random.choice(words) + random.choice((" ", " ", " ", ";", "\n"))
        parts.append(w)
        n += len(w)
    with open(os.path.join(folder, "datei%06d.txt" % i), "w") as f:
        f.write("".join(parts)[:size])
PY
    : > "$1.complete"
}

echo "generating corpora in $WORK (kept for later runs)" >&2
generate "$WORK/mid" 2000 1024 65536
generate "$WORK/tiny" 10000 0 4096
generate "$WORK/large" 2 67108864 67108864

# One zip call per folder, fed the folder's file names as a list.
ZIP_LOOP='cd "$1" && find . -maxdepth 1 -type f -printf "%f\n" | zip -3 -j -q "$2" -@'

timed() { # tool folder archive -> "seconds peak_kib"
    rm -f "$3"
    local cmd
    if [ "$1" = trevalo ]; then cmd=("$BIN" "$3" "$2"); else cmd=(bash -c "$ZIP_LOOP" _ "$2" "$3"); fi
    local start=$EPOCHREALTIME
    /usr/bin/time -f "%M" -o "$WORK/out/mem" "${cmd[@]}" || true
    local end=$EPOCHREALTIME
    [ -s "$3" ] || { echo "$1 made no archive of $2" >&2; exit 1; }
    echo "$(echo "$end - $start" | bc -l) $(tail -1 "$WORK/out/mem")"
}
printf '%-7s %9s %9s %7s %12s %12s\n' corpus trevalo_s zip_s ratio trevalo_KiB zip_KiB
for corpus in mid tiny large; do
    dir=$WORK/$corpus
    timed trevalo "$dir" "$WORK/out/t.zip" >/dev/null
    timed zip "$dir" "$WORK/out/z.zip" >/dev/null
    results=()
    for ((i = 0; i < RUNS; i++)); do
        results+=("$(timed trevalo "$dir" "$WORK/out/t.zip") $(timed zip "$dir" "$WORK/out/z.zip")")
    done
    printf '%s\n' "${results[@]}" | python3 -c '
import statistics, sys
rows = [list(map(float, l.split())) for l in sys.stdin if l.strip()]
t = statistics.median(r[0] for r in rows); z = statistics.median(r[2] for r in rows)
ratio = statistics.median(r[0] / r[2] for r in rows)
print("%-7s %9.3f %9.3f %7.3f %12d %12d" % (sys.argv[1], t, z, ratio, max(r[1] for r in rows), max(r[3] for r in rows)))
' "$corpus"
done
