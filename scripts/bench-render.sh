#!/usr/bin/env bash
# End-to-end render benchmark. Generates a 640x480, 750-frame MPEG-4 video and a
# 100,000-point features file, has stview draw them once (overlaid.avi, MPEG-4 q 4
# like the input), then times, in the same run and best of 3 wall time each, stview
# rendering the points against ffmpeg re-encoding those overlaid frames to the same
# codec at the same bit rate ($RATE, default 2M):
#   ffmpeg -i overlaid.avi -c:v mpeg4 -vtag DIVX -b:v 2M out.avi   vs  stview ... -o out.avi --bitrate 2M
#   ffmpeg -i overlaid.avi -c:v libx264 -b:v 2M out.mp4            vs  stview ... -o out.mp4 --bitrate 2M
# and the render cost alone (empty features file, default .avi). Start-up included.
# Usage: scripts/bench-render.sh [path/to/stview]   (default build-bench/viewer/stview)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stview=${1:-$root/build-bench/viewer/stview}
runs=${RUNS:-3}
rate=${RATE:-2M}
[[ -x "$stview" ]] || { echo "bench-render: no binary at $stview (run scripts/bench.sh)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/stview-render.XXXXXX")
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v 750 \
  -c:v mpeg4 -q:v 4 "$work/in.avi"

# Deterministic points over the video's frames: radii 3 to 15 pixels, each
# drawn in 3 to 5 frames (about 540 circles per frame).
python3 - "$work/features.txt" <<'PY'
import random, sys
random.seed(5)
with open(sys.argv[1], "w") as out:
    out.write("# id x y t spatial-variance temporal-variance value\n")
    for i in range(100000):
        out.write("%d %d %d %d %.2f %.2f %.3e\n" % (
            i, random.randrange(640), random.randrange(480), random.randrange(750),
            random.uniform(1.0, 25.0), random.uniform(2.0, 6.25), random.uniform(1e-4, 1e-1)))
PY
: >"$work/empty.txt"

# best_of NAME OUTPUT COMMAND...: runs the command $runs times, prints and stores the
# fastest wall time in seconds and the size of OUTPUT.
declare -A best
best_of() {
  local name=$1 output=$2 fastest="" start end elapsed
  shift 2
  for ((i = 0; i < runs; ++i)); do
    rm -f "$output"
    start=$(date +%s%N)
    "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    end=$(date +%s%N)
    [[ -s "$output" ]] || { echo "bench-render: $name wrote no output" >&2; exit 1; }
    elapsed=$((end - start))
    if [[ -z "$fastest" || $elapsed -lt $fastest ]]; then fastest=$elapsed; fi
  done
  best[$name]=$fastest
  awk -v n="$name" -v t="$fastest" -v r="$runs" -v s="$(stat -c %s "$output")" \
    'BEGIN { printf "%-26s %8.3f s wall (best of %d), %6.2f MB\n", n, t / 1e9, r, s / 1e6 }'
}

"$stview" --no-window -v "$work/in.avi" -f "$work/features.txt" -o "$work/overlaid.avi" \
  >/dev/null 2>&1
view=("$stview" --no-window -v "$work/in.avi" -f "$work/features.txt")
best_of "ffmpeg mpeg4 $rate" "$work/out.avi" ffmpeg -nostdin -y -v error -i "$work/overlaid.avi" \
  -c:v mpeg4 -vtag DIVX -b:v "$rate" "$work/out.avi"
best_of "stview .avi $rate" "$work/out.avi" "${view[@]}" -o "$work/out.avi" --bitrate "$rate"
best_of "ffmpeg libx264 $rate" "$work/out.mp4" ffmpeg -nostdin -y -v error -i "$work/overlaid.avi" \
  -c:v libx264 -b:v "$rate" "$work/out.mp4"
best_of "stview .mp4 $rate" "$work/out.mp4" "${view[@]}" -o "$work/out.mp4" --bitrate "$rate"
best_of "stview .avi default" "$work/out.avi" "${view[@]}" -o "$work/out.avi"
best_of "stview .mp4 default" "$work/out.mp4" "${view[@]}" -o "$work/out.mp4"
best_of "stview no points .avi" "$work/out.avi" "$stview" --no-window -v "$work/in.avi" \
  -f "$work/empty.txt" -o "$work/out.avi"

ratio() { awk -v a="${best[$1]}" -v b="${best[$2]}" 'BEGIN { printf "%.2f", a / b }'; }
echo "ratio stview / ffmpeg, MPEG-4 $rate: $(ratio "stview .avi $rate" "ffmpeg mpeg4 $rate")  (target <= 1.15)"
echo "ratio stview / ffmpeg, H.264 $rate:  $(ratio "stview .mp4 $rate" "ffmpeg libx264 $rate")  (target <= 1.15)"
