"""The instrument: one CA-410 on a serial port, over the ca410 shared library."""

from __future__ import annotations

import contextlib
import ctypes
import datetime
import math
import os
import statistics
import sys
import threading
import time
from dataclasses import dataclass, fields
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple, Union

from . import _log
from . import cgats as _cgats
from . import colour as _colour
from . import patches as _patches
from ._args import integer, port_path
from ._errors import (
    CAUSE_NOT_CA410,
    Error,
    NotReadyError,
    OpenError,
    instrument_code,
    raise_instrument_error,
)
from ._lib import Calfile as _Calfile
from ._lib import DevInfo, DevP, DevStat, EntryP, Library, PortRecord, instrument_library
from ._text import field, printable

__all__ = [
    "Instrument",
    "Measurement",
    "Spread",
    "Statistics",
    "Info",
    "Settings",
    "Channel",
    "Calfile",
    "WRGB",
    "Port",
    "ports",
    "scan",
]

XYZ = Tuple[float, float, float]
PortName = Union[str, bytes, "os.PathLike[Any]"]  # and a Port
WRGB: Tuple[str, ...] = ("white", "red", "green", "blue")
"""The colours of a user calibration, in the order they are measured."""


# ---- results ---------------------------------------------------------------


@dataclass(frozen=True)
class Measurement:
    """One reading: tristimulus values X, Y, Z (Y is the luminance, cd/m² in
    the instrument's luminance unit 1), with the derived chromaticity and
    colour temperature as properties (computed by the colour library)."""

    X: float
    Y: float
    Z: float

    @property
    def xyz(self) -> XYZ:
        """(X, Y, Z)."""
        return (self.X, self.Y, self.Z)

    @property
    def x(self) -> float:
        """CIE 1931 x."""
        return _colour.xyz_to_chromaticity(self.xyz).x

    @property
    def y(self) -> float:
        """CIE 1931 y."""
        return _colour.xyz_to_chromaticity(self.xyz).y

    @property
    def u_prime(self) -> float:
        """CIE 1976 u'."""
        return _colour.xyz_to_chromaticity(self.xyz).u_prime

    @property
    def v_prime(self) -> float:
        """CIE 1976 v'."""
        return _colour.xyz_to_chromaticity(self.xyz).v_prime

    @property
    def cct(self) -> float:
        """Correlated colour temperature, kelvin."""
        return _colour.xyz_to_cct_duv(self.xyz)[0]

    @property
    def duv(self) -> float:
        """Δuv: distance from the Planckian locus in CIE 1960 (u, v), positive above it."""
        return _colour.xyz_to_cct_duv(self.xyz)[1]


@dataclass(frozen=True)
class Spread:
    """Sample standard deviation of each quantity over a series of readings
    (0.0 for a single reading; NaN for a quantity that some reading has no
    value for, e.g. the CCT of a saturated red)."""

    X: float
    Y: float
    Z: float
    x: float
    y: float
    u_prime: float
    v_prime: float
    cct: float
    duv: float


@dataclass(frozen=True)
class Statistics:
    """A series of readings, with their mean and standard deviation."""

    readings: Tuple[Measurement, ...]

    @property
    def mean(self) -> Measurement:
        """The reading of the mean X, Y, Z (its properties give the
        chromaticity of the mean colour)."""
        n = len(self.readings)
        return Measurement(*(math.fsum(getattr(r, q) for r in self.readings) / n for q in "XYZ"))

    @property
    def std(self) -> Spread:
        """Sample standard deviation of X, Y, Z, x, y, u', v', CCT and Δuv."""

        def spread(name: str) -> float:
            try:
                values = [getattr(r, name) for r in self.readings]
            except Error:
                return math.nan
            return statistics.stdev(values) if len(values) > 1 else 0.0

        return Spread(**{f.name: spread(f.name) for f in fields(Spread)})


@dataclass(frozen=True)
class Info:
    """The instrument's identity (bytes outside printable text escaped, as
    ``\\x1b``)."""

    model: str  # from the identification at open, "CA-410"
    name: str  # model name from the firmware identity
    serial: str
    version: str


@dataclass(frozen=True)
class Settings:
    """The instrument's settings as last read from it."""

    calibration_channel: int
    measure_speed: int
    zero_calibrated: bool
    display_mode: int
    sync_mode: int
    lum_unit: int
    probe_display: int
    probe_output: int
    color_range: int
    flicker_range: int
    color_range_mode: int
    flicker_range_mode: int
    trigger_mode: int
    trigger_delay_ms: int
    simultaneous_measure: int
    temperature_shift: float
    manual_mode_measure_time_ms: float
    internal_freq_hz: float
    calmode: int


@dataclass(frozen=True)
class Channel:
    """A user calibration channel: number 1 to 99 and name (escaped as
    :class:`Info`'s texts)."""

    number: int
    name: str


@dataclass(frozen=True)
class Calfile:
    """The calibration data of one channel: for each of white, red, green and
    blue (see :data:`WRGB`) the target and the measured X, Y, Z."""

    channel: int
    name: str
    cal_type: int
    targets: Tuple[XYZ, XYZ, XYZ, XYZ]
    measured: Tuple[XYZ, XYZ, XYZ, XYZ]

    def target(self, colour: str) -> XYZ:
        """The target of "white", "red", "green" or "blue"."""
        return self.targets[WRGB.index(colour)]


# ---- the instrument --------------------------------------------------------

# How long a line takes to go quiet after an abandoned exchange: the late
# answer of a measurement interrupted by Ctrl-C, say.
_QUIET_LINE_S = 0.5
_CHANNELS = (0, 99)  # 0 is the factory calibration
_USER_CHANNELS = (1, 99)
_SPEEDS = (0, 3)
_LOG_LEVELS = (0, 8)
_YEARS = (2000, 2099)
_NAME_LENGTH = 9


def _call(lib: Library, function: str, *args: object, port: Optional[bytes] = None) -> None:
    """Calls `function` (on `port`, when it uses one); on failure raises its
    exception, with the lines it logged and the library's record of why."""
    with _log.capture() as lines:
        rc = getattr(lib, function)(*args)
    if rc != 0:
        raise_instrument_error(rc, function, lines, port)


def _open_handle(lib: Library, path: bytes, log_level: int) -> DevP:
    handle = DevP()
    _call(lib, "ca410DeviceOpen", ctypes.byref(handle), path, log_level, port=path)
    return handle


def _channel_name(name: Optional[str]) -> Optional[bytes]:
    """A channel name as the instrument takes it, checked before a
    calibration drives the display through four colours."""
    if name is None or name == "":
        return None
    if not isinstance(name, str):
        raise TypeError(f"name must be a str, not {type(name).__name__}")
    if len(name) > _NAME_LENGTH or any(not " " <= c <= "~" or c == "," for c in name):
        raise ValueError(f"name {name!r}: up to {_NAME_LENGTH} printable ASCII characters "
                         "without a comma")
    return name.encode("ascii")


class Instrument:
    """One CA-410 on a serial port.

    Opening checks that a CA-410 answers (up to 2 s); use it as a context
    manager so that the port is released::

        with ca410.Instrument("/dev/ttyUSB0") as ins:
            ins.init()
            m = ins.measure()
            print(m.Y, m.x, m.y, m.cct)

    Every failure raises :class:`ca410.Error` (or one of its subclasses) with
    the library's result code and cause. A handle may be used by one thread
    at a time; calls from several threads are serialised. Integer arguments
    are checked before anything is sent: a float, a bool or a string raises
    TypeError, a number out of range ValueError.

    Args:
        port: the port as the system names it ("COM3", "/dev/ttyUSB0"): a
            str, bytes, a path, or a :class:`Port`.
        log_level: 1 to 8 sets the library's process-wide log detail (8:
            every byte on the line); 0 leaves it. The lines go to the
            logger ``ca410``.

    An open that meets something other than a CA-410's answer (often the
    late answer of an exchange abandoned by an earlier program) is tried
    once more after half a second, with a warning on the logger.
    """

    def __init__(self, port: PortName, log_level: int = 0) -> None:
        path = port_path(port)
        level = integer(log_level, "log_level", *_LOG_LEVELS)
        self._lib = instrument_library()
        self._lock = threading.Lock()
        self._dev: Optional[DevP] = None
        self._reset_since_init = False
        self._path = path
        self.port = os.fsdecode(path)
        self._dev = self._open(path, level)

    def _open(self, path: bytes, level: int) -> DevP:
        try:
            return _open_handle(self._lib, path, level)
        except OpenError as e:
            if e.cause_code != CAUSE_NOT_CA410:
                raise
            _log.logger.warning("retrying the open of %s: %s", printable(path), e.failure.text)
        time.sleep(_QUIET_LINE_S)
        return _open_handle(self._lib, path, level)

    # -- lifetime --

    def close(self) -> None:
        """Releases the port. Further calls raise :class:`ca410.NotReadyError`."""
        with self._lock:
            dev, self._dev = self._dev, None
            if dev:
                self._lib.ca410DeviceRelease(dev)

    def __enter__(self) -> "Instrument":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    def __repr__(self) -> str:
        state = "closed" if not self._dev else ("initialised" if self.initialised else "open")
        return f"<ca410.Instrument {self.port!r} {state}>"

    def _handle(self) -> DevP:
        if not self._dev:
            raise NotReadyError(instrument_code("CA_E_NOT_READY"),
                                detail="the instrument is closed")
        return self._dev

    def _run(self, function: str, *args: object) -> None:
        with self._lock:
            _call(self._lib, function, self._handle(), *args, port=self._path)

    # -- state --

    @property
    def initialised(self) -> bool:
        """True once :meth:`init` has run through (and no :meth:`reset` since)."""
        return bool(self._dev) and bool(self._dev.contents.init) and not self._reset_since_init

    @property
    def model(self) -> str:
        """The model from the identification at open ("CA-410")."""
        return field(self._handle().contents.model)

    def init(self) -> None:
        """Brings the instrument into a known state: identity, reset, zero
        calibration (the probe must be capped; up to 6 s), settings, range,
        display mode X, Y, Z."""
        self._run("ca410DeviceInit")
        self._reset_since_init = False

    def reset(self) -> None:
        """Resets the measurement settings. That puts the display mode back
        to x, y, Lv: call :meth:`init` before the next :meth:`measure`."""
        self._reset_since_init = True
        self._run("ca410DeviceReset")

    def info(self) -> Info:
        """Identity. On an instrument not initialised yet this first runs
        :meth:`init` (zero calibration included: seconds)."""
        out = DevInfo()
        self._run("ca410GetDeviceInfo", ctypes.byref(out))
        return Info(self.model, field(out.name), field(out.sn), field(out.vn))

    @property
    def settings(self) -> Settings:
        """Reads every setting from the instrument."""
        stat = DevStat()
        self._run("ca410GetDeviceStat", ctypes.byref(stat))
        d = self._handle().contents
        return Settings(
            calibration_channel=stat.cal_ch,
            measure_speed=stat.meas_speed,
            zero_calibrated=bool(stat.zero_cal),
            display_mode=d.display_mode,
            sync_mode=d.sync_mode,
            lum_unit=d.lum_unit,
            probe_display=d.probe_display,
            probe_output=d.probe_output,
            color_range=d.color_range,
            flicker_range=d.flicker_range,
            color_range_mode=d.color_range_mode,
            flicker_range_mode=d.flicker_range_mode,
            trigger_mode=d.trigger_mode,
            trigger_delay_ms=d.trigger_delay,
            simultaneous_measure=d.simultaneous_measure,
            temperature_shift=d.temperature_shift,
            manual_mode_measure_time_ms=d.manual_mode_measure_time,
            internal_freq_hz=d.internal_freq,
            calmode=d.calmode,
        )

    def zero_calibrate(self) -> None:
        """Zero calibration (the probe must be capped; up to 6 s)."""
        self._run("ca410BlackCalibration")

    def set_channel(self, channel: int) -> None:
        """Selects calibration channel 0 (factory) to 99."""
        self._run("ca410SetChannel", integer(channel, "channel", *_CHANNELS))

    def set_speed(self, speed: int) -> None:
        """Sets the measurement speed, 0 to 3 (the instrument's speeds)."""
        self._run("ca410SetMeasureSpeed", integer(speed, "speed", *_SPEEDS))

    # -- measuring --

    def measure(self) -> Measurement:
        """One reading through the current calibration channel (after
        :meth:`init`; after a :meth:`reset` too)."""
        if self._reset_since_init:
            raise NotReadyError(instrument_code("CA_E_NOT_READY"),
                                detail="reset put the display mode back; call init() first")
        xyz = (ctypes.c_double * 3)()
        self._run("ca410MeasureXYZ", xyz)
        return Measurement(xyz[0], xyz[1], xyz[2])

    def measure_many(self, n: int, interval: Optional[float] = None) -> Statistics:
        """`n` readings, `interval` seconds apart (start to start; None: one
        after the other), with their mean and standard deviation."""
        count = integer(n, "n", 1, sys.maxsize)
        readings = []
        start = time.monotonic()
        for i in range(count):
            if interval and i:
                time.sleep(max(0.0, start + i * interval - time.monotonic()))
            readings.append(self.measure())
        return Statistics(tuple(readings))

    # -- calibration channels --

    def channels(self) -> List[Channel]:
        """The user calibration channels (walks channels 1 to 99; seconds)."""
        head = EntryP()
        count = ctypes.c_int32()
        self._run("ca410GetCallist", ctypes.byref(head), ctypes.byref(count))
        try:
            out = []
            node = head
            while node:
                out.append(Channel(node.contents.channel, field(node.contents.name)))
                node = node.contents.next
            return out
        finally:
            self._lib.ca410DeleteCallist(ctypes.byref(head))

    def calfile(self, channel: int) -> Calfile:
        """The calibration data of a channel, 0 to 99."""
        raw = _Calfile()
        self._run("ca410GetCalfile", integer(channel, "channel", *_CHANNELS), ctypes.byref(raw))

        def rows(table: ctypes.Array) -> Tuple[XYZ, XYZ, XYZ, XYZ]:
            return tuple(tuple(table[i][j] for j in range(3)) for i in range(4))  # type: ignore

        return Calfile(raw.channel, field(raw.name), raw.cal_type, rows(raw.target),
                       rows(raw.measure))

    def delete_channel(self, channel: int) -> None:
        """Deletes user calibration channel 1 to 99 (the factory one, 0,
        cannot be)."""
        self._run("ca410DeleteCalfile", integer(channel, "channel", *_USER_CHANNELS))

    def calibrate(
        self,
        channel: int,
        targets: Union[Mapping[str, Sequence[float]], Sequence[Sequence[float]]],
        show: Callable[[str], None],
        name: Optional[str] = None,
        when: Optional[datetime.datetime] = None,
    ) -> Dict[str, Measurement]:
        """A whole user (WRGB) calibration into `channel` (1 to 99).

        Args:
            targets: the target X, Y, Z of white, red, green and blue: a
                mapping with those keys, or four triples in that order.
            show: called with "white", "red", "green", "blue" before each is
                measured; it must make the display show that colour and
                return once it does.
            name: the channel's name: up to 9 printable ASCII characters
                without a comma (None or "": "CHnn").
            when: the date stored with it, a year from 2000 to 2099
                (default: now).

        Every argument is checked before the display is driven.

        Returns:
            What the instrument measured of each colour.
        """
        target_arrays = _target_arrays(targets)
        number = integer(channel, "channel", *_USER_CHANNELS)
        raw_name = _channel_name(name)
        when = datetime.datetime.now() if when is None else when
        if not isinstance(when, datetime.datetime):
            raise TypeError(f"when must be a datetime.datetime, not {type(when).__name__}")
        year = integer(when.year, "year", *_YEARS)
        measured: Dict[str, Measurement] = {}
        for colour, target in zip(WRGB, target_arrays):
            show(colour)
            out = (ctypes.c_double * 3)()
            self._run(f"ca410WRGBCalib{colour.capitalize()}", target, out)
            measured[colour] = Measurement(out[0], out[1], out[2])
        self._run("ca410WRGBCalibEnd", number, raw_name, year, when.month, when.day, when.hour)
        return measured

    def sequence(
        self,
        patches: Union[str, "os.PathLike[str]", Sequence[Any]],
        show: Callable[[_patches.Patch], None],
        settle: float = 0.2,
        repeat: int = 1,
        out: Optional[Union[str, "os.PathLike[str]"]] = None,
        format: Optional[str] = None,
        descriptor: str = "",
    ) -> Any:
        """Shows and measures a patch sequence, as ``ca410 sequence`` does.

        Args:
            patches: a built-in set's name ("grey:11", "primaries",
                "checker", "full") or a patch file (:func:`ca410.patches.load`),
                a list of :class:`ca410.patches.Patch`, or (r, g, b) drive
                levels 0 to 1 (ids "1", "2", ...).
            show: called with each :class:`ca410.patches.Patch` before it is
                measured; it must return once the display shows it.
            settle: seconds to wait after ``show`` before the first reading.
            repeat: readings per patch (1 to 1000); their mean and sample
                standard deviation are kept.
            out: a measurement file written patch by patch through
                :class:`ca410.cgats.Writer`, each row flushed: an interrupted
                run keeps every finished patch. Its format is `format`
                ("cgats", "csv", "json") or else told by the extension (.ti3,
                .cgats, .txt, .csv, .json, .jsonl). CREATED follows
                SOURCE_DATE_EPOCH when set.
            descriptor: the file's DESCRIPTOR.

        Initialises the instrument first unless it is (zero calibration:
        cap the probe). Every argument is checked before the display is
        driven.

        Returns:
            One row per patch with the columns id, name, R, G, B (drive
            levels), X, Y, Z (the mean), sd_X, sd_Y, sd_Z and n: a
            ``pandas.DataFrame`` when pandas is installed, else a list of
            dicts.
        """
        patch_list, patch_set = _sequence_patches(patches)
        count = integer(repeat, "repeat", 1, 1000)
        wait = float(settle)
        if not 0.0 <= wait <= 600.0:
            raise ValueError(f"settle {settle!r}: 0 to 600 seconds")
        fmt = None if out is None else format or _format_of(out)
        if not self.initialised:
            self.init()
        writer = None
        if out is not None:
            header = _cgats.Header(created=_created(), instrumentation=self._instrumentation(),
                                   descriptor=descriptor, patch_set=patch_set)
            writer = _cgats.Writer(out, fmt, header, patch_list)
        with writer or contextlib.nullcontext():
            readings = [self._patch_reading(p, show, wait, count, writer) for p in patch_list]
        return _table(_cgats.MeasurementFile("", _cgats.Header(), readings).to_records())

    def _patch_reading(self, patch: _patches.Patch, show: Callable[[_patches.Patch], None],
                       settle: float, repeat: int,
                       writer: Optional[_cgats.Writer]) -> _cgats.Reading:
        show(patch)
        time.sleep(settle)
        readings = [self.measure().xyz for _ in range(repeat)]
        columns = list(zip(*readings))
        reading = _cgats.Reading(
            patch.id, patch.name, tuple(patch.rgb),
            tuple(math.fsum(c) / repeat for c in columns),  # type: ignore[arg-type]
            tuple(statistics.stdev(c) if repeat > 1 else 0.0 for c in columns),  # type: ignore
            repeat)
        if writer is not None:
            writer.append(reading)
        return reading

    def _instrumentation(self) -> str:
        """INSTRUMENTATION as the tool writes it: "CA-410 SIM S/N 41000001"."""
        info = self.info()
        name = (info.name or self.model).rstrip(" ")
        return f"{name} S/N {info.serial}".replace('"', "\\x22")


# Measurement file formats by extension, as the tool tells them.
_FORMATS = {".ti3": "cgats", ".cgats": "cgats", ".txt": "cgats", ".csv": "csv", ".json": "json",
            ".jsonl": "json"}


def _format_of(path: Union[str, "os.PathLike[str]"]) -> str:
    extension = os.path.splitext(os.fspath(path))[1].lower()
    if extension not in _FORMATS:
        raise ValueError(f"{os.fspath(path)!r}: the extension tells no format "
                         f"({', '.join(_FORMATS)}): give format=")
    return _FORMATS[extension]


def _created() -> str:
    """CREATED from SOURCE_DATE_EPOCH (so that runs compare byte for byte),
    else empty: the writer puts in now."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch:
        return ""
    if not epoch.isdigit():
        raise ValueError(f"SOURCE_DATE_EPOCH is {epoch!r}, not a number of seconds since 1970")
    when = datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc)
    return when.strftime("%Y-%m-%dT%H:%M:%SZ")


def _sequence_patches(patches: Any) -> Tuple[List[_patches.Patch], str]:
    """The patch list and its PATCH_SET."""
    if isinstance(patches, (str, os.PathLike)):
        name = os.fspath(patches)
        return _patches.load(name), name if _patches.is_builtin(name) else os.path.basename(name)
    out = []
    for i, p in enumerate(patches, 1):
        if not isinstance(p, _patches.Patch):
            levels = tuple(float(v) for v in p)
            if len(levels) != 3 or not all(0.0 <= v <= 1.0 for v in levels):
                raise ValueError(f"patch {i}: {p!r} is not three drive levels 0 to 1")
            p = _patches.Patch(str(i), "", levels)  # type: ignore[arg-type]
        out.append(p)
    if not out:
        raise ValueError("no patches")
    return out, "custom"


def _table(records: List[dict]) -> Any:
    try:
        import pandas
    except ImportError:
        return records
    return pandas.DataFrame(records)


def _target_arrays(
    targets: Union[Mapping[str, Sequence[float]], Sequence[Sequence[float]]]
) -> List["ctypes.Array[ctypes.c_double]"]:
    if isinstance(targets, Mapping):
        missing = [c for c in WRGB if c not in targets]
        if missing:
            raise ValueError(f"targets lack {', '.join(missing)}")
        rows = [targets[c] for c in WRGB]
    else:
        rows = list(targets)
        if len(rows) != 4:
            raise ValueError("targets: four X, Y, Z triples (white, red, green, blue)")
    arrays = []
    for colour, row in zip(WRGB, rows):
        values = [float(v) for v in row]
        if len(values) != 3:
            raise ValueError(f"the {colour} target is not X, Y, Z")
        arrays.append((ctypes.c_double * 3)(*values))
    return arrays


# ---- discovery -------------------------------------------------------------


@dataclass(frozen=True)
class Port:
    """A serial port and what the system knows of it (texts empty, ids 0,
    when unknown). ``str(port)`` is its name, and a Port opens as its name:
    ``ca410.Instrument(port)``."""

    name: str  # what Instrument() takes: "COM3", "/dev/ttyUSB0"
    description: str = ""  # the device's product name, or the system's name for it
    manufacturer: str = ""  # the USB device's maker
    serial_number: str = ""  # the USB device's serial number
    usb_vendor_id: int = 0
    usb_product_id: int = 0

    def __str__(self) -> str:
        return printable(os.fsencode(self.name))

    def __fspath__(self) -> str:
        return self.name

    @classmethod
    def _from_record(cls, r: PortRecord) -> "Port":
        return cls(os.fsdecode(r.name), field(r.description), field(r.manufacturer),
                   field(r.serial_number), r.usb_vendor_id, r.usb_product_id)


def _port_list(function: str) -> List[Port]:
    lib = instrument_library()
    count = ctypes.c_int32()
    records = (PortRecord * 64)()
    while True:  # again with room for all, should more ports have come
        _call(lib, function, records, len(records), ctypes.byref(count))
        if count.value <= len(records):
            return [Port._from_record(r) for r in records[: count.value]]
        records = (PortRecord * count.value)()


def ports() -> List[Port]:
    """The machine's serial ports as the library lists them, in the system's
    order (natural order of the device paths on Linux and macOS; the
    registry's on Windows)."""
    return _port_list("ca410_list_ports")


def _answers(lib: Library, path: bytes) -> bool:
    try:
        lib.ca410DeviceRelease(_open_handle(lib, path, 0))
    except Error:
        return False
    return True


def scan(candidates: Optional[Sequence[PortName]] = None) -> List[Port]:
    """The ports where a CA-410 answers.

    Probes each of `candidates` (default: every port :func:`ports` lists)
    in turn, up to 2 s each; ports that fail to open or do not answer are
    left out, and the library's lines about them go to the logger ``ca410``
    at DEBUG. A candidate that is not listed comes back as a :class:`Port`
    with its name only.
    """
    with _log.quiet():
        if candidates is None:
            return _port_list("ca410_scan_ports")
        lib = instrument_library()
        listed = {p.name: p for p in ports()}
        paths = [port_path(c) for c in candidates]
        return [listed.get(os.fsdecode(p)) or Port(os.fsdecode(p)) for p in paths
                if _answers(lib, p)]
