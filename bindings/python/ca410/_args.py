"""Checks of the arguments that go into the libraries: a number that a C
int32 would wrap or truncate, or a port name the C string would cut, is
refused before anything is sent."""

from __future__ import annotations

import operator
import os
from typing import Any, Union

__all__ = ["integer", "port_path"]


def integer(value: Any, what: str, low: int, high: int) -> int:
    """`value` as an int from `low` to `high`.

    Raises TypeError for what is not an integer (floats and strings, and
    bools too: ``set_channel(True)`` is a slip, not channel 1) and ValueError
    for an integer out of the range.
    """
    if isinstance(value, bool) or not hasattr(type(value), "__index__"):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__} {value!r:.40}")
    number = operator.index(value)
    if not low <= number <= high:
        raise ValueError(f"{what} must be {low} to {high}, not {number}")
    return number


def port_path(port: Union[str, bytes, "os.PathLike[Any]"]) -> bytes:
    """The bytes of a port's name (str, bytes or a path, undecodable names
    included); TypeError for anything else, ValueError for an empty name or
    one with a NUL byte (C would cut it there)."""
    raw = os.fsencode(port)
    if not raw or b"\0" in raw:
        raise ValueError(f"port: {port!r:.60} is not a port name (empty, or a NUL byte in it)")
    return raw
