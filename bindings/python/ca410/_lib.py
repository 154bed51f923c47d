"""Finding and loading the shared libraries, and their C prototypes."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import sysconfig
import threading
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, Tuple

from ._log import LogHandler, install_handler

__all__ = ["LibraryNotFound", "Library", "instrument_library", "colour_library"]

_HERE = Path(__file__).resolve().parent


class LibraryNotFound(OSError):
    """A shared library of the driver could not be loaded from any place tried."""


def library_file_names(stem: str) -> List[str]:
    """The file names a library of `stem` has on this system, most specific first."""
    if sys.platform == "win32":
        return [f"{stem}.dll"]
    if sys.platform == "darwin":
        return [f"lib{stem}.dylib"]
    return [f"lib{stem}.so", f"lib{stem}.so.0"]


def _load(stem: str) -> ctypes.CDLL:
    tried: List[str] = []

    def from_dir(d: Path) -> Optional[ctypes.CDLL]:
        for name in library_file_names(stem):
            path = d / name
            if not path.is_file():
                tried.append(str(path))
                continue
            try:
                return ctypes.CDLL(str(path))
            except OSError as e:
                tried.append(f"{path} ({e})")
        return None

    def from_loader() -> Optional[ctypes.CDLL]:
        names = library_file_names(stem)
        found = ctypes.util.find_library(stem)
        for name in names + ([found] if found and found not in names else []):
            try:
                return ctypes.CDLL(name)
            except OSError:
                tried.append(f"{name} (system loader)")
        return None

    env = os.environ.get("CA410_LIBRARY_DIR")
    if not env:
        tried.append("CA410_LIBRARY_DIR (not set)")
    lib = (env and from_dir(Path(env))) or from_dir(_HERE) or from_loader()
    if lib is None and sys.platform != "win32":
        # Last, the library directories a CMake install to the usual
        # prefixes fills, which the loader's cache may not know yet.
        # Debian's multiarch folder (lib/x86_64-linux-gnu) first, where the
        # install puts them there.
        multiarch = sysconfig.get_config_var("MULTIARCH") or ""
        for prefix in dict.fromkeys([Path(sys.prefix), Path("/usr/local")]):
            for sub in ([f"lib/{multiarch}"] if multiarch else []) + ["lib", "lib64"]:
                lib = lib or from_dir(prefix / sub)
    if lib is None:
        raise LibraryNotFound(
            f"cannot load the {stem} library; set CA410_LIBRARY_DIR to the directory that "
            f"holds {library_file_names(stem)[0]}. Tried: " + "; ".join(tried)
        )
    return lib


class Library:
    """A loaded library whose functions get their C prototypes on first use."""

    def __init__(self, cdll: ctypes.CDLL, prototypes: Dict[str, Tuple[list, Any]]) -> None:
        self._cdll = cdll
        self._prototypes = prototypes
        self.path: str = cdll._name

    def __getattr__(self, name: str) -> Any:
        args, restype = self._prototypes[name]
        try:
            fn = getattr(self._cdll, name)
        except AttributeError:
            raise LibraryNotFound(f"{self.path} has no function {name}: an older library?") from None
        fn.argtypes = args
        fn.restype = restype
        setattr(self, name, fn)
        return fn


_cache: Dict[str, Library] = {}
_lock = threading.Lock()


def _cached(
    stem: str,
    prototypes: Dict[str, Tuple[list, Any]],
    on_load: Optional[Callable[[Library], None]] = None,
) -> Library:
    with _lock:
        lib = _cache.get(stem)
        if lib is None:
            lib = Library(_load(stem), prototypes)
            if on_load:
                on_load(lib)  # before any other thread can use it
            _cache[stem] = lib
        return lib


# ---- the records of ca410.h -------------------------------------------------

i32 = ctypes.c_int32
u8 = ctypes.c_uint8
dbl = ctypes.c_double
DoubleP = ctypes.POINTER(ctypes.c_double)


class CallistEntry(ctypes.Structure):
    pass


CallistEntry._fields_ = [
    ("channel", i32),
    ("name", ctypes.c_char * 11),
    ("next", ctypes.POINTER(CallistEntry)),
]


class Dev(ctypes.Structure):
    # The doubles sit at 8-byte offsets on every target, which this order
    # gives with ctypes' own alignment too.
    _fields_ = [
        ("init", i32),
        ("sercom", ctypes.c_void_p),
        ("model", ctypes.c_char * 16),
        ("name", ctypes.c_char * 16),
        ("sn", ctypes.c_char * 16),
        ("vn", ctypes.c_char * 16),
        ("display_mode", u8),
        ("sync_mode", u8),
        ("lum_unit", u8),
        ("probe_display", u8),
        ("probe_output", u8),
        ("measure_speed", u8),
        ("color_range", u8),
        ("flicker_range", u8),
        ("color_range_mode", u8),
        ("flicker_range_mode", u8),
        ("trigger_mode", u8),
        ("trigger_delay", u8),
        ("zero_calibration_status", u8),
        ("simultaneous_measure", u8),
        ("temperature_shift", dbl),
        ("manual_mode_measure_time", dbl),
        ("internal_freq", dbl),
        ("calmode", u8),
        ("current_channel", u8),
        ("calfile_num", u8),
        ("callist", ctypes.POINTER(CallistEntry)),
    ]


_calfile_fields = [("channel", i32), ("name", ctypes.c_char * 11), ("cal_type", i32)]
if ctypes.alignment(ctypes.c_double) < 8:
    # i386 System V aligns doubles to 4; the header pins them at 8.
    _calfile_fields.append(("_pad", i32))
_calfile_fields += [("target", (dbl * 3) * 4), ("measure", (dbl * 3) * 4)]


class Calfile(ctypes.Structure):
    _fields_ = _calfile_fields


class DevStat(ctypes.Structure):
    _fields_ = [("cal_ch", i32), ("meas_speed", i32), ("zero_cal", i32)]


class DevInfo(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char * 32), ("sn", ctypes.c_char * 32), ("vn", ctypes.c_char * 32)]


class Failure(ctypes.Structure):
    _fields_ = [
        ("cause", i32),
        ("instrument_error", i32),
        ("system_error", ctypes.c_uint32),
        ("port", ctypes.c_char * 64),
        ("text", ctypes.c_char * 192),
    ]


class PortRecord(ctypes.Structure):
    _fields_ = [
        ("name", ctypes.c_char * 128),
        ("description", ctypes.c_char * 128),
        ("manufacturer", ctypes.c_char * 64),
        ("serial_number", ctypes.c_char * 64),
        ("usb_vendor_id", ctypes.c_uint16),
        ("usb_product_id", ctypes.c_uint16),
    ]


assert ctypes.sizeof(Calfile) == 216 and ctypes.sizeof(DevInfo) == 96
assert ctypes.sizeof(Failure) == 268 and ctypes.sizeof(PortRecord) == 388
assert ctypes.sizeof(Dev) == (136 if ctypes.sizeof(ctypes.c_void_p) == 8 else 120)

DevP = ctypes.POINTER(Dev)
EntryP = ctypes.POINTER(CallistEntry)

# The 19 functions of ca410.h: name, argument types.
_INSTRUMENT = {
    "ca410DeviceOpen": [ctypes.POINTER(DevP), ctypes.c_char_p, i32],
    "ca410DeviceRelease": [DevP],
    "ca410DeviceInit": [DevP],
    "ca410DeviceReset": [DevP],
    "ca410GetDeviceInfo": [DevP, ctypes.POINTER(DevInfo)],
    "ca410GetDeviceStat": [DevP, ctypes.POINTER(DevStat)],
    "ca410SetChannel": [DevP, i32],
    "ca410SetMeasureSpeed": [DevP, i32],
    "ca410BlackCalibration": [DevP],
    "ca410MeasureXYZ": [DevP, DoubleP],
    "ca410GetCallist": [DevP, ctypes.POINTER(EntryP), ctypes.POINTER(i32)],
    "ca410DeleteCallist": [ctypes.POINTER(EntryP)],
    "ca410GetCalfile": [DevP, i32, ctypes.POINTER(Calfile)],
    "ca410DeleteCalfile": [DevP, i32],
    "ca410WRGBCalibWhite": [DevP, DoubleP, DoubleP],
    "ca410WRGBCalibRed": [DevP, DoubleP, DoubleP],
    "ca410WRGBCalibGreen": [DevP, DoubleP, DoubleP],
    "ca410WRGBCalibBlue": [DevP, DoubleP, DoubleP],
    "ca410WRGBCalibEnd": [DevP, i32, ctypes.c_char_p, i32, i32, i32, i32],
}

# The host support of ca410_host.h.
_PortList = [ctypes.POINTER(PortRecord), i32, ctypes.POINTER(i32)]
_HOST: Dict[str, Tuple[list, Any]] = {
    "ca410_version": ([], ctypes.c_char_p),
    "ca410_result_name": ([i32], ctypes.c_char_p),
    "ca410_result_meaning": ([i32], ctypes.c_char_p),
    "ca410_result_codes": ([ctypes.POINTER(i32), i32], i32),
    "ca410_set_log_handler": ([LogHandler, ctypes.c_void_p], i32),
    "ca410_last_failure": ([ctypes.POINTER(Failure)], i32),
    "ca410_cause_text": ([i32], ctypes.c_char_p),
    "ca410_list_ports": (_PortList, i32),
    "ca410_scan_ports": (_PortList, i32),
}


# ---- the records of ca410_colour.h ------------------------------------------


class Chromaticity(ctypes.Structure):
    _fields_ = [("x", dbl), ("y", dbl), ("u_prime", dbl), ("v_prime", dbl)]


class CurveParams(ctypes.Structure):
    _fields_ = [("gamma", dbl), ("white_cd_m2", dbl), ("black_cd_m2", dbl)]


_COLOUR = {
    "ca410ColourChromaticity": [DoubleP, ctypes.POINTER(Chromaticity)],
    "ca410ColourCCT": [DoubleP, DoubleP, DoubleP],
    "ca410ColourSpectrumToXYZ": [i32, dbl, dbl, DoubleP, i32, DoubleP],
    "ca410ColourTriangleArea": [DoubleP, DoubleP],
    "ca410ColourGamutAreaRatio": [DoubleP, DoubleP, DoubleP],
    "ca410ColourGamutCoverage": [DoubleP, DoubleP, DoubleP],
    "ca410ColourReferenceGamut": [i32, DoubleP, DoubleP],
    "ca410ColourSpectralLocus": [i32, DoubleP, DoubleP, i32, ctypes.POINTER(i32)],
    "ca410ColourXYZToLab": [DoubleP, DoubleP, DoubleP],
    "ca410ColourLabToXYZ": [DoubleP, DoubleP, DoubleP],
    "ca410ColourXYZToLuv": [DoubleP, DoubleP, DoubleP],
    "ca410ColourLuvToXYZ": [DoubleP, DoubleP, DoubleP],
    "ca410ColourToLCh": [DoubleP, DoubleP],
    "ca410ColourFromLCh": [DoubleP, DoubleP],
    "ca410ColourConvertArray": [i32, DoubleP, DoubleP, DoubleP, i32],
    "ca410ColourDeltaE": [i32, DoubleP, DoubleP, DoubleP],
    "ca410ColourDeltaEArray": [i32, DoubleP, DoubleP, DoubleP, i32],
    "ca410ColourEOTF": [i32, ctypes.POINTER(CurveParams), DoubleP, DoubleP, i32],
    "ca410ColourInverseEOTF": [i32, ctypes.POINTER(CurveParams), DoubleP, DoubleP, i32],
    "ca410ColourPointGamma": [DoubleP, DoubleP, i32, DoubleP],
    "ca410ColourFitGamma": [DoubleP, DoubleP, i32, DoubleP],
    "ca410ColourContrastRatio": [dbl, dbl, DoubleP],
}


def _returning_i32(table: Dict[str, list]) -> Dict[str, Tuple[list, Any]]:
    return {name: (args, i32) for name, args in table.items()}


_COLOUR_PROTOTYPES = _returning_i32(_COLOUR)
for _name in ("ca410ColourGamutName", "ca410ColourResultName", "ca410ColourResultText"):
    _COLOUR_PROTOTYPES[_name] = ([i32], ctypes.c_char_p)
_INSTRUMENT_PROTOTYPES = {**_returning_i32(_INSTRUMENT), **_HOST}


def instrument_library() -> Library:
    """The instrument library (libca410.so / ca410.dll), loaded on first use,
    its diagnostic lines going to the logger ``ca410``."""
    return _cached("ca410", _INSTRUMENT_PROTOTYPES, install_handler)


def colour_library() -> Library:
    """The colour library (libca410_colour.so / ca410_colour.dll), loaded on first use."""
    return _cached("ca410_colour", _COLOUR_PROTOTYPES)
