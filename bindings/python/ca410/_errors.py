"""Result codes and the package's exception."""

from __future__ import annotations

import enum
from typing import Dict, Optional, Tuple, Union

__all__ = ["Error", "Result", "ColourResult"]

# The instrument library's result codes: number -> (name, meaning), as
# include/ca410.h lists them (the tests check the two agree).
INSTRUMENT_CODES: Dict[int, Tuple[str, str]] = {
    0: ("CA_OK", "success"),
    1: ("CA_E_DELETE_CHANNEL", "deleting a calibration channel failed"),
    16: ("CA_E_INVALID_VALUE", "instrument error 03: invalid colour difference or cal value"),
    17: ("CA_E_CAL_MEASURE", "instrument error 05, or a WRGB step's measurement failed"),
    18: ("CA_E_CAL_INPUT", "instrument error 06, or a WRGB target or the storing failed"),
    19: ("CA_E_INVALID_COMMAND", "instrument error 10, or a settings item that cannot be set"),
    20: ("CA_E_CHANNEL_WRITE", "instrument error 16: writing calibration channel data failed"),
    21: ("CA_E_NO_SYNC", "instrument error 20: external sync mode without a sync signal"),
    22: ("CA_E_LIGHT_LEAK", "instrument error 21: zero calibration saw outer light"),
    23: ("CA_E_OVER_RANGE", "instrument error 22: measured brightness exceeds the range"),
    24: ("CA_E_CALC", "instrument error 24: measurement calculation error"),
    25: ("CA_E_MEMORY", "instrument errors 31, 32: memory data write or read error"),
    26: ("CA_E_GET_RANGE", "reading the colour range failed"),
    32: ("CA_E_FLICKER_RANGE", "instrument error 50: flicker (contrast mode) exceeds the range"),
    33: ("CA_E_FLICKER_SYNC", "instrument error 51: flicker sync signal outside the range"),
    34: ("CA_E_FLICKER", "instrument error 53: flicker measurement failed"),
    35: ("CA_E_CAL_DATE", "instrument error 91: periodical calibration date error"),
    36: ("CA_E_PROGRAM", "instrument error 99: instrument program error"),
    37: ("CA_E_ARGS", "invalid arguments: null pointer, number out of range"),
    38: ("CA_E_TIMEOUT", "communication time-out"),
    39: ("CA_E_COMM", "communication failed, or an instrument error without a name"),
    40: ("CA_E_OPEN", "opening the instrument failed (port, identification, memory)"),
    42: ("CA_E_ZERO_CAL", "zero calibration failed"),
    44: ("CA_E_GET_CALLIST", "reading the calibration channel list failed"),
    46: ("CA_E_RESET", "resetting the measurement settings failed"),
    47: ("CA_E_GET_CONFIG", "reading the configuration (or setting calibration mode) failed"),
    48: ("CA_E_PARSE", "an answer has too few fields or names another channel or mode"),
    49: ("CA_E_PART_DATA", "the answer did not fit the buffer; the part that fits is there"),
    50: ("CA_E_NOT_READY", "no usable device (null handle, no port, not initialised)"),
    51: ("CA_E_FIRMWARE", "reading the firmware identity failed"),
    52: ("CA_E_RECEIVE", "the answer was too short or carried too few fields"),
    54: ("CA_E_DISPLAY_MODE", "setting the display mode failed"),
    55: ("CA_E_MEASURE", "the measurement failed"),
}

# The colour library's result codes (include/ca410_colour.h).
COLOUR_CODES: Dict[int, Tuple[str, str]] = {
    0: ("CA_COLOUR_OK", "success"),
    1: ("CA_COLOUR_E_ARGS", "an argument is missing or not one the function takes"),
    2: ("CA_COLOUR_E_DOMAIN", "the values have no answer (not finite, black, out of range)"),
    3: ("CA_COLOUR_E_SIZE", "the buffer is too small"),
}

Result = enum.IntEnum("Result", {name: code for code, (name, _) in INSTRUMENT_CODES.items()})
Result.__doc__ = "Result codes of the instrument library (CA_OK, CA_E_*)."
ColourResult = enum.IntEnum(
    "ColourResult", {name: code for code, (name, _) in COLOUR_CODES.items()}
)
ColourResult.__doc__ = "Result codes of the colour library (CA_COLOUR_*)."


class Error(Exception):
    """A call into the driver failed.

    Attributes:
        code: the result code (a :class:`Result` or :class:`ColourResult`,
            both compare equal to plain ints).
        name: the code's name, e.g. ``"CA_E_TIMEOUT"``.
        meaning: what the code means, e.g. ``"communication time-out"``.
        function: the C function that returned it, when there is one.
    """

    code: Union[int, Result, ColourResult]
    name: str
    meaning: str
    function: Optional[str]

    def __init__(
        self,
        code: int,
        function: Optional[str] = None,
        *,
        colour: bool = False,
        detail: Optional[str] = None,
    ) -> None:
        table, kind = (COLOUR_CODES, ColourResult) if colour else (INSTRUMENT_CODES, Result)
        name, meaning = table.get(code, (f"unknown result code {code}", "not a known code"))
        self.code = kind(code) if code in table else code
        self.name = name
        self.meaning = meaning
        self.function = function
        text = f"{name} ({code}): {meaning}"
        if function:
            text = f"{function}: {text}"
        if detail:
            text = f"{text} ({detail})"
        super().__init__(text)
