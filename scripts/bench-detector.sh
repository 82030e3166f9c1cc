#!/usr/bin/env bash
# The detector's frame rates beside an earlier commit's, measured in the same run:
#   scripts/bench-detector.sh [commit] [rounds]
# builds the detector benchmark of this tree (build-bench/) and of the commit (default ae22e83,
# the detector before issue 19; build-bench-base/, from `git archive`) in Release, then runs
# the two in turn `rounds` times (default 3; each run 3 repetitions), so that a machine shared
# with other work stretches both alike, and prints the median frame rates and their ratios.
# Raw results: build-bench/bench-results/detector-{new,base}-N.json.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=${1:-ae22e83}
rounds=${2:-3}
build=${BUILD_DIR:-$root/build-bench}
base=$root/build-bench-base
jobs=${JOBS:-2}

configure() {  # source, build directory
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DSTVIEW_BUILD_BENCHMARKS=ON \
    -DSTVIEW_BUILD_TESTS=OFF >/dev/null
  cmake --build "$2" -j "$jobs" --target stview_bench_detector
}
configure "$root" "$build"
rm -rf "$base/src"
mkdir -p "$base/src"
git -C "$root" archive "$commit" | tar -x -C "$base/src"
# Both builds run this tree's benchmark program (it uses only the detector's public API), so
# that a fix to the benchmark itself applies to both sides.
cp "$root/bench/detector_bench.cpp" "$root/bench/drifting_scene.hpp" "$base/src/bench/"
configure "$base/src" "$base/build"

results=$build/bench-results
mkdir -p "$results"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq "$rounds"); do
  for which in base new; do
    program=$build/bench/stview_bench_detector
    [[ $which == base ]] && program=$base/build/bench/stview_bench_detector
    "$program" --benchmark_filter=Streaming --benchmark_repetitions=3 \
      --benchmark_report_aggregates_only=true --benchmark_out_format=json \
      --benchmark_out="$results/detector-$which-$round.json" >/dev/null
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$results" "$rounds" "$commit" <<'PY'
import json, statistics, sys

results, rounds, commit = sys.argv[1], int(sys.argv[2]), sys.argv[3]
rates = {}
for which in ("base", "new"):
    for round_ in range(1, rounds + 1):
        for run in json.load(open("%s/detector-%s-%d.json" % (results, which, round_)))["benchmarks"]:
            if run.get("aggregate_name") == "median":
                rates.setdefault((which, run["run_name"]), []).append(run["items_per_second"])
print("%-32s %10s %10s %7s   target" % ("frames per second (median)", commit, "this tree", "ratio"))
for label, name, target in (("1 pair (4, 2)", "Detector_Streaming/1/0/real_time", 125),
                            ("10 default pairs", "Detector_Streaming/10/0/real_time", 15),
                            ("10 pairs, hog,hof", "Detector_Streaming/10/1/real_time", 9)):
    old = statistics.median(rates[("base", name)])
    new = statistics.median(rates[("new", name)])
    print("%-32s %10.1f %10.1f %6.2fx   >= %d: %s" % (label, old, new, new / old, target,
                                                     "met" if new >= target else "MISSED"))
PY
