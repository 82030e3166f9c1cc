#!/usr/bin/env bash
# From a fresh clone: installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DSTVIEW_BUILD_TESTS=ON
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure -j "$(nproc)"
