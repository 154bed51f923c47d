"""Result codes (from the libraries, at run time), the last failure, and the
package's exceptions."""

from __future__ import annotations

import builtins
import dataclasses
import ctypes
import enum
import functools
from dataclasses import dataclass
from typing import Dict, Iterable, Optional, Sequence, Tuple, Type, Union

from ._lib import Failure as _FailureRecord
from ._lib import colour_library, instrument_library
from ._text import field, printable

__all__ = [
    "ColourError",
    "Error",
    "Failure",
    "InstrumentError",
    "NotReadyError",
    "OpenError",
    "TimeoutError",
    "colour_result_enum",
    "instrument_code",
    "last_failure",
    "raise_instrument_error",
    "result_enum",
]

CAUSE_NOT_CA410 = 7  # CA410_CAUSE_NOT_CA410: something answered, not as a CA-410 does
CAUSE_INSTRUMENT = 8  # CA410_CAUSE_INSTRUMENT: the instrument answered an error

Table = Dict[int, Tuple[str, str]]


def _text(raw: Optional[bytes]) -> str:
    return printable(raw or b"")


@functools.lru_cache(maxsize=None)
def instrument_codes() -> Table:
    """The instrument library's result codes: number -> (name, meaning)."""
    lib = instrument_library()
    count = lib.ca410_result_codes(None, 0)
    codes = (ctypes.c_int32 * count)()
    lib.ca410_result_codes(codes, count)
    return {c: (_text(lib.ca410_result_name(c)), _text(lib.ca410_result_meaning(c))) for c in codes}


@functools.lru_cache(maxsize=None)
def colour_codes() -> Table:
    """The colour library's result codes, numbered from 0 without gaps."""
    lib = colour_library()
    table: Table = {}
    while lib.ca410ColourResultName(len(table)) is not None:
        code = len(table)
        name, meaning = lib.ca410ColourResultName(code), lib.ca410ColourResultText(code)
        table[code] = (_text(name), _text(meaning))
    return table


def _enum(name: str, table: Table, doc: str) -> Type[enum.IntEnum]:
    made = enum.IntEnum(name, {n: code for code, (n, _) in table.items()}, module="ca410")
    made.__doc__ = doc
    return made


@functools.lru_cache(maxsize=None)
def result_enum() -> Type[enum.IntEnum]:
    """``ca410.Result``: made from the instrument library when first asked for."""
    return _enum("Result", instrument_codes(),
                 "Result codes of the instrument library (CA_OK, CA_E_*).")


@functools.lru_cache(maxsize=None)
def colour_result_enum() -> Type[enum.IntEnum]:
    """``ca410.ColourResult``: made from the colour library when first asked for."""
    return _enum("ColourResult", colour_codes(),
                 "Result codes of the colour library (CA_COLOUR_*).")


def instrument_code(name: str) -> int:
    """The number of an instrument result code by name ("CA_E_NOT_READY")."""
    return int(result_enum()[name])


def colour_code(name: str) -> int:
    """The number of a colour result code by name ("CA_COLOUR_E_DOMAIN")."""
    return int(colour_result_enum()[name])


# ---- the last failure --------------------------------------------------------


@dataclass(frozen=True)
class Failure:
    """Why a call failed, as the library recorded it on the calling thread."""

    cause_code: int  # a CA410_CAUSE_* number
    cause: str  # its words, "no such port"
    text: str  # the cause in words with its detail
    instrument_error: Optional[int]  # the instrument's error number ("ER05": 5)
    system_error: Optional[int]  # errno or GetLastError() behind a port failure
    port: str


def last_failure() -> Optional[Failure]:
    """The last failure recorded on the calling thread; None when the last
    call recorded none."""
    lib = instrument_library()
    record = _FailureRecord()
    lib.ca410_last_failure(ctypes.byref(record))
    if record.cause == 0:
        return None
    return Failure(
        cause_code=record.cause,
        cause=_text(lib.ca410_cause_text(record.cause)) or f"cause {record.cause}",
        text=field(record.text),
        instrument_error=None if record.instrument_error < 0 else record.instrument_error,
        system_error=record.system_error or None,
        port=field(record.port),
    )


# ---- exceptions ----------------------------------------------------------------


class Error(Exception):
    """A call into the driver failed.

    Attributes:
        code: the result code (a :class:`ca410.Result` or
            :class:`ca410.ColourResult`; both compare equal to plain ints).
        name: the code's name, e.g. ``"CA_E_TIMEOUT"``.
        meaning: what the code means, e.g. ``"communication time-out"``.
        function: the C function that returned it, when there is one.
        cause: why, in words ("no such port", "no answer"), when the library
            recorded it; else None. ``cause_code`` is its CA410_CAUSE_* number.
        instrument_error: the instrument's own error number, or None.
        system_error: the system's error number behind a port failure, or None.
        port: the port concerned, or None.
        log_lines: the library's diagnostic lines of the failed call.
    """

    _codes = staticmethod(instrument_codes)
    _kind = staticmethod(result_enum)

    def __init__(
        self,
        code: int,
        function: Optional[str] = None,
        *,
        detail: Optional[str] = None,
        failure: Optional[Failure] = None,
        log_lines: Sequence[str] = (),
    ) -> None:
        known = self._codes()
        name, meaning = known.get(code, (f"unknown result code {code}", "not a known code"))
        self.code: Union[int, enum.IntEnum] = self._kind()(code) if code in known else code
        self.name = name
        self.meaning = meaning
        self.function = function
        self.failure = failure
        self.cause = failure.cause if failure else None
        self.cause_code = failure.cause_code if failure else None
        self.instrument_error = failure.instrument_error if failure else None
        self.system_error = failure.system_error if failure else None
        self.port = (failure.port or None) if failure else None
        self.log_lines: Tuple[str, ...] = tuple(log_lines)
        super().__init__(self._message(code, detail))

    def _message(self, code: int, detail: Optional[str]) -> str:
        parts = [f"{self.function}: " if self.function else "",
                 f"{self.name} ({code}): {self.meaning}"]
        if self.failure:
            parts.append(f": {self.failure.text or self.failure.cause}")
            parts.append(f" ({self.failure.port})" if self.failure.port else "")
        parts.append(f": {detail}" if detail else "")
        return "".join(parts)


class TimeoutError(Error, builtins.TimeoutError):  # noqa: A001 - ca410.TimeoutError on purpose
    """CA_E_TIMEOUT: the instrument did not answer in time (also a builtin
    :class:`TimeoutError`)."""


class NotReadyError(Error):
    """CA_E_NOT_READY: no usable instrument (closed, or not initialised)."""


class OpenError(Error):
    """CA_E_OPEN: the port did not open, or no CA-410 answered on it."""


class InstrumentError(Error):
    """The instrument answered with one of its own errors (``instrument_error``
    has its number)."""


class ColourError(Error):
    """A function of the colour library failed (``code`` is a
    :class:`ca410.ColourResult`)."""

    _codes = staticmethod(colour_codes)
    _kind = staticmethod(colour_result_enum)


# The codes that come from the instrument's own error answers.
_INSTRUMENT_ANSWERS = (
    "CA_E_INVALID_VALUE", "CA_E_CAL_MEASURE", "CA_E_CAL_INPUT", "CA_E_INVALID_COMMAND",
    "CA_E_CHANNEL_WRITE", "CA_E_NO_SYNC", "CA_E_LIGHT_LEAK", "CA_E_OVER_RANGE", "CA_E_CALC",
    "CA_E_MEMORY", "CA_E_FLICKER_RANGE", "CA_E_FLICKER_SYNC", "CA_E_FLICKER", "CA_E_CAL_DATE",
    "CA_E_PROGRAM",
)  # fmt: skip

# The exception class of each code that has its own; the rest raise Error,
# or InstrumentError when the cause is the instrument's answer.
_CLASS_OF_CODE: Dict[str, Type[Error]] = {
    "CA_E_TIMEOUT": TimeoutError,
    "CA_E_NOT_READY": NotReadyError,
    "CA_E_OPEN": OpenError,
    **{name: InstrumentError for name in _INSTRUMENT_ANSWERS},
}


def error_class(code: int, failure: Optional[Failure]) -> Type[Error]:
    """The exception class for an instrument library result code."""
    name = instrument_codes().get(code, ("", ""))[0]
    by_cause = InstrumentError if failure and failure.cause_code == CAUSE_INSTRUMENT else Error
    return _CLASS_OF_CODE.get(name, by_cause)


def raise_instrument_error(code: int, function: str, log_lines: Iterable[str] = (),
                           port: Optional[bytes] = None) -> None:
    """Raises the exception for `code`, which `function` just returned on this
    thread, with the library's record of why; `port` is the whole name of the
    port the call used (the record holds 63 bytes of it)."""
    failure = last_failure()
    if failure and failure.port and port:
        failure = dataclasses.replace(failure, port=printable(port))
    raise error_class(code, failure)(code, function, failure=failure, log_lines=tuple(log_lines))
