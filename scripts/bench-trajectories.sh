#!/usr/bin/env bash
# Dense trajectories' figures for docs/benchmarks.md: frame rates on OpenCV's vtest.avi at
# 384x288 with 1 and 2 threads (elapsed and CPU time), trajectories per frame, where the time
# goes (the per-frame OpenCV stages timed on their own), peak memory against --memory-need at
# 320x240 and 640x480, and bytes per trajectory in the text file.
# Usage: scripts/bench-trajectories.sh [BUILD_DIR]   (default build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
stdetect=$build/detector/stdetect
vtest=${VTEST:-/usr/share/doc/opencv-doc/examples/data/vtest.avi}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 384:288 320:240 640:480; do
  ffmpeg -nostdin -loglevel error -i "$vtest" -vf scale=$size -c:v mjpeg -q:v 3 \
    "$work/vtest-${size/:/x}.avi"
done
clip=$work/vtest-384x288.avi
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of csv=p=0 "$clip")
echo "frames: $frames (384x288)"
for threads in 1 2; do
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$stdetect" -v "$clip" --detector trajectories \
    --threads $threads --quiet -o "$work/t$threads.txt"
  read -r elapsed user sys < "$work/time"
  awk -v n="$frames" -v e="$elapsed" -v u="$user" -v s="$sys" -v t=$threads 'BEGIN {
    printf "threads %d: %.1f frames/s elapsed, %.1f frames/s of CPU time (%.1f s user+sys)\n",
      t, n / e, n / (u + s), u + s }'
done
records=$(grep -vc '^#' "$work/t1.txt")
bytes=$(grep -v '^#' "$work/t1.txt" | wc -c)
awk -v r="$records" -v b="$bytes" -v n="$frames" 'BEGIN {
  printf "trajectories: %d, %.1f per frame; %.0f bytes per trajectory; file %.1f MB\n",
    r, r / n, b / r, b / 1e6 }'
/usr/bin/python3 - "$clip" <<'PY'
# The per-frame OpenCV stages of every scale, timed on their own (one thread).
import sys, time
import cv2
cv2.setNumThreads(1)
cap = cv2.VideoCapture(sys.argv[1])
grey = []
while len(grey) < 100:
    ok, frame = cap.read()
    if not ok:
        break
    grey.append(cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY))
h, w = grey[0].shape
sizes = []
for s in range(8):
    q = 2 ** (-s / 2)
    size = (round(w * q), round(h * q))
    if min(size) < 32:
        break
    sizes.append(size)
stages = dict(resize=0.0, flow=0.0, median=0.0, eigen=0.0)
for a, b in zip(grey, grey[1:]):
    for size in sizes:
        t = time.perf_counter()
        ga, gb = cv2.resize(a, size), cv2.resize(b, size)
        stages["resize"] += time.perf_counter() - t
        t = time.perf_counter()
        flow = cv2.calcOpticalFlowFarneback(ga, gb, None, 0.5, 3, 15, 3, 5, 1.2, 0)
        stages["flow"] += time.perf_counter() - t
        t = time.perf_counter()
        cv2.medianBlur(flow[..., 0].copy(), 3), cv2.medianBlur(flow[..., 1].copy(), 3)
        stages["median"] += time.perf_counter() - t
        t = time.perf_counter()
        cv2.cornerMinEigenVal(ga, 3, ksize=3)
        stages["eigen"] += time.perf_counter() - t
n = len(grey) - 1
print("per frame, all %d scales, one thread: " % len(sizes) +
      ", ".join("%s %.1f ms" % (k, 1000 * v / n) for k, v in stages.items()))
PY
for size in 320x240 640x480; do
  /usr/bin/time -f "%M" -o "$work/peak" "$stdetect" -v "$work/vtest-$size.avi" --detector \
    trajectories --threads 2 --quiet -lf 200 -o /dev/null
  need=$("$stdetect" --detector trajectories --threads 2 --memory-need $size)
  awk -v p="$(cat "$work/peak")" -v m="$need" -v s=$size 'BEGIN {
    printf "%s: peak %.0f MB, --memory-need %.0f MB\n", s, p / 1024, m / 1e6 }'
done
