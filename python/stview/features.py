"""Space-time interest points as numpy arrays: the Features record and concat."""

from __future__ import annotations

from typing import Iterable, Optional, Sequence

import numpy as np

POINT_COLUMNS = ("id", "x", "y", "t", "sigma2", "tau2", "value")
HOG_LENGTH = 72
HOF_LENGTH = 90

# The arrays after the points, in the order a features file holds them, and the widths each
# may have: the point detectors' hog and hof, the trajectories' own (any track length L).
BLOCKS = ("tracks", "trajectory", "hog", "hof", "mbh")
_WIDTHS = {"hog": (HOG_LENGTH, 96), "hof": (HOF_LENGTH, 108), "mbh": (192,)}
_FILE_NAMES = {"tracks": "track"}  # the file's name of a block, where it differs


def _block(values, name: str, rows: int) -> Optional[np.ndarray]:
    if values is None:
        return None
    if name == "tracks":
        array = np.asarray(values, dtype=np.float64)
        if array.ndim != 3 or array.shape[0] != rows or array.shape[1] < 2 or array.shape[2] != 2:
            raise ValueError(f"tracks: expected shape ({rows}, L + 1, 2), got {array.shape}")
        return array
    array = np.asarray(values, dtype=np.float32)
    widths = _WIDTHS.get(name)
    if (array.ndim != 2 or array.shape[0] != rows
            or (widths is not None and array.shape[1] not in widths)
            or (name == "trajectory" and (array.shape[1] < 2 or array.shape[1] % 2))):
        wanted = " or ".join(f"({rows}, {w})" for w in widths) if widths else f"({rows}, 2L)"
        raise ValueError(f"{name}: expected shape {wanted}, got {array.shape}")
    return array


class Features:
    """Points found by the detector, with their descriptors when asked for.

    points: float64 array (N, 7), the features file's columns: id, x (column, pixels),
        y (pixels counted upward from the frame's bottom edge; row = height - y),
        t (zero-based frame number), sigma2 (spatial variance, pixels squared),
        tau2 (temporal variance, frames squared), value (the detector's response; a
        trajectory's length in pixels).
    hog: float32 array (N, 72) or None: 3 x 3 x 2 cells (t, then row downward, then
        column) of 4 gradient-direction bins (right, down, left, up), unit L2 length.
        For trajectories (N, 96): 2 x 2 x 3 cells of 8 bins.
    hof: float32 array (N, 90) or None: the same cells of 5 optical-flow bins (right,
        down, left, up, no motion), unit L2 length. For trajectories (N, 108): 8 bins and
        no motion.
    tracks: float64 array (N, L + 1, 2) or None: each trajectory's points, frame by frame,
        x and y (from the bottom) in the frame's pixels.
    trajectory: float32 array (N, 2L) or None: the track's moves over its length, x and y
        alternating, rows down.
    mbh: float32 array (N, 192) or None: motion-boundary histograms, x then y, as hog.
    """

    __slots__ = ("points",) + BLOCKS

    def __init__(self, points, hog=None, hof=None, *, tracks=None, trajectory=None,
                 mbh=None) -> None:
        points = np.asarray(points, dtype=np.float64)
        if points.ndim != 2 or points.shape[1] != len(POINT_COLUMNS):
            if points.size == 0:
                points = points.reshape(0, len(POINT_COLUMNS))
            else:
                raise ValueError(f"points: expected shape (N, 7), got {points.shape}")
        self.points = points
        given = {"tracks": tracks, "trajectory": trajectory, "hog": hog, "hof": hof, "mbh": mbh}
        for name in BLOCKS:
            setattr(self, name, _block(given[name], name, len(points)))

    @classmethod
    def _from_blocks(cls, points: np.ndarray,
                     blocks: Sequence[tuple[str, np.ndarray]]) -> "Features":
        """From the compiled module's (points, [(file name, float32 (N, width))...])."""
        arrays = {}
        for name, values in blocks:
            if name == "track":
                width = values.shape[1]  # x and y of each of the L + 1 frames
                arrays["tracks"] = values.astype(np.float64).reshape(len(values), width // 2, 2)
            elif name in BLOCKS:
                arrays[name] = values
        return cls(points, **arrays)

    def _blocks(self) -> list[tuple[str, np.ndarray]]:
        """The arrays present as the compiled module takes them, in the file's order."""
        blocks = []
        for name in BLOCKS:
            values = getattr(self, name)
            if values is not None:
                rows = values.reshape(len(values), int(np.prod(values.shape[1:])))
                blocks.append((_FILE_NAMES.get(name, name),
                               np.ascontiguousarray(rows, dtype=np.float32)))
        return blocks

    def __len__(self) -> int:
        return len(self.points)

    def __getitem__(self, selection) -> "Features":
        """Rows chosen by a slice, a boolean mask or an index array (a Features)."""
        if isinstance(selection, (int, np.integer)):
            selection = slice(selection, selection + 1 or None)
        picked = {name: getattr(self, name) for name in BLOCKS}
        picked = {name: None if a is None else a[selection] for name, a in picked.items()}
        return Features(self.points[selection], **picked)

    def __repr__(self) -> str:
        asked = [name for name in BLOCKS if getattr(self, name) is not None]
        return f"Features({len(self)} points{', ' if asked else ''}{', '.join(asked)})"


def concat(parts: Iterable[Features]) -> Features:
    """The rows of several Features one after the other (e.g. the results of Detector.add).

    All parts must carry the same descriptors; an empty list gives no points, no descriptors.
    """
    parts = list(parts)
    if not parts:
        return Features(np.zeros((0, len(POINT_COLUMNS))))
    joined = {}
    for name in BLOCKS:
        present = {getattr(part, name) is not None for part in parts}
        if len(present) > 1:
            raise ValueError(f"concat: some parts have {name} and some do not")
        if getattr(parts[0], name) is not None:
            shapes = {getattr(part, name).shape[1:] for part in parts}
            if len(shapes) > 1:
                raise ValueError(f"concat: the parts' {name} differ in shape: {sorted(shapes)}")
            joined[name] = np.concatenate([getattr(part, name) for part in parts])
    return Features(np.concatenate([part.points for part in parts]), **joined)
