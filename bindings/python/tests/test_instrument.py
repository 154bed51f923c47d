"""Instrument calls against the virtual instrument, and the error model."""

import math
import re
import subprocess
import sys
import time

import pytest
from conftest import LEVELS, REPO

import ca410
from ca410 import Measurement, Result, Statistics


def test_open_init_identity_settings_and_measurements(sim, ins):
    assert ins.initialised and ins.model == "CA-410"
    i, s = ins.info, ins.settings
    assert (i.model, i.name) == ("CA-410", "CA-410 SIM") and i.serial and i.version
    assert s.display_mode == 7 and s.zero_calibrated and s.calibration_channel == 0
    ins.set_speed(2)
    assert ins.settings.measure_speed == 2
    # The simulated display: sRGB primaries, white of Y = 100.
    for colour, xy in [("red", (0.64, 0.33)), ("green", (0.30, 0.60)), ("blue", (0.15, 0.06)),
                       ("white", (0.3127, 0.3290))]:
        emitted = sim.show(*LEVELS[colour])
        m = ins.measure()
        assert m.xyz == pytest.approx(emitted, abs=1e-6)
        assert (m.x, m.y) == pytest.approx(xy, abs=2e-4)
    assert m.cct == pytest.approx(6504, abs=3) and m.duv == pytest.approx(0.0032, abs=2e-4)


def test_statistics(ins):
    start = time.monotonic()
    series = ins.measure_many(3, interval=0.1)
    assert time.monotonic() - start >= 0.2
    assert len(series.readings) == 3 and series.std.Y == 0.0
    two = Statistics((Measurement(1.0, 2.0, 3.0), Measurement(3.0, 2.0, 1.0)))  # x: 1/6 and 1/2
    assert two.mean == Measurement(2.0, 2.0, 2.0)
    assert (two.std.X, two.std.Y, two.std.Z) == pytest.approx((math.sqrt(2), 0.0, math.sqrt(2)))
    assert two.std.x == pytest.approx((1 / 2 - 1 / 6) / math.sqrt(2))
    # A saturated blue has no CCT: its spread is NaN, not an exception.
    blue = Statistics((Measurement(18.05, 7.22, 95.05),) * 2)
    assert blue.std.x == 0.0 and math.isnan(blue.std.cct)


def test_whole_calibration_channels_and_calfile(sim, ins):
    targets = {"white": (96.0, 100.0, 110.0), "red": (42.0, 21.5, 2.0),
               "green": (36.0, 72.0, 12.0), "blue": (18.0, 7.3, 96.0)}
    shown = []
    measured = ins.calibrate(7, targets, lambda c: shown.append(c) or sim.show(*LEVELS[c]),
                             name="python")
    assert shown == list(ca410.WRGB) and measured["red"].x == pytest.approx(0.64, abs=2e-4)
    assert ca410.Channel(7, "python") in ins.channels()
    cal = ins.calfile(7)
    assert (cal.channel, cal.name) == (7, "python")
    assert cal.target("green") == pytest.approx(targets["green"])
    assert cal.measured[0] == pytest.approx(measured["white"].xyz)
    ins.set_channel(7)  # white through the new channel gives its target
    sim.show(*LEVELS["white"])
    assert ins.measure().xyz == pytest.approx(targets["white"], rel=1e-4)
    ins.set_channel(0)
    ins.delete_channel(7)
    assert all(c.number != 7 for c in ins.channels())


def expect_error(code, call):
    with pytest.raises(ca410.Error) as info:
        call()
    e = info.value
    assert e.code == code and e.name == Result(code).name
    assert e.meaning and e.name in str(e) and e.meaning in str(e)
    return e


def test_scan_and_errors_raised_with_their_codes(sim, tmp_path):
    assert ca410.scan([str(tmp_path / "none"), sim.port]) == [(sim.port, "CA-410")]
    assert all(isinstance(p, str) for p in ca410.ports())
    e = expect_error(Result.CA_E_OPEN, lambda: ca410.Instrument(tmp_path / "no-such-port"))
    assert e.function == "ca410DeviceOpen" and "no-such-port" in str(e)
    with ca410.Instrument(sim.port) as ins:
        expect_error(Result.CA_E_NOT_READY, ins.measure)  # before init, nothing sent
        ins.init()
        expect_error(Result.CA_E_ARGS, lambda: ins.set_channel(100))
        expect_error(Result.CA_E_ARGS, lambda: ins.calibrate(0, [(1, 1, 1)] * 4, print))
        # Silent: the exchange times out; a measurement has its own code whatever the cause.
        sim.control("fault silent-next 1")
        expect_error(Result.CA_E_TIMEOUT, lambda: ins.set_channel(1))
        sim.control("fault silent-next 2")
        expect_error(Result.CA_E_MEASURE, ins.measure)
    expect_error(Result.CA_E_NOT_READY, ins.measure)  # closed


@pytest.mark.parametrize("header, table, prefix", [
    ("ca410.h", ca410._errors.INSTRUMENT_CODES, "CA_"),
    ("ca410_colour.h", ca410._errors.COLOUR_CODES, "CA_COLOUR_")])
def test_result_codes_are_the_headers(header, table, prefix):
    text = (REPO / "include" / header).read_text()
    listed = {int(code): name for name, code in re.findall(rf"({prefix}\w+) = (\d+)", text)}
    assert {code: name for code, (name, _) in table.items()} == listed
    if header == "ca410.h":  # the instrument's meanings are the comments, word for word
        for code, (name, meaning) in table.items():
            assert re.search(rf"{name} = {code},?\s*/\* {re.escape(meaning)} \*/", text), name


def test_a_missing_library_names_the_places_tried(tmp_path):
    script = "import ca410\ntry: ca410.Instrument('x')\nexcept ca410.LibraryNotFound as e: print(e)"
    env = {"CA410_LIBRARY_DIR": str(tmp_path), "PATH": "/usr/bin:/bin",
           "PYTHONPATH": str(REPO / "bindings" / "python")}
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                         text=True, check=True).stdout
    if not out:
        pytest.skip("SKIPPED: the system's loader finds an installed libca410")
    assert str(tmp_path / "libca410.so") in out and "system loader" in out
