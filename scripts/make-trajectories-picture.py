#!/usr/bin/env python3
"""Makes the README's dense-trajectories picture (docs/trajectories-vtest.png): the
trajectories stdetect --detector trajectories finds on frames 0-69 of OpenCV's vtest.avi
(Debian's opencv-doc), drawn by stview.draw on frame 50 as each track so far with a small
circle at its newest point. To keep single tracks visible it draws the finest scale's
trajectories only; the picture keeps the part the walkers walk in.

Usage: PYTHONPATH=build/python /usr/bin/python3 scripts/make-trajectories-picture.py [VIDEO]
(needs a build, ffmpeg, and apt-get install opencv-doc for the default video).
"""

import sys
from pathlib import Path


import stview
from picture_frame import save_png, video_frame

VIDEO = "/usr/share/doc/opencv-doc/examples/data/vtest.avi"
FRAME = 50
OUTPUT = Path(__file__).resolve().parent.parent / "docs" / "trajectories-vtest.png"


def main() -> None:
    video = sys.argv[1] if len(sys.argv) > 1 else VIDEO
    if not Path(video).is_file():
        sys.exit(f"make-trajectories-picture: no {video} (apt-get install opencv-doc)")
    features = stview.detect(video, detector="trajectories", last=FRAME + 20,
                             descriptors="trajectory", threads=2)
    features = features[features.points[:, 4] == features.points[:, 4].min()]
    frame = video_frame(video, FRAME)
    stview.draw(frame, features, FRAME)
    save_png(frame[120:420, 280:], OUTPUT)
    length = features.tracks.shape[1] - 1 if features.tracks is not None else 0
    first = features.points[:, 3] - length // 2
    shown = (first <= FRAME) & (FRAME <= first + length)
    print(f"{OUTPUT}: {len(features)} finest-scale trajectories in frames 0-{FRAME + 19}, "
          f"{shown.sum()} drawn on frame {FRAME} (finest scale)")


if __name__ == "__main__":
    main()
