"""Space-time interest points as numpy arrays: the Features record and concat."""

from __future__ import annotations

from typing import Iterable, Optional

import numpy as np

POINT_COLUMNS = ("id", "x", "y", "t", "sigma2", "tau2", "value")
HOG_LENGTH = 72
HOF_LENGTH = 90


def _descriptors(values, length: int, rows: int, name: str) -> Optional[np.ndarray]:
    if values is None:
        return None
    array = np.asarray(values, dtype=np.float32)
    if array.ndim != 2 or array.shape != (rows, length):
        raise ValueError(f"{name}: expected shape ({rows}, {length}), got {array.shape}")
    return array


class Features:
    """Points found by the detector, with their descriptors when asked for.

    points: float64 array (N, 7), the features file's columns: id, x (column, pixels),
        y (pixels counted upward from the frame's bottom edge; row = height - y),
        t (zero-based frame number), sigma2 (spatial variance, pixels squared),
        tau2 (temporal variance, frames squared), value (the corner response H).
    hog: float32 array (N, 72) or None: 3 x 3 x 2 cells (t, then row downward, then
        column) of 4 gradient-direction bins (right, down, left, up), unit L2 length.
    hof: float32 array (N, 90) or None: the same cells of 5 optical-flow bins (right,
        down, left, up, no motion), unit L2 length.
    """

    __slots__ = ("points", "hog", "hof")

    def __init__(self, points, hog=None, hof=None) -> None:
        points = np.asarray(points, dtype=np.float64)
        if points.ndim != 2 or points.shape[1] != len(POINT_COLUMNS):
            if points.size == 0:
                points = points.reshape(0, len(POINT_COLUMNS))
            else:
                raise ValueError(f"points: expected shape (N, 7), got {points.shape}")
        self.points = points
        self.hog = _descriptors(hog, HOG_LENGTH, len(points), "hog")
        self.hof = _descriptors(hof, HOF_LENGTH, len(points), "hof")

    def __len__(self) -> int:
        return len(self.points)

    def __getitem__(self, selection) -> "Features":
        """Rows chosen by a slice, a boolean mask or an index array (a Features)."""
        if isinstance(selection, (int, np.integer)):
            selection = slice(selection, selection + 1 or None)
        pick = lambda a: None if a is None else a[selection]  # noqa: E731
        return Features(self.points[selection], pick(self.hog), pick(self.hof))

    def __repr__(self) -> str:
        asked = [name for name in ("hog", "hof") if getattr(self, name) is not None]
        return f"Features({len(self)} points{', ' if asked else ''}{', '.join(asked)})"


def concat(parts: Iterable[Features]) -> Features:
    """The rows of several Features one after the other (e.g. the results of Detector.add).

    All parts must carry the same descriptors; an empty list gives no points, no descriptors.
    """
    parts = list(parts)
    if not parts:
        return Features(np.zeros((0, len(POINT_COLUMNS))))
    for name in ("hog", "hof"):
        present = {getattr(part, name) is not None for part in parts}
        if len(present) > 1:
            raise ValueError(f"concat: some parts have {name} descriptors and some do not")
    join = lambda name: (  # noqa: E731
        None if getattr(parts[0], name) is None
        else np.concatenate([getattr(part, name) for part in parts]))
    return Features(np.concatenate([part.points for part in parts]), join("hog"), join("hof"))
