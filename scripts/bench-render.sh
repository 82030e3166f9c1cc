#!/usr/bin/env bash
# End-to-end render benchmark. Generates a 640x480, 750-frame MPEG-4 video and a
# 100,000-point features file, then times, in the same run and best of 3 wall
# time each:
#   ffmpeg -i in.avi -c:v mpeg4 -vtag DIVX out.avi          (the reference)
#   stview --no-window -v in.avi -f features.txt -o out.avi
#   stview --no-window -v in.avi -f empty.txt -o out.avi    (render cost alone)
# and prints the two stview/ffmpeg ratios.
# Usage: scripts/bench-render.sh [path/to/stview]   (default build-bench/viewer/stview)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stview=${1:-$root/build-bench/viewer/stview}
runs=${RUNS:-3}
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

# best_of NAME COMMAND...: runs the command $runs times, prints and stores the
# fastest wall time in seconds.
declare -A best
best_of() {
  local name=$1 fastest="" start end elapsed
  shift
  for ((i = 0; i < runs; ++i)); do
    rm -f "$work/out.avi"
    start=$(date +%s%N)
    "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    end=$(date +%s%N)
    [[ -s "$work/out.avi" ]] || { echo "bench-render: $name wrote no output" >&2; exit 1; }
    elapsed=$((end - start))
    if [[ -z "$fastest" || $elapsed -lt $fastest ]]; then fastest=$elapsed; fi
  done
  best[$name]=$fastest
  awk -v n="$name" -v t="$fastest" -v r="$runs" 'BEGIN { printf "%-20s %8.3f s wall (best of %d)\n", n, t / 1e9, r }'
}

best_of "ffmpeg transcode" ffmpeg -nostdin -y -v error -i "$work/in.avi" -c:v mpeg4 -vtag DIVX "$work/out.avi"
best_of "stview 100k points" "$stview" --no-window -v "$work/in.avi" -f "$work/features.txt" -o "$work/out.avi"
best_of "stview no points" "$stview" --no-window -v "$work/in.avi" -f "$work/empty.txt" -o "$work/out.avi"

ratio() { awk -v a="${best[$1]}" -v b="${best[$2]}" 'BEGIN { printf "%.2f", a / b }'; }
echo "ratio stview 100k points / ffmpeg transcode: $(ratio "stview 100k points" "ffmpeg transcode")  (target <= 1.4)"
echo "ratio stview no points   / ffmpeg transcode: $(ratio "stview no points" "ffmpeg transcode")"
