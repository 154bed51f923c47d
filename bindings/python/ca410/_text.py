"""Text from outside (the instrument, the system, file names) made safe to show."""

from __future__ import annotations

_C_ESCAPES = {"\t": "\\t", "\n": "\\n", "\r": "\\r"}


def _escaped(ch: str) -> str:
    if ch.isprintable():
        return ch
    point = ord(ch)
    if 0xDC80 <= point <= 0xDCFF:  # a byte that was not UTF-8 (surrogateescape)
        return f"\\x{point - 0xDC00:02x}"
    if point < 0x100:
        return _C_ESCAPES.get(ch, f"\\x{point:02x}")
    return f"\\u{point:04x}" if point < 0x10000 else f"\\U{point:08x}"


def printable(raw: bytes) -> str:
    """`raw` as text (UTF-8) with everything a terminal would act on escaped:
    control bytes (ESC, carriage return ...) as C escapes or ``\\xNN``, bytes
    that are not UTF-8 as ``\\xNN``, invisible characters as ``\\uNNNN``."""
    return "".join(map(_escaped, raw.decode("utf-8", "surrogateescape")))


def field(raw: bytes) -> str:
    """A NUL-terminated text field of a C record, as :func:`printable`."""
    return printable(raw.split(b"\0", 1)[0])
