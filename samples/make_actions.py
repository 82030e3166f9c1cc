#!/usr/bin/env python3
"""Writes a labelled set of small synthetic action videos for the evaluation.

    make_actions.py OUT_DIR [--per-class N] [--seed S]

Each class is a folder, OUT_DIR/<class>/<class>_NNN.avi (FFV1, lossless, 8-bit grey,
80 x 60 pixels, 32 frames at 25 per second). Every video shows one high-contrast
textured shape (a square or a disc, checkerboard or striped) on a grey background with
sensor noise; its place, size, speed, texture cell, contrast, brightness and noise are
random. The classes:

- ``left`` and ``right``: a checkerboard shape that stays in place while its texture slides
  inside it, in bursts, to the left or to the right; they differ only in the direction of
  motion, so gradient histograms alone cannot tell them apart.
- ``stripes_h`` and ``stripes_v``: horizontally or vertically striped shapes, both moving
  along a random diagonal; the same motion, differently oriented texture.
- ``spin``: a checkerboard shape turning in place.
- ``bounce``: a checkerboard shape going up and down, turning at each end.

Video i of a class depends only on the seed, the class and i, so a larger
``--per-class`` adds videos without changing the others. Needs numpy and ffmpeg.
"""

from __future__ import annotations

import argparse
import math
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

import numpy as np

WIDTH, HEIGHT, FRAMES = 96, 72, 32
SHAPES = 2
CLASSES = ("left", "right", "stripes_h", "stripes_v", "spin", "bounce")


def _texture(u: np.ndarray, v: np.ndarray, kind: str, cell: float) -> np.ndarray:
    """1 on bright texels, 0 on dark ones; u, v in pixels from the shape's centre."""
    if kind == "checker":
        return (np.floor(u / cell) + np.floor(v / cell)) % 2
    if kind == "stripes_v":  # stripes run up and down: the texture varies along x
        return np.floor(u / cell) % 2
    return np.floor(v / cell) % 2


def _bursts(rng: np.random.Generator) -> np.ndarray:
    """Distance travelled (pixels) at each frame when moving in bursts: abrupt starts and stops."""
    period = rng.uniform(8.0, 12.0)
    moving = ((np.arange(FRAMES) / period + rng.random()) % 1.0) < rng.uniform(0.45, 0.65)
    return np.cumsum(moving * rng.uniform(1.5, 2.5))


def _back_and_forth(rng: np.random.Generator) -> np.ndarray:
    """Offset (pixels) at each frame of a triangle wave: abrupt turns at both ends."""
    period = rng.uniform(10.0, 16.0)
    phase = (np.arange(FRAMES) / period + rng.random()) % 1.0
    return rng.uniform(5.0, 9.0) * (4 * np.abs(phase - 0.5) - 1)


def _motion(label: str, rng: np.random.Generator) -> np.ndarray:
    """Per frame (FRAMES, 4): the shape's centre x and y (pixels), its turn (radians), and
    how far its texture has slid to the right inside it (pixels)."""
    track = np.zeros((FRAMES, 4))
    track[:, 0] = rng.uniform(0.25, 0.75) * WIDTH
    track[:, 1] = rng.uniform(0.25, 0.75) * HEIGHT
    if label in ("left", "right"):  # the shape stays; its texture slides like a belt
        track[:, 3] = _bursts(rng) * (1.0 if label == "right" else -1.0)
    elif label.startswith("stripes"):
        offset = _back_and_forth(rng) * 0.7
        track[:, 0] += offset * rng.choice((-1.0, 1.0))
        track[:, 1] += offset
    elif label == "spin":
        track[:, 2] = rng.choice((-1.0, 1.0)) * np.radians(_bursts(rng) * rng.uniform(3.0, 5.0))
    else:  # bounce
        track[:, 1] += _back_and_forth(rng)
    return track


def make_video(label: str, rng: np.random.Generator) -> np.ndarray:
    """Frames of one video of class `label`: uint8 array (FRAMES, HEIGHT, WIDTH)."""
    kind = label if label.startswith("stripes") else "checker"
    background = rng.uniform(100, 150) + rng.uniform(-8, 8) * np.sin(
        np.arange(WIDTH)[None, :] / rng.uniform(9, 15) + np.arange(HEIGHT)[:, None] / rng.uniform(9, 15))
    noise = rng.uniform(1.5, 4.0)
    rows, cols = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float64) + 0.5
    frames = np.repeat(background[None], FRAMES, axis=0)
    for _ in range(SHAPES):
        radius = rng.uniform(10.0, 14.0)
        disc = rng.random() < 0.5
        cell = rng.uniform(6.0, 9.0)
        dark, bright = rng.uniform(0, 30), rng.uniform(220, 255)
        for f, (x, y, turn, slide) in enumerate(_motion(label, rng)):
            dx, dy = cols - x, rows - y
            c, s = math.cos(turn), math.sin(turn)
            u, v = c * dx + s * dy, -s * dx + c * dy
            inside = (u * u + v * v <= radius * radius) if disc else (np.maximum(abs(u), abs(v)) <= radius)
            shade = dark + (bright - dark) * _texture(u - slide, v, kind, cell)
            frames[f] = np.where(inside, shade, frames[f])
    frames += rng.normal(0.0, noise, frames.shape)
    return np.clip(np.rint(frames), 0, 255).astype(np.uint8)


def write_videos(paths: list[pathlib.Path], videos) -> None:
    """Writes each uint8 (FRAMES, HEIGHT, WIDTH) grey video of the iterable `videos` to its
    path, losslessly, with a single ffmpeg: one stream cut into FRAMES-frame segments."""
    with tempfile.TemporaryDirectory(dir=paths[0].parent.parent) as scratch:
        cuts = ",".join(str(FRAMES * i) for i in range(1, len(paths)))
        command = ["ffmpeg", "-loglevel", "error", "-f", "rawvideo", "-pix_fmt", "gray",
                   "-s", f"{WIDTH}x{HEIGHT}", "-r", "25", "-i", "-", "-c:v", "ffv1", "-g", "1",
                   "-f", "segment", "-reset_timestamps", "1"]
        if cuts:
            command += ["-segment_frames", cuts]
        ffmpeg = subprocess.Popen(command + [os.path.join(scratch, "%06d.avi")], stdin=subprocess.PIPE)
        try:
            for frames in videos:
                ffmpeg.stdin.write(frames.tobytes())
        finally:
            ffmpeg.stdin.close()
            if ffmpeg.wait() != 0:
                raise RuntimeError("ffmpeg could not write the videos")
        for index, path in enumerate(paths):
            os.replace(os.path.join(scratch, f"{index:06d}.avi"), path)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out_dir", type=pathlib.Path)
    parser.add_argument("--per-class", type=int, default=20, help="videos per class (default 20)")
    parser.add_argument("--seed", type=int, default=0, help="random seed (default 0)")
    args = parser.parse_args(argv)
    if args.per_class < 1 or args.seed < 0:
        parser.error("--per-class must be at least 1 and --seed not negative")
    if shutil.which("ffmpeg") is None:
        print("make_actions: ffmpeg is missing (scripts/install-deps.sh installs it)", file=sys.stderr)
        return 1
    jobs = [(index, label, i) for index, label in enumerate(CLASSES) for i in range(args.per_class)]
    for label in CLASSES:
        (args.out_dir / label).mkdir(parents=True, exist_ok=True)
    write_videos([args.out_dir / label / f"{label}_{i:03d}.avi" for _, label, i in jobs],
                 (make_video(label, np.random.default_rng([args.seed, index, i])) for index, label, i in jobs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
