# SPDX-License-Identifier: GPL-3.0-or-later
# The generated corpora of the benchmarks, shared by run_bench.sh and restore_scan.sh (both keep
# them below $WORK/corpus, so they must agree on what a corpus holds). Sourced, not run.

# The folder of file n of a corpus; generate and run_bench.sh's touch_files share it.
FOLDER_PY='
def folders(root, dirs):
    top = max(1, int(dirs ** 0.5))
    return [os.path.join(root, "ordner%03d" % (i % top), "sub%04d" % i) if i >= top
            else os.path.join(root, "ordner%03d" % i) for i in range(dirs)]
def file_path(folder_list, n):
    return os.path.join(folder_list[n % len(folder_list)], "datei%06d.txt" % n)
'

# Text-like content: slices of a block of random words, so deflate has real work to do.
generate() { # name files dirs min max
    local dir=$WORK/corpus/$1
    [ -f "$dir.done" ] && return
    rm -rf "$dir"
    echo "generating $1 ($2 files in $3 folders, $4-$5 bytes)" >&2
    python3 - "$dir" "$2" "$3" "$4" "$5" <<PY
import os, random, sys
$FOLDER_PY
root, files, dirs, lo, hi = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
rnd = random.Random(4711)
words = ["".join(rnd.choice("abcdefghijklmnopqrstuvwxyzäöü") for _ in range(rnd.randint(2, 11))) for _ in range(6000)]
block = " ".join(rnd.choice(words) for _ in range(1_200_000)).encode()
folder_list = folders(root, dirs)
for d in folder_list:
    os.makedirs(d, exist_ok=True)
for n in range(files):
    size = rnd.randint(lo, hi)
    with open(file_path(folder_list, n), "wb") as f:
        left = size
        while left > 0:
            off = rnd.randrange(0, len(block) - 1)
            chunk = block[off:off + min(left, 1 << 20)]
            f.write(chunk)
            left -= len(chunk)
PY
    touch "$dir.done"
}
