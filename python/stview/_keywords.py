"""The keywords' types, checked before they reach the compiled core: a wrong type is a
ValueError naming the keyword. The core's own validations then refuse wrong values by name,
as the programs refuse them."""

from __future__ import annotations

import numbers
from typing import Optional

_INT64 = (-2**63, 2**63 - 1)


def whole(name: str, value, low: int = _INT64[0], high: int = _INT64[1]) -> int:
    """value as an int (any integral type but bool), within [low, high]."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise ValueError(f"{name}: expected a whole number, got {value!r}")
    value = int(value)
    if not low <= value <= high:
        raise ValueError(f"{name}: {value} is out of range ({low} to {high})")
    return value


def optional_whole(name: str, value) -> Optional[int]:
    """None, or value as whole() takes it."""
    return None if value is None else whole(name, value)


def real(name: str, value) -> float:
    """value as a float (any real type but bool)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError(f"{name}: expected a number, got {value!r}")
    return float(value)


def text(name: str, value) -> str:
    """value, which must be a str."""
    if not isinstance(value, str):
        raise ValueError(f"{name}: expected text, got {value!r}")
    return value
