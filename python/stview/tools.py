"""Where the programs of this install are: stdetect and the dataset script."""

from __future__ import annotations

import os
import shutil
from pathlib import Path

_PACKAGE = Path(__file__).resolve().parent


def _find(name: str) -> str:
    # Inside the package (pip install, build tree), then beside the programs of a
    # cmake --install prefix (<prefix>/lib/pythonX.Y/site-packages/stview), then PATH.
    candidates = [_PACKAGE / "bin" / name]
    if len(_PACKAGE.parents) > 3:
        candidates.append(_PACKAGE.parents[3] / "bin" / name)
    for candidate in candidates:
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    found = shutil.which(name)
    if found:
        return found
    raise FileNotFoundError(f"{name} is not part of this install of stview ({_PACKAGE})")


def stdetect_path() -> str:
    """The stdetect program of this install ($STDETECT when set)."""
    return os.environ.get("STDETECT") or _find("stdetect")


def dataset_script_path() -> str:
    """The dataset script (detect-dataset.sh) of this install."""
    return _find("detect-dataset.sh")
