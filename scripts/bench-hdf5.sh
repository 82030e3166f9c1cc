#!/usr/bin/env bash
# Features files with HOG and HOF, text against HDF5 (docs/benchmarks.md, "HDF5 features
# files"): 1,000,000 records written as text, converted to HDF5 with several chunk sizes and
# with and without shuffle + deflate; each file's size, and the median of RUNS reads, each in
# a fresh process (the reading alone, wall and CPU milliseconds, files in the page cache).
#   scripts/bench-hdf5.sh BENCH_PROGRAM WORK_DIR
set -euo pipefail
program=$1 work=$2 runs=${RUNS:-5}
mkdir -p "$work"
text=$work/features-1M-hoghof.txt
[ -f "$text" ] || "$program" --write-text "$text"
variants="4096:0 1024:0 16384:0 4096:1 4096:4"
for variant in $variants; do
    file=$work/features-1M-hoghof-${variant/:/-}.h5
    [ -f "$file" ] || echo "write $variant (rows per chunk : deflate) $("$program" --convert "$text" "$file" ${variant/:/ }) ms"
done
/usr/bin/python3 - "$program" "$text" "$work" "$runs" $variants <<'PY'
import os, statistics, subprocess, sys

program, text, work, runs, variants = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5:]
files = {"text (%.4g)": text}
for variant in variants:
    rows, deflate = variant.split(":")
    name = f"HDF5 {rows} rows/chunk" + (f", shuffle+deflate {deflate}" if deflate != "0" else "")
    files[name] = os.path.join(work, f"features-1M-hoghof-{rows}-{deflate}.h5")
times = {name: [] for name in files}
for _ in range(runs):
    for name, path in files.items():
        wall, cpu, rows = subprocess.run([program, "--read", path], capture_output=True,
                                         text=True, check=True).stdout.split()
        assert int(rows) == 1000000, (name, rows)
        times[name].append((float(wall), float(cpu)))
base_size = os.path.getsize(text)
base = statistics.median(t[0] for t in times["text (%.4g)"])
print("%-40s %10s %7s %9s %9s %7s" % ("file", "MB", "smaller", "wall ms", "cpu ms", "faster"))
for name, path in files.items():
    wall = statistics.median(t[0] for t in times[name])
    cpu = statistics.median(t[1] for t in times[name])
    size = os.path.getsize(path)
    print("%-40s %10.1f %6.2fx %9.0f %9.0f %6.1fx" % (name, size / 1e6, base_size / size, wall,
                                                     cpu, base / wall))
PY
