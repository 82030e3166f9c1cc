#!/usr/bin/env bash
# Size and quality of the default outputs on OpenCV's sample vtest.avi (768x576,
# 795 frames; Debian package opencv-doc), no points drawn, beside ffmpeg encoding
# the same input directly at the same settings. PSNR: the mean over frames of each
# frame's PSNR over the three channels of the BGR frames as OpenCV decodes them,
# frame n of the output against frame n of the input (stview_video_psnr).
# Usage: scripts/bench-quality.sh [build dir]   (default build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
stview=$build/viewer/stview
psnr=$build/bench/stview_video_psnr
video=${VIDEO:-/usr/share/doc/opencv-doc/examples/data/vtest.avi}
[[ -x "$stview" && -x "$psnr" ]] || { echo "bench-quality: build stview and stview_video_psnr in $build" >&2; exit 1; }
[[ -f "$video" ]] || { echo "bench-quality: skipped, no $video (apt-get install opencv-doc)" >&2; exit 0; }

work=$(mktemp -d "${TMPDIR:-/tmp}/stview-quality.XXXXXX")
trap 'rm -rf "$work"' EXIT
: >"$work/empty.txt"

# report NAME FILE: size and PSNR against the input.
report() {
  printf "%-34s %6.2f MB  %s\n" "$1" "$(awk -v s="$(stat -c %s "$2")" 'BEGIN { print s / 1e6 }')" \
    "$("$psnr" "$video" "$2")"
}
for extra in "" "--quality 3" "--fps source"; do
  "$stview" --no-window -v "$video" -f "$work/empty.txt" -o "$work/out.avi" $extra >/dev/null 2>&1
  report "stview .avi ${extra:-(q 4)}" "$work/out.avi"
done
for extra in "" "--quality 18" "--quality 17" "--fps source"; do
  "$stview" --no-window -v "$video" -f "$work/empty.txt" -o "$work/out.mp4" $extra >/dev/null 2>&1
  report "stview .mp4 ${extra:-(CRF 20)}" "$work/out.mp4"
done
ffmpeg -nostdin -y -v error -i "$video" -c:v mpeg4 -vtag DIVX -q:v 4 "$work/ref.avi"
report "ffmpeg -c:v mpeg4 -q:v 4" "$work/ref.avi"
ffmpeg -nostdin -y -v error -i "$video" -c:v libx264 -crf 20 "$work/ref.mp4"
report "ffmpeg -c:v libx264 -crf 20" "$work/ref.mp4"
