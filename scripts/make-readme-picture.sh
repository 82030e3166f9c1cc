#!/usr/bin/env bash
# Detects the points of the bundled sample with stdetect, renders them with stview and
# keeps one overlaid frame as the README's picture (docs/sample-frame.png). Needs a build
# in build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/detector/stdetect" --quiet -v "$root/samples/sample.avi" -o "$work/points.txt"
"$build/viewer/stview" --no-window -v "$root/samples/sample.avi" -f "$work/points.txt" \
  -o "$work/overlay.avi" >/dev/null 2>&1
ffmpeg -loglevel error -y -i "$work/overlay.avi" -vf "select=eq(n\,52)" -frames:v 1 \
  "$root/docs/sample-frame.png"
