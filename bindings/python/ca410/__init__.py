"""ca410 — the CA-410 display colour analyser from Python.

A pure-Python layer (ctypes) over the driver's two shared libraries: the
instrument library (``libca410.so`` / ``ca410.dll``) and the colour library
(``libca410_colour.so`` / ``ca410_colour.dll``). They are looked for in the
directory named by the environment variable ``CA410_LIBRARY_DIR``, then
beside this package's files, then by the system's loader.

    >>> import ca410
    >>> with ca410.Instrument("/dev/ttyUSB0") as ins:
    ...     ins.init()
    ...     m = ins.measure()
    ...     print(f"Y {m.Y:.2f} cd/m2  x {m.x:.4f}  y {m.y:.4f}  CCT {m.cct:.0f} K")

Modules: :mod:`ca410.colour` (chromaticity, CCT, spectra, gamut figures),
:mod:`ca410.plot` (the CIE 1931 xy diagram; needs matplotlib).
"""

from . import cgats, colour, patches
from ._errors import ColourResult, Error, Result
from ._lib import LibraryNotFound
from .instrument import (
    WRGB,
    Calfile,
    Channel,
    Info,
    Instrument,
    Measurement,
    Settings,
    Spread,
    Statistics,
    ports,
    scan,
)

__version__ = "0.1.0"

__all__ = [
    "Calfile",
    "Channel",
    "ColourResult",
    "Error",
    "Info",
    "Instrument",
    "LibraryNotFound",
    "Measurement",
    "Result",
    "Settings",
    "Spread",
    "Statistics",
    "WRGB",
    "colour",
    "ports",
    "scan",
]
