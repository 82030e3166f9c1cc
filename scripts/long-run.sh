#!/usr/bin/env bash
# Renders a 10,000-frame video headless with the sanitized stview (build-asan/)
# and checks that the leak checker finds nothing and that memory stays flat:
# the peak of the long run must not exceed the peak of a 1,000-frame run by
# more than a small allowance. Then runs stdetect (Release build, build-release/)
# with the ten default scale pairs over the same 10,000 frames and over 1,000:
# its peak must stay within 5%. Prints all peaks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stview=${BUILD_DIR:-$root/build-asan}/viewer/stview
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A small quarantine keeps freed memory from counting as growth.
export ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=8:thread_local_quarantine_size_kb=64
export LSAN_OPTIONS=suppressions=$root/tests/sanitizer/lsan.supp

ffmpeg -loglevel error -f lavfi -i testsrc2=size=160x120:rate=25 -frames:v 10000 \
  -c:v mpeg4 -q:v 5 "$work/long.avi"
# Points in every frame, so drawing runs all the way through.
awk 'BEGIN { for (t = 0; t < 10000; t += 2) printf "0 %d %d %d 16 4 1\n", (t * 7) % 160, (t * 3) % 120, t }' \
  > "$work/long.txt"

peak() {  # peak resident memory in kB of one headless render of $1 frames
  /usr/bin/time -f '%M' -o "$work/rss" "$stview" --no-window -v "$work/long.avi" \
    -f "$work/long.txt" -lf "$1" -o "$work/out.avi" >/dev/null 2>"$work/err" ||
    { cat "$work/err" >&2; echo "long-run: the $1-frame render failed" >&2; exit 1; }
  cat "$work/rss"
}
short=$(peak 1000)
long=$(peak 10000)
echo "long-run: peak memory ${short} kB for 1,000 frames, ${long} kB for 10,000 frames; no leak reported"
if (( long > short * 12 / 10 + 10240 )); then
  echo "long-run: memory grows with the number of frames" >&2
  exit 1
fi

release=${RELEASE_BUILD_DIR:-$root/build-release}
cmake -S "$root" -B "$release" -DCMAKE_BUILD_TYPE=Release -DSTVIEW_BUILD_TESTS=OFF >/dev/null
cmake --build "$release" -j "$(nproc)" --target stdetect >/dev/null
detect_peak() {  # peak resident memory in kB of stdetect over $1 frames
  /usr/bin/time -f '%M' -o "$work/rss" "$release/detector/stdetect" --quiet -v "$work/long.avi" \
    -lf "$1" -o "$work/points.txt" 2>"$work/err" ||
    { cat "$work/err" >&2; echo "long-run: stdetect over $1 frames failed" >&2; exit 1; }
  cat "$work/rss"
}
unset ASAN_OPTIONS LSAN_OPTIONS
start=$(date +%s)
short=$(detect_peak 1000)
long=$(detect_peak 10000)
echo "long-run: stdetect peak memory ${short} kB for 1,000 frames, ${long} kB for 10,000 frames" \
  "($(grep -vc '^#' "$work/points.txt") points, $(( $(date +%s) - start )) s)"
if (( long * 100 > short * 105 )); then
  echo "long-run: stdetect's memory grows with the number of frames" >&2
  exit 1
fi
