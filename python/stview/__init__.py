"""stview: space-time interest points in video, from Python.

detect and Detector find the points stdetect finds, read_features and write_features
read and write its features files, draw and render draw them as the stview viewer does.
Points are numpy arrays in a Features record; see help(stview.Features).

The names below load on first use, so that the parts that need only the standard
library (stview.dataset, stview.tools) import without numpy or the compiled module.
"""

from __future__ import annotations

import importlib
from typing import Any

_HOMES = {"Detector": "detection", "detect": "detection", "draw": "drawing",
          "render": "drawing", "Features": "features", "concat": "features",
          "read_features": "files", "write_features": "files"}

__all__ = ["Detector", "Features", "concat", "detect", "draw",
           "render", "read_features", "write_features"]


def __getattr__(name: str) -> Any:
    if name in _HOMES:
        value = getattr(importlib.import_module(f".{_HOMES[name]}", __name__), name)
        globals()[name] = value
        return value
    if name in ("tools", "dataset", "evaluate"):
        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(__all__) | {"tools", "dataset", "evaluate"})
