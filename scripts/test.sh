#!/usr/bin/env bash
# From a fresh clone: installs what is missing, builds, and runs the whole test suite.
# SANITIZE=1 builds in build-asan/ with AddressSanitizer and UndefinedBehaviorSanitizer
# instead, and any sanitizer report fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
options=(-DSTVIEW_BUILD_TESTS=ON)
if [[ "${SANITIZE:-0}" == 1 ]]; then
  export BUILD_DIR=${BUILD_DIR:-$root/build-asan}
  options+=(-DSTVIEW_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
  export LSAN_OPTIONS=suppressions=$root/tests/sanitizer/lsan.supp:fast_unwind_on_malloc=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
"$root/scripts/build.sh" "${options[@]}"
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure -j "$(nproc)"
