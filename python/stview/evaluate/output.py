"""Writing outputs whole or not at all."""

from __future__ import annotations

import os
import pathlib
import tempfile


def _new_file_mode() -> int:
    """The permissions a newly created file gets: 0666 less the umask."""
    mask = os.umask(0)
    os.umask(mask)
    return 0o666 & ~mask


def write_atomically(path: pathlib.Path, content: str | bytes) -> None:
    """Writes `path` through a temporary file of its own beside it, so that it is whole or
    absent, and two runs writing the same folder never write into each other's file."""
    data = content.encode("utf-8") if isinstance(content, str) else content
    descriptor, partial = tempfile.mkstemp(prefix=f".{path.name}.", suffix=".partial",
                                           dir=path.parent)
    try:
        with os.fdopen(descriptor, "wb") as stream:
            os.fchmod(stream.fileno(), _new_file_mode())
            stream.write(data)
        os.replace(partial, path)
    except BaseException:
        try:
            os.unlink(partial)
        except FileNotFoundError:
            pass
        raise
