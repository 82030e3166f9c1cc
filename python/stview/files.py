"""Features files: read_features and write_features."""

from __future__ import annotations

import contextlib
import errno
import os
import sys

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


def _h5py_lock():
    """h5py's own lock on HDF5 when h5py is loaded (the same, thread-unsafe HDF5 library serves
    both; stview's calls hold it while they run without the GIL), else nothing."""
    h5py = sys.modules.get("h5py")
    phil = getattr(getattr(h5py, "_objects", None), "phil", None)
    return phil if phil is not None else contextlib.nullcontext()


def read_features(path: "os.PathLike[str] | str") -> Features:
    """Reads a features file (as stdetect writes it, or any file stview plays), text or HDF5
    (told by the file's signature, not its name; the README gives the HDF5 layout).

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
    features file: a video given for one, say), as stview refuses it; for an HDF5 file
    ValueError naming the file and the problem (truncated, no points, a dataset of the wrong
    type or shape, a newer format version).
    """
    path = _existing_file(path, "features file")
    hdf5 = _core.is_hdf5_file(path)
    with _h5py_lock():
        points, blocks = _core.read_features(path)
    if len(points) == 0 and not hdf5 and _holds_other_lines(path):
        raise ValueError(f"the features file {path} holds no point record: not a features file")
    return Features._from_blocks(points, blocks)


def write_features(path: "os.PathLike[str] | str", features: Features) -> None:
    """Writes features as the file stdetect writes: its header lines, then one line per
    point (id x y t sigma2 tau2 value, exact), then the track's points (exact floats) and
    the descriptors printed with %.4g. A path ending in .h5 is written in HDF5 form instead,
    with the unrounded values (float64 points and tracks, float32 descriptors).

    The file appears under its name only once complete. read_features gives back the
    same points bit for bit, and writing what it read gives the same file. Raises
    ValueError when id, x, y or t is not a whole number in C int's range, OSError when
    the file cannot be written.
    """
    if not isinstance(features, Features):
        raise TypeError(f"features: expected stview.Features, got {type(features).__name__}")
    command = " ".join(["python3", "stview.write_features", os.fspath(path)])
    with _h5py_lock():
        _core.write_features(_output_file(path), features.points, features._blocks(), command)
