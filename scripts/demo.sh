#!/usr/bin/env bash
# From a fresh clone: installs what is missing, builds, detects the space-time interest
# points of the bundled sample with stdetect (out/sample-features.txt), then plays them
# with stview in the "Features" window. Without a display it renders them to
# out/sample-overlay.avi instead. Extra arguments go to stview.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
# Configured as scripts/test.sh configures it, so that the build folder keeps its test suite.
"$root/scripts/build.sh" -DSTVIEW_BUILD_TESTS=ON
build=${BUILD_DIR:-$root/build}
mkdir -p "$root/out"
features=$root/out/sample-features.txt
"$build/detector/stdetect" -v "$root/samples/sample.avi" -o "$features"
echo "demo: $(grep -vc '^#' "$features") points in $features"
args=(-v "$root/samples/sample.avi" -f "$features")
status=0
"$build/viewer/stview" "${args[@]}" "$@" || status=$?
if [[ $status -eq 2 ]]; then
  echo "demo: no display here, rendering to out/sample-overlay.avi instead"
  "$build/viewer/stview" "${args[@]}" --no-window -o "$root/out/sample-overlay.avi" "$@"
else
  exit $status
fi
