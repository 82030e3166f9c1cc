"""Drawing points as the stview viewer draws them: draw (one image) and render (a video)."""

from __future__ import annotations

import numbers
import os
from typing import Optional, Union

import numpy as np

from . import _core
from .features import Features
from .files import _existing_file, _output_file, read_features


def _whole(name: str, value) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise ValueError(f"{name}: expected a whole number, got {value!r}")
    return int(value)


def _color(color: str) -> bool:
    if color not in ("bgr", "rgb"):
        raise ValueError(f"color: expected 'bgr' or 'rgb', got {color!r}")
    return color == "rgb"


def draw(image: np.ndarray, features: Features, frame: int, *, color: str = "bgr") -> None:
    """Draws, in place, the points stview shows in frame `frame` of the video.

    image: uint8 (H, W, 3), channels in OpenCV's BGR order, or RGB with color="rgb"; a
    view with strided rows is drawn on in place. A point shows while |frame - t| <
    sqrt(tau2), as a yellow circle of radius floor(3 sqrt(sigma2)) pixels, 3 pixels thick,
    at column x and row H - y: the same pixels stview draws.
    """
    rgb = _color(color)
    if not isinstance(features, Features):
        raise TypeError(f"features: expected stview.Features, got {type(features).__name__}")
    if not isinstance(image, np.ndarray) or image.dtype != np.uint8 or image.ndim != 3 \
            or image.shape[2] != 3:
        raise ValueError("image: expected a numpy uint8 array (H, W, 3)")
    if not image.flags.writeable or image.strides[1:] != (3, 1):
        raise ValueError("image: must be writable, with packed pixels (draw works in place)")
    _core.draw(image, features.points, _whole("frame", frame), rgb)


# stview's options by the keyword that sets each, for the messages of refused values.
_KEYWORDS = {"--quality": "quality", "--bitrate": "bitrate", "--fps": "fps", ": -o: ": ": "}


def render(video: Union[str, "os.PathLike[str]"], features: Union[Features, str,
           "os.PathLike[str]"], output: Union[str, "os.PathLike[str]"], *, first: int = 0,
           last: Optional[int] = None, quality: Optional[int] = None,
           bitrate: Union[int, str, None] = None, fps: Union[float, str] = 25,
           progress: bool = False) -> int:
    """Draws the features on the frames [first, last) of the video and writes them to
    output, as `stview --no-window -o output` does; returns the number of frames written.

    features: a Features, or the path of a features file. output: .avi (MPEG-4) or .mp4,
    .mkv, .mov (H.264). quality: on the codec's scale (MPEG-4 1-31, default 4; H.264 CRF
    0-51, default 20; lower is better). bitrate: bits per second (int, or text such as
    "2M") instead of a quality. fps: frames per second of the output, or "source" for the
    input's own rate. progress: stview's progress line on standard error.

    The GIL is released meanwhile. Ctrl-C finishes the output (a playable file of the
    frames so far) and raises KeyboardInterrupt. Raises FileNotFoundError, ValueError
    naming the option (also for an output that names the input video), OSError when the
    video cannot be read or the output not written.
    """
    video = _existing_file(video, "video")
    if not isinstance(features, Features):
        features = read_features(features)
    if _whole("first", first) < 0:
        raise ValueError(f"first: {first} is negative")
    arguments = ["-v", video, "-f", "<features>", "-o", _output_file(output), "-ff", str(first)]
    if last is not None:
        arguments += ["-lf", str(_whole("last", last))]
    if quality is not None:
        arguments += ["--quality", str(_whole("quality", quality))]
    if bitrate is not None:
        arguments += ["--bitrate", str(bitrate)]
    if fps != "source" and (isinstance(fps, bool) or not isinstance(fps, numbers.Real)):
        raise ValueError(f"fps: expected frames per second or 'source', got {fps!r}")
    arguments += ["--fps", fps if fps == "source" else repr(float(fps))]
    try:
        return _core.render(arguments, features.points, bool(progress))
    except ValueError as error:
        message = str(error)
        for option, keyword in _KEYWORDS.items():
            message = message.replace(option, keyword)
        raise ValueError(message) from None
