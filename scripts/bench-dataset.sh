#!/usr/bin/env bash
# Videos per minute through detect-dataset.sh on the same generated clips: GNU
# parallel on this machine against --slurm on a single-node Slurm started here
# (scripts/slurm-single-node.sh, as root), one task per video and the default
# share. Usage: scripts/bench-dataset.sh [CLIPS [FRAMES]] (default 16 clips of
# 160x120, KTH's frame size, 50 frames each); STDETECT as for detect-dataset.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
clips=${1:-16}
frames=${2:-50}
# shellcheck source=slurm-single-node.sh
source "$root/scripts/slurm-single-node.sh"
work=$(mktemp -d)
trap 'set +e; slurm_stop; rm -rf -- "$work"' EXIT
slurm_start
mkdir "$work/in"
for ((i = 0; i < clips; i++)); do
  ffmpeg -loglevel error -f lavfi -i "testsrc2=size=160x120:rate=25" -vf "hue=h=$((i * 23))" \
    -frames:v "$frames" -c:v mpeg4 -q:v 2 "$work/in/clip$i.avi"
done
echo "$clips clips of 160x120, $frames frames; $(nproc) CPUs; load average $(cut -d ' ' -f 1-3 /proc/loadavg)"
for engine in "parallel" "--slurm --per-task 1" "--slurm"; do
  rm -rf -- "$work/out"
  options=()
  [[ "$engine" == parallel ]] || read -r -a options <<<"$engine"
  start=$(date +%s.%N)
  "$root/scripts/detect-dataset.sh" "${options[@]}" "$work/in" "$work/out" 2>"$work/err" ||
    { cat "$work/err" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v e="$engine" -v n="$clips" -v s="$start" -v f="$end" \
    'BEGIN { printf "%-22s %6.1f s  %6.1f videos per minute\n", e, f - s, n * 60 / (f - s) }'
done
echo "load average after: $(cut -d ' ' -f 1-3 /proc/loadavg)"
