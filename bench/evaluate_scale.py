#!/usr/bin/env python3
"""The evaluation's own stages (sample, codebook, histograms, training) at KTH's size.

    evaluate_scale.py WORK_DIR [--videos 599] [--descriptors 2000000] [--words 4000]
                      [--format txt|h5] [--encoding bof|fisher] [--gaussians 256]

Makes WORK_DIR/kth with one empty file per video under KTH's names (25 persons, 6 actions,
4 scenarios, the last dropped as in the public release) and WORK_DIR/out/features with a
features file of random points and random unit-length HOG/HOF descriptors for each, as
detect-dataset.sh would have left them; then runs `python3 -m stview.evaluate
WORK_DIR/kth WORK_DIR/out --split kth` under /usr/bin/time, which finds every features
file made and so detects nothing. The run prints its report (stage times); then its peak
resident memory follows. The files (about 2.5 GB of text at the default size) are made once and
reused by later runs. With --format h5 the text files are converted once into
WORK_DIR/out-h5/features (HDF5 features files of the same values) and the evaluation runs on
WORK_DIR/out-h5 instead. --encoding fisher runs Fisher vectors of --gaussians Gaussians
instead of the bag of words (--words then does not apply).
"""

from __future__ import annotations

import argparse
import json
import pathlib
import re
import subprocess
import sys

import numpy as np

import stview

ACTIONS = ("boxing", "handclapping", "handwaving", "jogging", "running", "walking")


def unit_rows(rng: np.random.Generator, count: int, size: int) -> np.ndarray:
    rows = rng.random((count, size), dtype=np.float32) ** 4  # sparse-ish, like real histograms
    return rows / np.linalg.norm(rows, axis=1, keepdims=True)


def make(work: pathlib.Path, videos: int, descriptors: int) -> None:
    data, features = work / "kth", work / "out" / "features"
    data.mkdir(parents=True, exist_ok=True)
    features.mkdir(parents=True, exist_ok=True)
    names = [f"person{p:02d}_{a}_d{d}_uncomp" for p in range(1, 26) for a in ACTIONS for d in range(1, 5)]
    rng = np.random.default_rng(0)
    counts = rng.multinomial(descriptors, np.full(videos, 1 / videos))
    for name, count in zip(names[:videos], counts):
        (data / f"{name}.avi").touch()
        target = features / f"{name}.txt"
        if target.exists():
            continue
        points = np.zeros((count, 7))
        points[:, 0] = np.arange(count)
        points[:, 1:4] = rng.integers(1, 120, (count, 3))
        points[:, 4:6] = (4, 2)
        points[:, 6] = 1e-6
        stview.write_features(target, stview.Features(points, unit_rows(rng, count, 72), unit_rows(rng, count, 90)))
    (work / "out" / "detector-options.json").write_text(json.dumps({"stdetect": [], "descriptors": "hog,hof"}))


def make_hdf5(work: pathlib.Path) -> pathlib.Path:
    """WORK_DIR/out-h5: the text features of WORK_DIR/out converted to HDF5."""
    out = work / "out-h5"
    (out / "features").mkdir(parents=True, exist_ok=True)
    for text in sorted((work / "out" / "features").glob("*.txt")):
        target = out / "features" / (text.stem + ".h5")
        if not target.exists():
            stview.write_features(target, stview.read_features(text))
    (out / "detector-options.json").write_text(
        json.dumps({"stdetect": [], "descriptors": "hog,hof", "format": "h5"}))
    return out


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("work", type=pathlib.Path)
    parser.add_argument("--videos", type=int, default=599)
    parser.add_argument("--descriptors", type=int, default=2_000_000)
    parser.add_argument("--words", type=int, default=4000)
    parser.add_argument("--format", choices=("txt", "h5"), default="txt")
    parser.add_argument("--encoding", choices=("bof", "fisher"), default="bof")
    parser.add_argument("--gaussians", type=int, default=256)
    args = parser.parse_args()
    make(args.work, args.videos, args.descriptors)
    out = make_hdf5(args.work) if args.format == "h5" else args.work / "out"
    timing = args.work / "time.txt"
    command = ["/usr/bin/time", "-v", "-o", str(timing), sys.executable, "-m", "stview.evaluate",
               str(args.work / "kth"), str(out), "--split", "kth"]
    if args.encoding == "fisher":
        command += ["--encoding", "fisher", "--gaussians", str(args.gaussians)]
    else:
        command += ["--words", str(args.words)]
    run = subprocess.run(command)
    usage = timing.read_text()
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", usage)
    wall = re.search(r"Elapsed \(wall clock\) time.*: (\S+)", usage)
    print(f"peak resident memory {int(peak.group(1)) / 1024:.0f} MiB, wall {wall.group(1)}")
    return run.returncode


if __name__ == "__main__":
    sys.exit(main())
