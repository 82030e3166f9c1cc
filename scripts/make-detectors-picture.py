#!/usr/bin/env python3
"""Makes the README's picture of the four detectors (docs/detectors-vtest.png): the points
each finds on frames 0-99 of OpenCV's vtest.avi (Debian's opencv-doc) with its default
options, drawn by stview.draw on frame 50 and cropped to where the walkers go, two by two.
So that the circles stay apart, the responding detectors show at most the 80 strongest of the
points drawn on that frame, and dense sampling one scale pair's grid (sigma2 16, tau2 2).

Usage: PYTHONPATH=build/python /usr/bin/python3 scripts/make-detectors-picture.py [VIDEO]
(needs a build, ffmpeg, matplotlib, and apt-get install opencv-doc for the default video).
"""

import subprocess
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import stview  # noqa: E402

VIDEO = "/usr/share/doc/opencv-doc/examples/data/vtest.avi"
FRAME = 50
DETECTORS = ("harris", "gabor", "hessian", "dense")
OUTPUT = Path(__file__).resolve().parent.parent / "docs" / "detectors-vtest.png"


def frame_of(video: str, number: int) -> np.ndarray:
    """Frame `number` of the video as uint8 (H, W, 3) BGR, as FFmpeg (and OpenCV) decode it."""
    size = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                           "stream=width,height", "-of", "csv=p=0", video], check=True,
                          capture_output=True, text=True).stdout.split(",")
    width, height = int(size[0]), int(size[1])
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", video, "-vf",
                          f"select=eq(n\\,{number})", "-frames:v", "1", "-f", "rawvideo",
                          "-pix_fmt", "bgr24", "-"], check=True, capture_output=True).stdout
    return np.frombuffer(raw, np.uint8).reshape(height, width, 3).copy()


def main() -> None:
    video = sys.argv[1] if len(sys.argv) > 1 else VIDEO
    if not Path(video).is_file():
        sys.exit(f"make-detectors-picture: no {video} (apt-get install opencv-doc)")
    figure, axes = plt.subplots(2, 2, figsize=(10, 6.4), dpi=100)
    for axis, name in zip(axes.flat, DETECTORS):
        features = stview.detect(video, detector=name, last=100)
        image = frame_of(video, FRAME)
        shown = features[np.abs(features.points[:, 3] - FRAME) < np.sqrt(features.points[:, 5])]
        if name == "dense":
            drawn = shown[(shown.points[:, 4] == 16) & (shown.points[:, 5] == 2)]
            what = "the grid of σ² 16, τ² 2 drawn"
        else:
            drawn = shown[np.argsort(-shown.points[:, 6], kind="stable")[:80]]
            what = f"the {len(drawn)} strongest drawn"
        stview.draw(image, drawn, FRAME)
        axis.imshow(image[120:420, 280:, ::-1])
        axis.set_title(f"{name}: {len(shown)} points on frame {FRAME}, {what}", fontsize=10)
        axis.axis("off")
        print(f"{name}: {len(features)} points, {len(shown)} on frame {FRAME}, {len(drawn)} drawn")
    figure.tight_layout()
    figure.savefig(OUTPUT)
    print(OUTPUT)


if __name__ == "__main__":
    main()
