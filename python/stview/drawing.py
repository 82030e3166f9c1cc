"""Drawing points as the stview viewer draws them: draw (one image) and render (a video)."""

from __future__ import annotations

import numbers
import os
from typing import Optional, Union

import numpy as np

from . import _core
from ._keywords import optional_whole, whole
from .features import Features
from .files import _existing_file, _output_file, read_features


def _color(color: str) -> bool:
    if color not in ("bgr", "rgb"):
        raise ValueError(f"color: expected 'bgr' or 'rgb', got {color!r}")
    return color == "rgb"


def draw(image: np.ndarray, features: Features, frame: int, *, color: str = "bgr") -> None:
    """Draws, in place, the points stview shows in frame `frame` of the video.

    image: uint8 (H, W, 3), channels in OpenCV's BGR order, or RGB with color="rgb"; a
    view with strided rows is drawn on in place. A point shows while |frame - t| <
    sqrt(tau2), as a yellow circle of radius floor(3 sqrt(sigma2)) pixels, 3 pixels thick,
    at column x and row H - y: the same pixels stview draws. Features with tracks (a
    trajectories file) draw each one on frames t0 ... t0 + L, t0 = t - L // 2, as the
    1-pixel polyline through its points up to that frame's (at lround(x), H - lround(y))
    and a circle of radius 2 there, instead of the circle.
    """
    rgb = _color(color)
    if not isinstance(features, Features):
        raise TypeError(f"features: expected stview.Features, got {type(features).__name__}")
    if not isinstance(image, np.ndarray) or image.dtype != np.uint8 or image.ndim != 3 \
            or image.shape[2] != 3:
        raise ValueError("image: expected a numpy uint8 array (H, W, 3)")
    if not image.flags.writeable or image.strides[1:] != (3, 1):
        raise ValueError("image: must be writable, with packed pixels (draw works in place)")
    _core.draw(image, features.points, whole("frame", frame, -2**31, 2**31 - 1), rgb,
               features.tracks)


def _bitrate(bitrate: Union[int, str, None]) -> Optional[str]:
    """The bit rate as the text stview's --bitrate takes (the core reads both alike)."""
    if bitrate is None or isinstance(bitrate, str):
        return bitrate
    return str(whole("bitrate", bitrate))


def render(video: Union[str, "os.PathLike[str]"], features: Union[Features, str,
           "os.PathLike[str]"], output: Union[str, "os.PathLike[str]"], *, first: int = 0,
           last: Optional[int] = None, quality: Optional[int] = None,
           bitrate: Union[int, str, None] = None, fps: Union[float, str] = 25,
           progress: bool = False) -> int:
    """Draws the features on the frames [first, last) of the video and writes them to
    output, as `stview --no-window -o output` does; returns the number of frames written.

    features: a Features, or the path of a features file (tracks drawn as draw draws them).
    output: .avi (MPEG-4) or .mp4,
    .mkv, .mov (H.264). quality: on the codec's scale (MPEG-4 1-31, default 4; H.264 CRF
    0-51, default 20; lower is better). bitrate: bits per second (int, or text such as
    "2M") instead of a quality. fps: frames per second of the output (above 0, up to
    1000), or "source" for the input's own rate. progress: stview's progress line on
    standard error.

    The GIL is released meanwhile. Ctrl-C finishes the output (a playable file of the
    frames so far) and raises KeyboardInterrupt. Raises FileNotFoundError, ValueError
    naming the keyword and its value (also for an output that names the input video),
    OSError saying why the video cannot be read or the output not written.
    """
    video = _existing_file(video, "video")
    if not isinstance(features, Features):
        features = read_features(features)
    source = isinstance(fps, str) and fps == "source"
    if not source and (isinstance(fps, bool) or not isinstance(fps, numbers.Real)):
        raise ValueError(f"fps: expected frames per second or 'source', got {fps!r}")
    return _core.render(video, features.points, _output_file(output), whole("first", first),
                        optional_whole("last", last), optional_whole("quality", quality),
                        _bitrate(bitrate), 25.0 if source else float(fps), source,
                        bool(progress), features.tracks)
