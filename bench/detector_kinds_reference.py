"""Each detector's streaming C++ code (stview.Detector) beside the whole-volume numpy model of
the Python tests (tests/python/reference_detectors.py) on the same frames: 12 frames of
640x480 drifting texture, the ten default pairs, the detector's default threshold. Frames per
second, wall time, best of --repeat runs.

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/detector_kinds_reference.py
[--frames N] [--repeat R] [--threads T]
"""

import argparse
import sys
import time
from pathlib import Path

import numpy as np
from scipy.ndimage import gaussian_filter

import stview

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))
import reference_detectors  # noqa: E402

DETECTORS = ("harris", "gabor", "hessian", "dense")


def scene(frames: int, width: int = 640, height: int = 480) -> np.ndarray:
    """uint8 (frames, height, width): a smooth random texture moving a pixel per frame."""
    rng = np.random.default_rng(11)
    texture = gaussian_filter(rng.uniform(0, 255, (height + 64, width + 64)), 2.0)
    texture = (texture - texture.min()) / np.ptp(texture) * 255
    out = [texture[t // 2:t // 2 + height, t:t + width] + rng.uniform(0, 8, (height, width))
           for t in range(frames)]
    return np.clip(out, 0, 255).astype(np.uint8)


def best(repeat: int, run) -> float:
    """The shortest of `repeat` wall times of run(), seconds."""
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=12)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--threads", type=int, default=2)
    options = parser.parse_args()
    grey = scene(options.frames)
    height, width = grey.shape[1:]

    def streaming(name):
        detector = stview.Detector((width, height), detector=name, threads=options.threads)
        parts = [detector.add(frame) for frame in grey]
        return stview.concat(parts + [detector.finish()])

    print(f"{'detector':10} {'stview fps':>11} {'numpy fps':>10} {'ratio':>7} {'points':>8}")
    for name in DETECTORS:
        fast = best(options.repeat, lambda: streaming(name))
        plain = best(1, lambda: reference_detectors.detect(grey, name))
        points = len(streaming(name))
        print(f"{name:10} {len(grey) / fast:11.2f} {len(grey) / plain:10.2f} "
              f"{plain / fast:7.1f} {points:8d}")


if __name__ == "__main__":
    main()
