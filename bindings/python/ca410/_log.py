"""The instrument library's diagnostic lines, to the logger ``ca410``.

Progress lines go out at DEBUG, failure lines at INFO: the library writes
some failure lines on success too (a sync-mode note at every init), and those
must not reach a terminal whose logging is left as Python sets it up. Each
record carries the library's own level as ``record.ca410_level``
(``LEVEL_FAILURE`` or 0 to 8).
"""

from __future__ import annotations

import atexit
import ctypes
import logging
import threading
from contextlib import contextmanager
from typing import Any, Iterator, List

from ._text import printable

__all__ = ["LEVEL_FAILURE", "LogHandler", "capture", "install_handler", "logger", "quiet"]

logger = logging.getLogger("ca410")

LEVEL_FAILURE = -1  # CA410_LOG_FAILURE; progress lines have 0 to 8

# ca410_log_handler: cdecl on every platform.
LogHandler = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int32, ctypes.c_char_p)

# The library calls the handler on the thread that logs, so what a call
# produced is collected per thread.
_thread = threading.local()


def _forward(_context: Any, level: int, line: bytes) -> None:
    try:
        text = printable(line or b"")
        lines = getattr(_thread, "lines", None)
        if lines is not None:
            lines.append(text)
        failure = level == LEVEL_FAILURE and not getattr(_thread, "quiet", 0)
        logger.log(logging.INFO if failure else logging.DEBUG, "%s", text,
                   extra={"ca410_level": level})
    except Exception:  # noqa: BLE001 - nothing may unwind into the library
        pass


# Kept for the life of the process: the library holds its address.
_handler = LogHandler(_forward)


def install_handler(lib: Any) -> None:
    """Routes `lib`'s lines to the logger, until the interpreter exits (lines
    after that go to standard error again, not into a dying interpreter)."""
    lib.ca410_set_log_handler(_handler, None)
    atexit.register(lib.ca410_set_log_handler, LogHandler(), None)  # NULL: standard error


@contextmanager
def capture() -> Iterator[List[str]]:
    """Collects the lines the calling thread's library calls write meanwhile."""
    saved = getattr(_thread, "lines", None)
    _thread.lines = lines = []
    try:
        yield lines
    finally:
        _thread.lines = saved


@contextmanager
def quiet() -> Iterator[None]:
    """Failure lines of the calling thread go out at DEBUG meanwhile: a scan
    expects most ports to fail."""
    _thread.quiet = getattr(_thread, "quiet", 0) + 1
    try:
        yield
    finally:
        _thread.quiet -= 1
