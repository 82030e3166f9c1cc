"""Detection: detect (a video file) and Detector (frames already in memory)."""

from __future__ import annotations

import os
from typing import Optional, Sequence, Tuple, Union

import numpy as np

from . import _core
from ._keywords import optional_whole, real, text, whole
from .features import Features
from .files import _existing_file

Scales = Tuple[Sequence[float], Sequence[float]]
DEFAULT_SCALES: Scales = ((4, 8, 16, 32, 64), (2, 4))
Descriptors = Union[str, Sequence[str], None]


def _scales(scales) -> tuple:
    try:
        spatial, temporal = scales
        return [real("scales", v) for v in spatial], [real("scales", v) for v in temporal]
    except (TypeError, ValueError):
        raise ValueError(f"scales: expected (spatial variances, temporal variances), e.g. "
                         f"((4, 8), (2,)), got {scales!r}") from None


def _descriptor_names(descriptors: Descriptors) -> Optional[list]:
    if descriptors is None or isinstance(descriptors, str):
        return None if descriptors is None else descriptors.split(",")
    try:
        names = list(descriptors)
    except TypeError:
        names = None
    if names is None or not all(isinstance(name, str) for name in names):
        raise ValueError(f"descriptors: expected 'hog', 'hof', 'hog,hof' or a sequence of "
                         f"those names, got {descriptors!r}")
    return names


def _choices(detector: str, scales, k, threshold, descriptors: Descriptors,
             trajectory: tuple = (None, None, None)) -> tuple:
    """The core's DetectorChoice and DescriptorChoice of the keywords (types checked here,
    values by the core as stdetect checks them). trajectory: (length, stride, scales)."""
    choice = _core.DetectorChoice()
    choice.detector = text("detector", detector)
    choice.spatial_variances, choice.temporal_variances = _scales(scales)
    # Scales other than the default count as asked for (trajectories refuse them).
    choice.scales_given = (choice.spatial_variances, choice.temporal_variances) != _scales(
        DEFAULT_SCALES)
    length, stride, count = trajectory
    choice.trajectory_length = optional_whole("trajectory_length", length)
    choice.trajectory_stride = optional_whole("trajectory_stride", stride)
    choice.trajectory_scales = optional_whole("trajectory_scales", count)
    choice.k = None if k is None else real("k", k)
    choice.threshold = None if threshold is None else real("threshold", threshold)
    wanted = _core.DescriptorChoice()
    wanted.names = _descriptor_names(descriptors)
    return choice, wanted


def detect(video: Union[str, "os.PathLike[str]"], *, detector: str = "harris",
           scales: Scales = DEFAULT_SCALES, k: Optional[float] = None,
           threshold: Optional[float] = None, first: int = 0, last: Optional[int] = None,
           descriptors: Descriptors = None, threads: Optional[int] = None,
           progress: bool = False, trajectory_length: Optional[int] = None,
           trajectory_stride: Optional[int] = None,
           trajectory_scales: Optional[int] = None) -> Features:
    """Finds the space-time interest points of a video file, exactly as stdetect does.

    detector: "harris" (space-time corners), "gabor" (periodic motion), "hessian" (blobs)
        or "dense" (a grid of half-overlapping descriptor boxes), as stdetect --detector.
    scales: (spatial variances sigma^2 in pixels^2, temporal variances tau^2 in frames^2),
        every pair searched on its own. k: harris only, H = det(mu) - k trace(mu)^3
        (None: 0.0005). threshold: points need a response above it (None: the detector's
        default, harris 1e-8, gabor 1e-3, hessian 1e-4; dense takes none). first, last: the
        frame range [first, last) (zero-based; last=None: to the end). descriptors: "hog",
        "hof", "hog,hof" or a sequence of those names (None: the detector's default, none).
        threads: OpenCV threads (None: one per core). progress: stdetect's progress line on
        standard error. detector="trajectories": points tracked through dense optical flow;
        descriptors among "trajectory", "hog", "hof", "mbh" (None: all four);
        trajectory_length (frames, default 15), trajectory_stride (sampling cell, pixels,
        default 5), trajectory_scales (at most, default 8) as stdetect's --trajectory-*;
        scales, k and threshold are refused with it.

    Returns Features: points (N, 7) sorted by t, sigma2, tau2, row, column, ids from 0; hog
    (N, 72) and hof (N, 90) float32 when asked for. The GIL is released meanwhile; Ctrl-C
    raises KeyboardInterrupt within about a frame. Raises FileNotFoundError, ValueError
    naming the keyword (a wrong type, or a value stdetect refuses, such as k with gabor),
    OSError for a video that cannot be read, MemoryError when the frame size and scales
    need more memory than is available.
    """
    path = _existing_file(video, "video")
    choice, wanted = _choices(detector, scales, k, threshold, descriptors,
                              (trajectory_length, trajectory_stride, trajectory_scales))
    frames = _core.FrameRange()
    frames.first = whole("first", first)
    frames.last = optional_whole("last", last)
    return Features._from_blocks(*_core.detect(path, choice, wanted, frames,
                                  optional_whole("threads", threads), bool(progress)))


class Detector:
    """Detection on frames held in memory, frame by frame, with the results of detect().

    size: (width, height) of every frame, pixels. color: "bgr" (OpenCV's order) or "rgb"
    (PyAV, decord, torchvision) for 3-channel frames. first: the frame number of the first
    frame added (points' t counts from it). Other keywords as detect(), checked as detect()
    checks them.

    add(frame) takes the next frame and returns the points that became final (those of
    frames a few frames back); finish() ends the video and returns the rest. Ids count from
    0 across the calls, so concat of all results equals detect() on the same frames. One
    Detector serves one thread at a time: a concurrent call raises RuntimeError.
    """

    def __init__(self, size: Tuple[int, int], *, detector: str = "harris",
                 scales: Scales = DEFAULT_SCALES, k: Optional[float] = None,
                 threshold: Optional[float] = None, descriptors: Descriptors = None,
                 first: int = 0, color: str = "bgr", threads: Optional[int] = None,
                 trajectory_length: Optional[int] = None, trajectory_stride: Optional[int] = None,
                 trajectory_scales: Optional[int] = None) -> None:
        try:
            width, height = (int(v) for v in size)
        except (TypeError, ValueError):
            raise ValueError(f"size: expected (width, height), got {size!r}") from None
        if not (0 < width < 2**31 and 0 < height < 2**31) or tuple(size) != (width, height):
            raise ValueError(f"size: expected positive whole (width, height), got {size!r}")
        if color not in ("bgr", "rgb"):
            raise ValueError(f"color: expected 'bgr' or 'rgb', got {color!r}")
        choice, wanted = _choices(detector, scales, k, threshold, descriptors,
                                  (trajectory_length, trajectory_stride, trajectory_scales))
        self.size = (width, height)
        self.first = whole("first", first)
        self._core = _core.Detector(width, height, choice, wanted, self.first,
                                    optional_whole("threads", threads), color == "rgb")

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
        return Features._from_blocks(*self._core.add(np.ascontiguousarray(frame)))

    def finish(self) -> Features:
        """Ends the video (the last frame added is its last) and returns the remaining
        points. add() afterwards raises RuntimeError."""
        return Features._from_blocks(*self._core.finish())
