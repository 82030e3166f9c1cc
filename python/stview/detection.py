"""Detection: detect (a video file) and Detector (frames already in memory)."""

from __future__ import annotations

import numbers
import os
from typing import Optional, Sequence, Tuple, Union

import numpy as np

from . import _core
from .features import Features
from .files import _existing_file

Scales = Tuple[Sequence[float], Sequence[float]]
DEFAULT_SCALES: Scales = ((4, 8, 16, 32, 64), (2, 4))

# stdetect's options by the keyword that sets each, for the messages of refused values.
_KEYWORDS = {"-ff": "first", "-lf": "last", "--scales": "scales", "--k": "k",
             "--threshold": "threshold", "--descriptors": "descriptors",
             "--threads": "threads"}


def _number(name: str, value) -> str:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError(f"{name}: expected a number, got {value!r}")
    return repr(float(value)) if not isinstance(value, numbers.Integral) else str(int(value))


def _arguments(scales, k, threshold, descriptors, first, last, threads) -> list:
    try:
        spatial, temporal = scales
        scale_text = ":".join(",".join(_number("scales", v) for v in side)
                              for side in (spatial, temporal))
    except (TypeError, ValueError):
        raise ValueError(f"scales: expected (spatial variances, temporal variances), e.g. "
                         f"((4, 8), (2,)), got {scales!r}") from None
    arguments = ["--scales", scale_text, "--k", _number("k", k),
                 "--threshold", _number("threshold", threshold), "-ff", _number("first", first)]
    if isinstance(descriptors, str):
        descriptors = [descriptors] if descriptors else []
    if descriptors:
        arguments += ["--descriptors", ",".join(str(name) for name in descriptors)]
    if last is not None:
        arguments += ["-lf", _number("last", last)]
    if threads is not None:
        arguments += ["--threads", _number("threads", threads)]
    return arguments


def _call(function, *arguments):
    """Calls the core, naming refused options by their keyword."""
    try:
        return function(*arguments)
    except ValueError as error:
        option, _, why = str(error).partition(": ")
        if option in _KEYWORDS:
            raise ValueError(f"{_KEYWORDS[option]}: {why}") from None
        raise


def detect(video: Union[str, "os.PathLike[str]"], *, scales: Scales = DEFAULT_SCALES,
           k: float = 0.0005, threshold: float = 1e-8, first: int = 0,
           last: Optional[int] = None, descriptors: Union[str, Sequence[str]] = (),
           threads: Optional[int] = None, progress: bool = False) -> Features:
    """Finds the space-time interest points of a video file, exactly as stdetect does.

    scales: (spatial variances sigma^2 in pixels^2, temporal variances tau^2 in frames^2),
        every pair searched on its own. k: the corner response's H = det(mu) - k trace(mu)^3.
    threshold: points need H above it. first, last: the frame range [first, last) (zero-based;
        last=None: to the end). descriptors: "hog", "hof", "hog,hof" or a sequence of those.
    threads: OpenCV threads (None: one per core). progress: stdetect's progress line on
        standard error.

    Returns Features: points (N, 7) sorted by t, sigma2, tau2, row, column, ids from 0; hog
    (N, 72) and hof (N, 90) float32 when asked for. The GIL is released meanwhile; Ctrl-C
    raises KeyboardInterrupt within about a frame. Raises FileNotFoundError, ValueError
    naming the option, OSError for a video that cannot be read, MemoryError when the frame
    size and scales need more memory than is available.
    """
    arguments = ["-v", _existing_file(video, "video")]
    arguments += _arguments(scales, k, threshold, descriptors, first, last, threads)
    if not progress:
        arguments.append("--quiet")
    return Features(*_call(_core.detect, arguments))


class Detector:
    """Detection on frames held in memory, frame by frame, with the results of detect().

    size: (width, height) of every frame, pixels. color: "bgr" (OpenCV's order) or "rgb"
    (PyAV, decord, torchvision) for 3-channel frames. first: the frame number of the first
    frame added (points' t counts from it). Other keywords as detect().

    add(frame) takes the next frame and returns the points that became final (those of
    frames a few frames back); finish() ends the video and returns the rest. Ids count from
    0 across the calls, so concat of all results equals detect() on the same frames. One
    Detector serves one thread at a time: a concurrent call raises RuntimeError.
    """

    def __init__(self, size: Tuple[int, int], *, scales: Scales = DEFAULT_SCALES,
                 k: float = 0.0005, threshold: float = 1e-8,
                 descriptors: Union[str, Sequence[str]] = (), first: int = 0,
                 color: str = "bgr", threads: Optional[int] = None) -> None:
        try:
            width, height = (int(v) for v in size)
        except (TypeError, ValueError):
            raise ValueError(f"size: expected (width, height), got {size!r}") from None
        if width < 1 or height < 1 or tuple(size) != (width, height):
            raise ValueError(f"size: expected positive whole (width, height), got {size!r}")
        if color not in ("bgr", "rgb"):
            raise ValueError(f"color: expected 'bgr' or 'rgb', got {color!r}")
        arguments = ["-v", "<frames>"] + _arguments(scales, k, threshold, descriptors, first,
                                                    None, threads)
        self.size = (width, height)
        self.first = int(first)
        self._core = _call(_core.Detector, width, height, arguments, color == "rgb")

    def add(self, frame: np.ndarray) -> Features:
        """Adds the next frame: uint8 (H, W) grey or (H, W, 3) colour, of the Detector's size.

        Returns the points whose frame became final. A refused frame (ValueError naming it)
        leaves the Detector as if it had not been offered. Rows that are not packed (a crop,
        a transposed view) are copied once; a packed frame is not copied.
        """
        number = self.first + self._core.frames_added
        frame = np.asarray(frame)
        shape = "x".join(str(n) for n in frame.shape)
        if frame.dtype != np.uint8:
            raise ValueError(f"frame {number}: expected uint8 pixels, got {frame.dtype}")
        if frame.ndim not in (2, 3) or (frame.ndim == 3 and frame.shape[2] != 3):
            raise ValueError(f"frame {number}: expected (H, W) or (H, W, 3), got {shape}")
        if (frame.shape[1], frame.shape[0]) != self.size:
            raise ValueError(f"frame {number} is {frame.shape[1]}x{frame.shape[0]}, the "
                             f"Detector takes {self.size[0]}x{self.size[1]}")
        return Features(*self._core.add(np.ascontiguousarray(frame)))

    def finish(self) -> Features:
        """Ends the video (the last frame added is its last) and returns the remaining
        points. add() afterwards raises RuntimeError."""
        return Features(*self._core.finish())
