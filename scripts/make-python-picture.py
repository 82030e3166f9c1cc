#!/usr/bin/env python3
"""Makes the README's "From Python" picture (docs/python-vtest.png): the points stdetect
finds on frames 0-99 of OpenCV's vtest.avi (Debian's opencv-doc), drawn by stview.draw
on frame 50, where the walkers are spread out; the picture keeps the part they walk in.

Usage: PYTHONPATH=build/python /usr/bin/python3 scripts/make-python-picture.py [VIDEO]
(needs a build, ffmpeg, and apt-get install opencv-doc for the default video).
"""

import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np

import stview
from picture_frame import save_png, video_frame
from stview.tools import stdetect_path

VIDEO = "/usr/share/doc/opencv-doc/examples/data/vtest.avi"
FRAME = 50
OUTPUT = Path(__file__).resolve().parent.parent / "docs" / "python-vtest.png"


def main() -> None:
    video = sys.argv[1] if len(sys.argv) > 1 else VIDEO
    if not Path(video).is_file():
        sys.exit(f"make-python-picture: no {video} (apt-get install opencv-doc)")
    with tempfile.TemporaryDirectory() as scratch:
        points = Path(scratch) / "points.txt"
        subprocess.run([stdetect_path(), "--quiet", "-v", video, "-lf", "100", "-o",
                        str(points)], check=True)
        features = stview.read_features(points)
        # The frame as OpenCV decodes it would come from cv2; FFmpeg gives the same BGR pixels.
        frame = video_frame(video, FRAME)
        stview.draw(frame, features, FRAME)
        save_png(frame[120:420, 280:], OUTPUT)
    shown = np.abs(features.points[:, 3] - FRAME) < np.sqrt(features.points[:, 5])
    print(f"{OUTPUT}: {len(features)} points in frames 0-99, {shown.sum()} drawn on frame {FRAME}")


if __name__ == "__main__":
    main()
