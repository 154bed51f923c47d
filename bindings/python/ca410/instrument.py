"""The instrument: one CA-410 on a serial port, over the ca410 shared library."""

from __future__ import annotations

import ctypes
import datetime
import glob
import math
import os
import re
import statistics
import sys
import threading
import time
from dataclasses import dataclass, fields
from typing import Callable, Dict, List, Mapping, Optional, Sequence, Tuple, Union

from . import colour as _colour
from ._errors import Error
from ._lib import Calfile as _Calfile
from ._lib import DevInfo, DevP, DevStat, EntryP, instrument_library

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
    "ports",
    "scan",
]

XYZ = Tuple[float, float, float]
WRGB: Tuple[str, ...] = ("white", "red", "green", "blue")
"""The colours of a user calibration, in the order they are measured."""


def _text(raw: bytes) -> str:
    return raw.split(b"\0", 1)[0].decode("ascii", "replace")


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
    """The instrument's identity."""

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
    """A user calibration channel: number 1 to 99 and name."""

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


class Instrument:
    """One CA-410 on a serial port.

    Opening checks that a CA-410 answers (up to 2 s); use it as a context
    manager so that the port is released::

        with ca410.Instrument("/dev/ttyUSB0") as ins:
            ins.init()
            m = ins.measure()
            print(m.Y, m.x, m.y, m.cct)

    Every failure raises :class:`ca410.Error` with the library's result code.
    A handle may be used by one thread at a time; calls from several threads
    are serialised.

    Args:
        port: the port as the system names it ("COM3", "/dev/ttyUSB0").
        log_level: 1 to 8 sets the library's process-wide log detail on
            standard error (8: every byte on the line); 0 leaves it.
    """

    def __init__(self, port: Union[str, "os.PathLike[str]"], log_level: int = 0) -> None:
        self._lib = instrument_library()
        self._lock = threading.Lock()
        self._dev: Optional[DevP] = None
        self.port = os.fspath(port)
        handle = DevP()
        self._call("ca410DeviceOpen", ctypes.byref(handle), self.port.encode(), int(log_level),
                   detail=f"port {self.port}")
        self._dev = handle

    # -- lifetime --

    def close(self) -> None:
        """Releases the port. Further calls raise CA_E_NOT_READY."""
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

    def _call(self, function: str, *args: object, detail: Optional[str] = None) -> None:
        rc = getattr(self._lib, function)(*args)
        if rc != 0:
            raise Error(rc, function, detail=detail)

    def _handle(self) -> DevP:
        if not self._dev:
            raise Error(50, detail="the instrument is closed")  # CA_E_NOT_READY
        return self._dev

    def _run(self, function: str, *args: object) -> None:
        with self._lock:
            self._call(function, self._handle(), *args)

    # -- state --

    @property
    def initialised(self) -> bool:
        """True once :meth:`init` has run through."""
        return bool(self._dev) and bool(self._dev.contents.init)

    @property
    def model(self) -> str:
        """The model from the identification at open ("CA-410")."""
        return _text(self._handle().contents.model)

    def init(self) -> None:
        """Brings the instrument into a known state: identity, reset, zero
        calibration (the probe must be capped; up to 6 s), settings, range,
        display mode X, Y, Z."""
        self._run("ca410DeviceInit")

    def reset(self) -> None:
        """Resets the measurement settings."""
        self._run("ca410DeviceReset")

    @property
    def info(self) -> Info:
        """Identity. On an instrument not initialised yet this first runs
        :meth:`init` (zero calibration included)."""
        out = DevInfo()
        self._run("ca410GetDeviceInfo", ctypes.byref(out))
        return Info(self.model, _text(out.name), _text(out.sn), _text(out.vn))

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
        self._run("ca410SetChannel", int(channel))

    def set_speed(self, speed: int) -> None:
        """Sets the measurement speed, 0 to 3 (the instrument's speeds)."""
        self._run("ca410SetMeasureSpeed", int(speed))

    # -- measuring --

    def measure(self) -> Measurement:
        """One reading through the current calibration channel (after
        :meth:`init`)."""
        xyz = (ctypes.c_double * 3)()
        self._run("ca410MeasureXYZ", xyz)
        return Measurement(xyz[0], xyz[1], xyz[2])

    def measure_many(self, n: int, interval: Optional[float] = None) -> Statistics:
        """`n` readings, `interval` seconds apart (start to start; None: one
        after the other), with their mean and standard deviation."""
        if n < 1:
            raise ValueError("n must be at least 1")
        readings = []
        start = time.monotonic()
        for i in range(n):
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
                out.append(Channel(node.contents.channel, _text(node.contents.name)))
                node = node.contents.next
            return out
        finally:
            self._lib.ca410DeleteCallist(ctypes.byref(head))

    def calfile(self, channel: int) -> Calfile:
        """The calibration data of a channel, 0 to 99."""
        raw = _Calfile()
        self._run("ca410GetCalfile", int(channel), ctypes.byref(raw))

        def rows(table: ctypes.Array) -> Tuple[XYZ, XYZ, XYZ, XYZ]:
            return tuple(tuple(table[i][j] for j in range(3)) for i in range(4))  # type: ignore

        return Calfile(raw.channel, _text(raw.name), raw.cal_type, rows(raw.target),
                       rows(raw.measure))

    def delete_channel(self, channel: int) -> None:
        """Deletes a user calibration channel."""
        self._run("ca410DeleteCalfile", int(channel))

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
            name: the channel's name (up to 9 characters; None: "CHnn").
            when: the date stored with it (default: now).

        Returns:
            What the instrument measured of each colour.
        """
        if isinstance(targets, Mapping):
            missing = [c for c in WRGB if c not in targets]
            if missing:
                raise ValueError(f"targets lack {', '.join(missing)}")
            rows = [targets[c] for c in WRGB]
        else:
            rows = list(targets)
            if len(rows) != 4:
                raise ValueError("targets: four X, Y, Z triples (white, red, green, blue)")
        target_arrays = []
        for colour, row in zip(WRGB, rows):
            values = [float(v) for v in row]
            if len(values) != 3:
                raise ValueError(f"the {colour} target is not X, Y, Z")
            target_arrays.append((ctypes.c_double * 3)(*values))
        if not 1 <= int(channel) <= 99:
            # Checked before the display is driven through four colours.
            raise Error(37, "ca410WRGBCalibEnd", detail=f"channel {channel} is not 1 to 99")
        when = when or datetime.datetime.now()
        measured: Dict[str, Measurement] = {}
        for colour, target in zip(WRGB, target_arrays):
            show(colour)
            out = (ctypes.c_double * 3)()
            self._run(f"ca410WRGBCalib{colour.capitalize()}", target, out)
            measured[colour] = Measurement(out[0], out[1], out[2])
        self._run(
            "ca410WRGBCalibEnd",
            int(channel),
            name.encode() if name else None,
            when.year,
            when.month,
            when.day,
            when.hour,
        )
        return measured


# ---- discovery -------------------------------------------------------------


def _natural_key(text: str) -> List[Union[int, str]]:
    return [int(p) if p.isdigit() else p for p in re.split(r"(\d+)", text)]


def _uart_behind(name: str) -> bool:
    # The kernel makes ttyS0..ttyS31 whether or not a UART answers there;
    # only those with a known port type are real.
    base = f"/sys/class/tty/{name}"
    try:
        with open(f"{base}/type") as f:
            return int(f.read().strip() or "0") != 0
    except (OSError, ValueError):
        return os.path.exists(f"{base}/device/driver")


def ports() -> List[str]:
    """The machine's serial ports, in natural order: COM names on Windows,
    device paths elsewhere (USB and ACM adapters, and the built-in UARTs that
    have hardware behind them)."""
    if sys.platform == "win32":
        import winreg

        found = []
        try:
            key = winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE, r"HARDWARE\DEVICEMAP\SERIALCOMM")
        except OSError:
            return []
        with key:
            i = 0
            while True:
                try:
                    found.append(str(winreg.EnumValue(key, i)[1]))
                except OSError:
                    break
                i += 1
        return sorted(found, key=_natural_key)
    if sys.platform == "darwin":
        return sorted(glob.glob("/dev/cu.*"), key=_natural_key)
    found = []
    pattern = re.compile(r"^(ttyUSB|ttyACM|ttyAMA|rfcomm)\d+$")
    for path in glob.glob("/dev/tty*") + glob.glob("/dev/rfcomm*"):
        name = os.path.basename(path)
        if pattern.match(name) or (re.match(r"^ttyS\d+$", name) and _uart_behind(name)):
            found.append(path)
    return sorted(set(found), key=_natural_key)


def scan(candidates: Optional[Sequence[str]] = None) -> List[Tuple[str, str]]:
    """The ports where a CA-410 answers: ``(port, model)`` for each.

    Opens each of `candidates` (default: :func:`ports`) in turn, up to 2 s
    each; ports that fail to open or do not answer are left out (the library
    logs why on standard error).
    """
    found = []
    for port in ports() if candidates is None else candidates:
        try:
            with Instrument(port) as ins:
                found.append((port, ins.model))
        except Error:
            continue
    return found
