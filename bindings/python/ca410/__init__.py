"""ca410 — the CA-410 display colour analyser from Python.

A pure-Python layer (ctypes) over the driver's two shared libraries: the
instrument library (``libca410.so`` / ``ca410.dll``) and the colour library
(``libca410_colour.so`` / ``ca410_colour.dll``). They are looked for in the
directory named by the environment variable ``CA410_LIBRARY_DIR``, then
beside this package's files, then by the system's loader, when first used
(``import ca410`` loads neither).

    >>> import ca410
    >>> with ca410.Instrument("/dev/ttyUSB0") as ins:
    ...     ins.init()
    ...     m = ins.measure()
    ...     print(f"Y {m.Y:.2f} cd/m2  x {m.x:.4f}  y {m.y:.4f}  CCT {m.cct:.0f} K")

The library's diagnostic lines go to the :mod:`logging` logger ``ca410``:
progress at DEBUG, failures at INFO.

Modules: :mod:`ca410.colour` (chromaticity, CCT, spectra, gamut figures),
:mod:`ca410.plot` (the CIE 1931 xy diagram; needs matplotlib).
"""

import functools
from typing import Any

from . import cgats, colour, patches
from ._errors import (
    ColourError,
    Error,
    Failure,
    InstrumentError,
    NotReadyError,
    OpenError,
    TimeoutError,
)
from ._lib import LibraryNotFound
from .instrument import (
    WRGB,
    Calfile,
    Channel,
    Info,
    Instrument,
    Measurement,
    Port,
    Settings,
    Spread,
    Statistics,
    ports,
    scan,
)

__all__ = [
    "Calfile",
    "Channel",
    "ColourError",
    "ColourResult",
    "Error",
    "Failure",
    "Info",
    "Instrument",
    "InstrumentError",
    "LibraryNotFound",
    "Measurement",
    "NotReadyError",
    "OpenError",
    "Port",
    "Result",
    "Settings",
    "Spread",
    "Statistics",
    "TimeoutError",
    "WRGB",
    "cgats",
    "colour",
    "patches",
    "ports",
    "scan",
]


@functools.lru_cache(maxsize=None)
def _version() -> str:
    from importlib import metadata

    try:
        return metadata.version("ca410")
    except metadata.PackageNotFoundError:  # a source checkout: the library's own
        from ._lib import instrument_library

        return instrument_library().ca410_version().decode("ascii")


def __getattr__(name: str) -> Any:
    # Made when first asked for, from the libraries, so that the import
    # loads neither.
    from . import _errors

    made = {"Result": _errors.result_enum, "ColourResult": _errors.colour_result_enum,
            "__version__": _version}.get(name)
    if made is None:
        raise AttributeError(f"module 'ca410' has no attribute {name!r}")
    return made()
