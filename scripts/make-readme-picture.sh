#!/usr/bin/env bash
# Renders the bundled sample with stview and keeps one overlaid frame as the
# README's picture (docs/sample-frame.png). Needs a build in build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"${BUILD_DIR:-$root/build}/viewer/stview" --no-window -v "$root/samples/sample.avi" \
  -f "$root/samples/sample-features.txt" -o "$work/overlay.avi" >/dev/null
ffmpeg -loglevel error -y -i "$work/overlay.avi" -vf "select=eq(n\,75)" -frames:v 1 \
  "$root/docs/sample-frame.png"
