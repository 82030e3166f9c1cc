"""Drawing points as the stview viewer draws them: draw (one image) and render (a video)."""

from __future__ import annotations

import numbers

import numpy as np

from . import _core
from .features import Features


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
