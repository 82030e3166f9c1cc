"""Times the Python package against its references, each run in a fresh process.

read_features on a 1,000,000-line features file (as stdetect writes them: shortest
round-trip reals) against numpy.loadtxt and pandas.read_csv(..., float_precision=
"round_trip") (pandas optional); detect() against stdetect on the same clip.
Medians of --repeat runs. Usage: PYTHONPATH=<build>/python python3 bench/python_bench.py
[--lines N] [--clip VIDEO] [--repeat R] [--no-detect]; STDETECT names stdetect (else stview.tools').
"""

import argparse
import os
import random
import resource
import statistics
import subprocess
import sys
import tempfile
import time

READERS = {
    "stview.read_features": ("import stview", "stview.read_features(PATH).points"),
    "numpy.loadtxt": ("import numpy", "numpy.loadtxt(PATH, comments='#')"),
    "pandas.read_csv round_trip": (
        "import pandas",
        "pandas.read_csv(PATH, sep=r'\\s+', comment='#', header=None, "
        "float_precision='round_trip').to_numpy()"),
}


def timed_in_child(setup: str, call: str, path: str, both: bool = False):
    """Seconds the call takes in a fresh interpreter (imports not counted): wall time, or
    with both (wall time, CPU time of all its threads)."""
    code = (f"import time\n{setup}\nPATH = {path!r}\nstart = time.perf_counter()\n"
            f"used = time.process_time()\n{call}\n"
            f"print(time.perf_counter() - start, time.process_time() - used)")
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True,
                         text=True).stdout
    wall, cpu = (float(word) for word in out.split()[-2:])
    return (wall, cpu) if both else wall


def write_features_file(path: str, lines: int) -> None:
    rng = random.Random(12345)
    with open(path, "w") as out:
        out.write("# columns: id x y t sigma2 tau2 H\n")
        for i in range(lines):
            out.write(f"{i} {rng.randrange(640)} {rng.randrange(1, 480)} "
                      f"{rng.randrange(10000)} {rng.choice((4, 8, 16, 32, 64))} "
                      f"{rng.choice((2, 4))} {rng.uniform(1e-8, 1e-3)!r}\n")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, default=1_000_000)
    parser.add_argument("--clip", help="video for detect(); default: a generated 320x240 clip")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--no-detect", action="store_true", help="time the readers only")
    args = parser.parse_args()
    import numpy as np
    import stview
    from stview.tools import stdetect_path

    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "features.txt")
        write_features_file(path, args.lines)
        reference = stview.read_features(path).points
        try:
            import pandas
            same = np.array_equal(reference, pandas.read_csv(
                path, sep=r"\s+", comment="#", header=None,
                float_precision="round_trip").to_numpy())
            print(f"pandas round_trip gives the same values as read_features: {same}")
        except ImportError:
            READERS.pop("pandas.read_csv round_trip")
        # Interleaved rounds, so that a change in the machine's load touches all alike.
        rounds = [{name: timed_in_child(*how, path, both=True) for name, how in READERS.items()}
                  for _ in range(args.repeat)]
        median = {name: [statistics.median(r[name][i] for r in rounds) for i in (0, 1)]
                  for name in READERS}
        base = median["stview.read_features"]
        print(f"\n{args.lines} lines, median of {args.repeat} fresh processes (wall, CPU):")
        for name, (wall, cpu) in median.items():
            print(f"  {name:28s} {wall * 1000:6.0f} ms {cpu * 1000:6.0f} ms  "
                  f"({wall / base[0]:5.2f}x, {cpu / base[1]:5.2f}x read_features)")
        if args.no_detect:
            return
        clip = args.clip
        if clip is None:
            clip = os.path.join(scratch, "clip.avi")
            subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                            "testsrc2=size=320x240:rate=25", "-frames:v", "150", "-c:v",
                            "mjpeg", "-q:v", "3", clip], check=True)
        stdetect = stdetect_path()

        def run_stdetect() -> tuple:
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            subprocess.run([stdetect, "-v", clip, "-o", os.path.join(scratch, "d.txt"),
                            "--quiet"], check=True)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            used = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
            return time.perf_counter() - start, used

        # Interleaved, so that a change in the machine's load touches both alike.
        runs = {"stdetect": [], "detect": []}
        for _ in range(args.repeat):
            runs["stdetect"].append(run_stdetect())
            runs["detect"].append(timed_in_child("import stview", "stview.detect(PATH)", clip,
                                                 both=True))
        print(f"\ndetect on {os.path.basename(clip)}, median of {args.repeat} interleaved runs:")
        for index, what in enumerate(("wall time", "CPU time")):
            program = statistics.median(run[index] for run in runs["stdetect"])
            package = statistics.median(run[index] for run in runs["detect"])
            print(f"  {what:9s}: stdetect (whole process) {program * 1000:8.0f} ms, "
                  f"stview.detect() {package * 1000:8.0f} ms ({(package / program - 1) * 100:+.1f} %)")

if __name__ == "__main__":
    main()
