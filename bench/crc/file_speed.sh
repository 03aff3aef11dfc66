#!/usr/bin/env bash
# CalculateFile on a 1 GiB file in the page cache next to `cat FILE > /dev/null`, and the peak
# memory of CalculateFile on a sparse 8 GiB file.
#   bench/crc/file_speed.sh [BUILD_DIR] [SCRATCH_DIR]
# Needs about 1 GiB of free space in SCRATCH_DIR (default: a new folder under /tmp).
set -euo pipefail
build="${1:-build}"
tool="$build/bench/crc/crc_file_time"
[ -x "$tool" ] || { echo "build $tool first (cmake --build $build)" >&2; exit 2; }
scratch="$(mktemp -d "${2:-${TMPDIR:-/tmp}}/crc-bench.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

big="$scratch/random-1GiB"
head -c 1G /dev/urandom > "$big"
cat "$big" > /dev/null   # into the page cache
echo "== cat, three runs"
for _ in 1 2 3; do
  /usr/bin/time -f "cat  %e s" cat "$big" > /dev/null
done
echo "== CalculateFile, three runs"
"$tool" "$big" --repeat 3
echo "== python zlib, for the same fingerprint"
python3 -c 'import sys, zlib
crc = 0
with open(sys.argv[1], "rb") as f:
    while chunk := f.read(1 << 20):
        crc = zlib.crc32(chunk, crc)
print("%X" % crc)' "$big"

sparse="$scratch/sparse-8GiB"
truncate -s 8G "$sparse"
echo "== CalculateFile on a sparse 8 GiB file: peak memory"
/usr/bin/time -v "$tool" "$sparse" 2>&1 | grep -E "GB/s|Maximum resident|Elapsed"
