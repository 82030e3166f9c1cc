"""Features files: read_features and write_features."""

from __future__ import annotations

import errno
import os

from . import _core
from .features import Features


def _existing_file(path: "os.PathLike[str] | str", what: str) -> str:
    path = os.fspath(path)
    if not os.path.exists(path):
        raise FileNotFoundError(errno.ENOENT, f"no {what} {path}", path)
    if os.path.isdir(path):
        raise IsADirectoryError(errno.EISDIR, f"the {what} {path} is a folder", path)
    return path


def _output_file(path: "os.PathLike[str] | str") -> str:
    path = os.fspath(path)
    if os.path.isdir(path):
        raise IsADirectoryError(errno.EISDIR, f"the output {path} is a folder", path)
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        raise FileNotFoundError(errno.ENOENT, f"no folder {folder} for the output {path}", path)
    return path


def _holds_other_lines(path: str) -> bool:
    """True when the file has a line that is neither blank nor a comment."""
    with open(path, "rb") as stream:
        for number, line in enumerate(stream):
            if number == 0:
                line = line.removeprefix(b"\xef\xbb\xbf")
            if line.strip(b" \t\r\v\f\n") and not line.startswith(b"#"):
                return True
    return False


def read_features(path: "os.PathLike[str] | str") -> Features:
    """Reads a features file (as stdetect writes it, or any file stview plays).

    Records are the lines holding seven numbers; lines starting with '#' are comments,
    and other non-blank lines are skipped and reported on standard error with their count
    and the first one's number, as stview's loader reports them. Descriptors are read
    when the header's "# columns:" line names them (hog[72], hof[90]; for trajectories
    track[2(L + 1)], trajectory[2L], hog[96], hof[108], mbh[192]), else when the first
    record has 79 (HOG), 97 (HOF) or 169 (both) columns.

    Returns Features: points (N, 7) float64, exactly the values of the file; the
    descriptors float32 (hog (N, 72) and hof (N, 90) for the point detectors) or None,
    tracks float64 (N, L + 1, 2) or None; an empty or header-only file gives no point. Raises
    FileNotFoundError, OSError, or ValueError naming the line when a record lacks its
    descriptor numbers, or when no line holds a record but some are not comments (not a
    features file: a video given for one, say), as stview refuses it.
    """
    path = _existing_file(path, "features file")
    points, blocks = _core.read_features(path)
    if len(points) == 0 and _holds_other_lines(path):
        raise ValueError(f"the features file {path} holds no point record: not a features file")
    return Features._from_blocks(points, blocks)


def write_features(path: "os.PathLike[str] | str", features: Features) -> None:
    """Writes features as the file stdetect writes: its header lines, then one line per
    point (id x y t sigma2 tau2 value, exact), then the track's points (exact floats) and
    the descriptors printed with %.4g.

    The file appears under its name only once complete. read_features gives back the
    same points bit for bit, and writing what it read gives the same file. Raises
    ValueError when id, x, y or t is not a whole number in C int's range, OSError when
    the file cannot be written.
    """
    if not isinstance(features, Features):
        raise TypeError(f"features: expected stview.Features, got {type(features).__name__}")
    command = " ".join(["python3", "stview.write_features", os.fspath(path)])
    _core.write_features(_output_file(path), features.points, features._blocks(), command)
