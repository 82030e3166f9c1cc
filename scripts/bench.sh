#!/usr/bin/env bash
# Installs what is missing, builds stview and its benchmarks in Release in
# build-bench/ (or $BUILD_DIR), runs every benchmark program (3 repetitions,
# medians) and the end-to-end render comparison, and prints each fast path's
# ratio to its baseline. Raw results: build-bench/bench-results/*.json.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
jobs=${JOBS:-2}

"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTVIEW_BUILD_BENCHMARKS=ON \
  -DSTVIEW_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target stview stview_bench_features stview_bench_overlay \
  stview_bench_spacetime stview_bench_detector stview_bench_detector_kinds stview_video_psnr _core

results=$build/bench-results
mkdir -p "$results"
for program in features overlay spacetime detector detector_kinds; do
  "$build/bench/stview_bench_$program" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/$program.json" --benchmark_out_format=json
done

echo
echo "== Ratios (medians of 3 repetitions, measured in this run)"
python3 - "$results"/features.json "$results"/overlay.json "$results"/spacetime.json \
  "$results"/detector.json <<'PY'
import json, sys

scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
median = {}
for path in sys.argv[1:]:
    for run in json.load(open(path))["benchmarks"]:
        if run.get("aggregate_name") == "median":
            median[run["run_name"]] = run

# Wall time decides; CPU time (the benchmark thread's) is shown beside it because the machine
# may be shared, which stretches wall time but not CPU time.
def ratio(a, b):
    return [median[a][k] * scale[median[a]["time_unit"]] /
            (median[b][k] * scale[median[b]["time_unit"]]) for k in ("real_time", "cpu_time")]

print("%-44s %8s %8s   %-9s" % ("", "wall", "cpu", "target"))

def show(label, a, b, target=None, met=None):
    wall, cpu = ratio(a, b)
    verdict = "" if met is None else ("met" if met(wall) else "MISSED")
    print("%-44s %8.2f %8.2f   %-9s %s" % (label, wall, cpu, target or "", verdict))

show("loadFeatures: baseline / fast", "LoadFeatures_Baseline", "LoadFeatures_Fast", ">= 3",
     lambda r: r >= 3)
show("loadFeatures: fast / making the records only", "LoadFeatures_Fast",
     "LoadFeatures_RecordsOnly")
show("drawFeatures: plain scan / index", "DrawFeatures_PlainScan", "DrawFeatures_Index")
show("drawFeatures: index / visible-only (time)", "DrawFeatures_Index",
     "DrawFeatures_VisibleOnly", "<= 2", lambda r: r <= 2)
show("FindLocalMaxima 26: literal / fast", "FindLocalMaxima26_Literal", "FindLocalMaxima26_Fast",
     ">= 30", lambda r: r >= 30)
show("FindLocalMaxima 10: literal / fast", "FindLocalMaxima10_Literal", "FindLocalMaxima10_Fast",
     ">= 30", lambda r: r >= 30)
show("ConvolveTime: gemm / fast", "ConvolveTime_Gemm", "ConvolveTime_Fast", ">= 1",
     lambda r: r >= 1)
for name in ("ConvolveTime_Gemm", "ConvolveTime_Fast"):
    print("%-44s %8.2f GB/s of storage read (wall)" % (name, median[name]["bytes_per_second"] / 1e9))

def fps(name):
    return median[name]["items_per_second"]

print()
for label, fast, base, target in (
        ("detector, 1 pair (4, 2)", "Detector_Streaming/1/0/real_time", "Detector_Baseline/1/iterations:1/real_time", 125),
        ("detector, 10 pairs", "Detector_Streaming/10/0/real_time", "Detector_Baseline/10/iterations:1/real_time", 15),
        ("detector, 10 pairs, hog,hof", "Detector_Streaming/10/1/real_time", None, 9)):
    line = "%-44s %8.1f frames/s" % (label, fps(fast))
    if base:
        line += "   baseline %6.2f frames/s, %5.1fx" % (fps(base), fps(fast) / fps(base))
    print(line + "   target >= %d: %s" % (target, "met" if fps(fast) >= target else "MISSED"))
PY

echo
echo "== Features file of 1,000,000 lines, each reader in a fresh process (medians of ${RUNS:=7})"
# loadFeatures against pandas.read_csv reading the same numbers exactly (round_trip), run in
# turn so that the machine's load affects both alike; each figure is the read alone (no
# process start-up, no import), wall and CPU milliseconds.
features_file=$results/features-1M.txt
"$build/bench/stview_bench_features" --write "$features_file"
/usr/bin/python3 - "$build/bench/stview_bench_features" "$features_file" "$RUNS" <<'PY'
import statistics, subprocess, sys

program, path, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
pandas_read = r"""
import sys, time
import pandas
start, cpu = time.perf_counter(), time.process_time()
frame = pandas.read_csv(sys.argv[1], sep=r"\s+", comment="#", header=None,
                        float_precision="round_trip")
print("%.1f %.1f %d" % ((time.perf_counter() - start) * 1e3, (time.process_time() - cpu) * 1e3,
                        len(frame)))
"""
has_pandas = subprocess.run(["/usr/bin/python3", "-c", "import pandas"],
                            capture_output=True).returncode == 0
readers = {"loadFeatures": [program, "--load-once", path]}
if has_pandas:
    readers["pandas.read_csv"] = ["/usr/bin/python3", "-c", pandas_read, path]
times = {name: [] for name in readers}
for _ in range(runs):
    for name, command in readers.items():
        wall, cpu, rows = subprocess.run(command, capture_output=True, text=True,
                                         check=True).stdout.split()
        assert int(rows) == 1000000, (name, rows)
        times[name].append((float(wall), float(cpu)))
median = {name: [statistics.median(t[i] for t in runs_) for i in (0, 1)]
          for name, runs_ in times.items()}
for name, (wall, cpu) in median.items():
    print("%-44s %8.0f ms wall %8.0f ms cpu" % (name, wall, cpu))
if has_pandas:
    ratio = [median["pandas.read_csv"][i] / median["loadFeatures"][i] for i in (0, 1)]
    print("%-44s %8.2f wall %8.2f cpu   >= 1.2: %s" % ("pandas / loadFeatures", ratio[0],
          ratio[1], "met" if ratio[0] >= 1.2 else "MISSED"))
else:
    print("pandas is not installed (python3-pandas): no comparison")
PY

echo
echo "== End to end (wall time)"
"$root/scripts/bench-render.sh" "$build/viewer/stview"

echo
echo "== Output size and quality on vtest.avi"
"$root/scripts/bench-quality.sh" "$build"

echo
echo "== Python package: read_features and detect() (fresh processes)"
PYTHONPATH=$build/python /usr/bin/python3 "$root/bench/python_bench.py"

echo
echo "== Each detector beside harris (frames per second, 2 threads, medians)"
/usr/bin/python3 - "$results/detector_kinds.json" <<'PY'
import json, sys

median = {run["run_name"]: run for run in json.load(open(sys.argv[1]))["benchmarks"]
          if run.get("aggregate_name") == "median"}
fps = {run["label"]: run["items_per_second"] for run in median.values()}
targets = {"gabor": ("harris", 4), "hessian": ("harris", 3), "dense hog,hof": ("harris hog,hof", 1)}
for label, rate in fps.items():
    line = "%-20s %8.1f frames/s" % (label, rate)
    if label in targets:
        base, target = targets[label]
        ratio = rate / fps[base]
        line += "   %5.2fx %s   >= %g: %s" % (ratio, base, target, "met" if ratio >= target else "MISSED")
    print(line)
PY

echo
echo "== Each detector beside its whole-volume numpy model"
PYTHONPATH=$build/python /usr/bin/python3 "$root/bench/detector_kinds_reference.py"
