"""Writing outputs whole or not at all."""

from __future__ import annotations

import os
import pathlib


def write_atomically(path: pathlib.Path, content: str | bytes) -> None:
    """Writes `path` through a temporary file beside it, so that it is whole or absent."""
    partial = path.with_name(path.name + ".partial")
    if isinstance(content, str):
        partial.write_text(content, encoding="utf-8")
    else:
        partial.write_bytes(content)
    os.replace(partial, path)
