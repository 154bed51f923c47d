"""The package against the virtual instrument (CA410_SIM names the ca410-sim
program, CA410_LIBRARY_DIR the built libraries' directory): instrument calls
and the error model; ca410.colour against figures worked out here, on every
input shape; the command-line tool's gamut figures (CA410_CLI names it); the
xy diagram."""

import logging
import math
import os
import re
import struct
import subprocess
import sys
import time
from datetime import datetime
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # this checkout's package

import ca410  # noqa: E402
from ca410 import Measurement, Result, Statistics, colour  # noqa: E402
from ca410.sim import VirtualInstrument  # noqa: E402

try:
    import numpy
except ImportError:  # the package works without it; these cases do not
    numpy = None

REPO = Path(__file__).resolve().parents[3]
FAST = ["--zrc-ms", "20", "--measure-ms", "5"]
LEVELS = {"white": (1, 1, 1), "red": (1, 0, 0), "green": (0, 1, 0), "blue": (0, 0, 1)}


def program(variable, what):
    path = os.environ.get(variable)
    if not path or not Path(path).is_file():
        pytest.skip(f"SKIPPED: {variable} does not name the {what} ({path!r})")
    return path


@pytest.fixture(scope="session")
def sim_program():
    return program("CA410_SIM", "ca410-sim program")


@pytest.fixture
def sim(sim_program):
    with VirtualInstrument(sim_program, FAST) as s:
        yield s


@pytest.fixture
def ins(sim):
    with ca410.Instrument(sim.port) as i:
        i.init()
        yield i


def test_open_init_identity_settings_and_measurements(sim, ins):
    assert ins.initialised and ins.model == "CA-410"
    i, s = ins.info(), ins.settings
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


def expect_error(code, call, kind=ca410.Error):
    with pytest.raises(kind) as info:
        call()
    e = info.value
    assert e.code == code and e.name == Result(code).name
    assert e.meaning and e.name in str(e) and e.meaning in str(e)
    return e


def test_errors_raised_with_their_codes_classes_and_causes(sim, tmp_path):
    e = expect_error(Result.CA_E_OPEN, lambda: ca410.Instrument(tmp_path / "no-such-port"),
                     ca410.OpenError)
    assert (e.function, e.cause, e.port) == ("ca410DeviceOpen", "no such port",
                                             str(tmp_path / "no-such-port"))
    assert f"no such port: system error 2 ({e.port})" in str(e) and e.log_lines
    sim.control("fault silent-next 1")
    e = expect_error(Result.CA_E_OPEN, lambda: ca410.Instrument(sim.port), ca410.OpenError)
    assert e.cause == "no answer"
    with ca410.Instrument(sim.port) as ins:
        expect_error(Result.CA_E_NOT_READY, ins.measure, ca410.NotReadyError)  # nothing sent
        ins.init()
        # Silent: the exchange times out; a measurement has its own code whatever the cause.
        sim.control("fault silent-next 1")
        e = expect_error(Result.CA_E_TIMEOUT, lambda: ins.set_channel(1), TimeoutError)
        assert isinstance(e, ca410.TimeoutError) and e.cause == "no answer"
        sim.control("fault error-next 10")
        e = expect_error(Result.CA_E_INVALID_COMMAND, lambda: ins.set_channel(1),
                         ca410.InstrumentError)
        assert e.instrument_error == 10 and "[ER10]" in "".join(e.log_lines)
        sim.control("fault silent-next 2")
        expect_error(Result.CA_E_MEASURE, ins.measure)
    expect_error(Result.CA_E_NOT_READY, ins.measure, ca410.NotReadyError)  # closed


@pytest.mark.parametrize("header, enum, prefix", [
    ("ca410.h", "Result", "CA_"), ("ca410_colour.h", "ColourResult", "CA_COLOUR_")])
def test_result_codes_from_the_libraries_are_the_headers(header, enum, prefix):
    text = (REPO / "include" / header).read_text()
    listed = {name: int(code) for name, code in re.findall(rf"X\(({prefix}\w+), (\d+)", text)}
    assert {m.name: m.value for m in getattr(ca410, enum)} == listed


def test_library_lines_go_to_the_logger_only(sim, caplog, capfd):
    caplog.set_level(logging.DEBUG, "ca410")
    with ca410.Instrument(sim.port, log_level=4) as chatty:  # 4: a measurement's values
        chatty.init()
        caplog.clear()
        chatty.measure()
        sim.control("fault error-next 10")
        with pytest.raises(ca410.InstrumentError) as e:
            chatty.set_speed(1)
    levels = {(r.levelno, r.ca410_level) for r in caplog.records}
    ca410.Instrument(sim.port, log_level=1).close()  # the lowest level that can be set again
    assert levels == {(logging.DEBUG, 4), (logging.INFO, -1)}
    assert [r.message for r in caplog.records if r.levelno == logging.INFO] == list(
        e.value.log_lines)
    assert capfd.readouterr().err == ""


def test_scan_probes_quietly(sim, tmp_path, caplog, capfd):
    caplog.set_level(logging.DEBUG, "ca410")
    found = ca410.scan([tmp_path / "none", sim.port])
    assert found == [ca410.Port(sim.port)] and str(found[0]) == sim.port
    assert caplog.records and all(r.levelno == logging.DEBUG for r in caplog.records)
    assert capfd.readouterr().err == ""


def test_ports_are_the_tools_list():
    out = subprocess.run([program("CA410_CLI", "ca410 tool"), "ports"], capture_output=True,
                         text=True, check=True).stdout
    assert [str(p) for p in ca410.ports()] == [line.split()[0] for line in out.splitlines()]


@pytest.mark.parametrize("call, error", [
    (lambda i: i.delete_channel(2**32 + 3), ValueError), (lambda i: i.set_channel(5.99), TypeError),
    (lambda i: i.set_channel(True), TypeError), (lambda i: i.set_channel(100), ValueError),
    (lambda i: i.set_speed(-1), ValueError), (lambda i: i.calfile("7"), TypeError),
    (lambda i: i.delete_channel(0), ValueError), (lambda i: i.measure_many(0), ValueError),
    (lambda i: i.calibrate(0, [(1, 1, 1)] * 4, print), ValueError),
    (lambda i: i.calibrate(1, [(1, 1, 1)] * 4, print, name="a,b"), ValueError),
    (lambda i: i.calibrate(1, [(1, 1, 1)] * 4, print, when=datetime(1999, 1, 1)), ValueError),
    (lambda i: ca410.Instrument(i.port, log_level=2**40), ValueError),
    (lambda i: ca410.Instrument(b"bad\0port"), ValueError),
    (lambda i: ca410.Instrument(3), TypeError)])
def test_arguments_checked_before_anything_is_sent(sim, ins, call, error):
    sim.control("clear-frames")
    with pytest.raises(error):
        call(ins)
    assert sim.control("frames") == "ok 0"


def test_reset_asks_for_init_and_text_is_escaped(sim_program):
    with VirtualInstrument(sim_program, FAST + ["--serial", "S\x1b[2J1"]) as sim, \
            ca410.Instrument(os.fsencode(sim.port)) as ins:
        assert ins.info().serial == r"S\x1b[2J1"
        ins.reset()
        e = expect_error(Result.CA_E_NOT_READY, ins.measure, ca410.NotReadyError)
        assert "reset put the display mode back; call init() first" in str(e)
        ins.init()
        assert ins.measure().Y == pytest.approx(100)


def test_an_open_after_a_stale_answer_is_tried_again(sim, caplog):
    sim.control(r"fault garbage-next OK00,P1,7,1,2,3\r")
    with ca410.Instrument(sim.port) as ins:
        assert ins.model == "CA-410"
    warning, = [r.message for r in caplog.records if r.levelno == logging.WARNING]
    assert warning.startswith(f"retrying the open of {sim.port}: no CA-410 answered")


def test_a_missing_library_names_the_places_tried(tmp_path):
    script = ("import ca410\nassert not ca410._lib._cache  # the import loads no library\n"
              "try: ca410.Instrument('x')\nexcept ca410.LibraryNotFound as e: print(e)")
    env = {"CA410_LIBRARY_DIR": str(tmp_path), "PATH": "/usr/bin:/bin",
           "PYTHONPATH": str(REPO / "bindings" / "python")}
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                         text=True, check=True).stdout
    if not out:
        pytest.skip("SKIPPED: the system's loader finds an installed libca410")
    assert str(tmp_path / "libca410.so") in out and "system loader" in out


def test_gamut_example_without_matplotlib_says_what_to_install():
    example = REPO / "bindings" / "python" / "examples" / "gamut.py"
    script = ("import runpy, sys; sys.modules['matplotlib'] = None; sys.argv = ['gamut.py']; "
              f"runpy.run_path({str(example)!r}, run_name='__main__')")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert (out.returncode, out.stdout, out.stderr.count("\n")) == (2, "", 1)
    assert "needs matplotlib" in out.stderr and "python3-matplotlib" in out.stderr


D65 = (95.047, 100.0, 108.883)
SRGB = colour.reference_gamut("sRGB").triangle
P3 = colour.reference_gamut("DCI-P3").triangle
SHARE = colour.triangle_area(SRGB) / colour.triangle_area(P3)  # of P3 that sRGB, inside it, covers


def colour_error(name, call, *args):
    with pytest.raises(ca410.Error) as e:
        call(*args)
    assert e.value.name == name
    return e.value


@pytest.mark.parametrize("triangle, ref, ratio, coverage", [
    (SRGB, "sRGB", 1.0, 1.0), (list(reversed(SRGB)), SRGB, 1.0, 1.0),
    ("sRGB", "DCI-P3", SHARE, SHARE), (P3, "sRGB", 1 / SHARE, 1.0),
    ([0, 0, 1, 0, 0, 1], [(0, 0), (1, 0), (1, 1)], 1.0, 0.5)])
def test_gamut_figures(triangle, ref, ratio, coverage):
    assert colour.gamut_area_ratio(triangle, ref) == pytest.approx(ratio, abs=1e-12)
    assert colour.gamut_coverage(triangle, ref) == pytest.approx(coverage, abs=1e-12)


def test_reference_gamuts():
    assert colour.triangle_area(SRGB) == pytest.approx(0.11205, abs=1e-12)
    assert SHARE == pytest.approx(0.73717, abs=1e-5)
    g = colour.reference_gamut("DCI-P3")
    assert (g.name, g.red, g.white) == ("DCI-P3", (0.68, 0.32), (0.314, 0.351))
    with pytest.raises(ValueError):
        colour.reference_gamut("Adobe RGB")
    colour_error("CA_COLOUR_E_DOMAIN", colour.gamut_coverage, SRGB, [(0, 0), (0.5, 0.5), (1, 1)])


def test_chromaticity_and_cct_on_every_shape():
    x, y = D65[0] / sum(D65), D65[1] / sum(D65)
    d = D65[0] + 15 * D65[1] + 3 * D65[2]
    want = (x, y, 4 * D65[0] / d, 9 * D65[1] / d)
    c = colour.xyz_to_chromaticity(D65)
    assert (c.x, c.y, c.u_prime, c.v_prime) == pytest.approx(want, abs=1e-15)
    assert colour.xyz_to_uv_prime(D65) == pytest.approx(want[2:])
    assert colour.xyz_to_xy(Measurement(*D65)) == pytest.approx(want[:2])
    assert colour.xyz_to_xy([D65, (1, 1, 1)]) == [pytest.approx(want[:2]),
                                                  pytest.approx((1 / 3, 1 / 3))]
    cct, duv = colour.xyz_to_cct_duv(D65)
    assert cct == pytest.approx(6504, abs=2) and duv == pytest.approx(0.0032, abs=1e-4)
    assert colour.xy_to_cct_duv((x, y)) == pytest.approx((cct, duv), abs=1e-6)
    if numpy is not None:
        arr = numpy.array([[D65, (1, 1, 1)]] * 3)  # shape (3, 2, 3)
        xy = colour.xyz_to_xy(arr)
        assert xy.shape == (3, 2, 2) and xy[2, 0] == pytest.approx(want[:2])
        assert colour.xyz_to_cct_duv(arr)[1, 0] == pytest.approx((cct, duv))
        assert colour.xy_to_cct_duv(numpy.array([[x, y]])).shape == (1, 2)
    e = colour_error("CA_COLOUR_E_DOMAIN", colour.xyz_to_xy, (0, 0, 0))
    assert (e.code, e.function) == (2, "ca410ColourChromaticity")


def test_spectra_and_locus():
    nm, xs, ys = colour.spectral_locus()
    assert (len(nm), nm[0], nm[-1]) == (471, 360, 830)
    assert (xs[160], ys[160]) == pytest.approx((0.074302, 0.833803), abs=1e-5)  # 520 nm
    for observer in (colour.OBSERVER_1931, colour.OBSERVER_1964):  # equal energy: x = y = 1/3
        xyz = colour.spectrum_to_xyz([1.0] * 471, 360, 1, observer)
        assert colour.xyz_to_xy(xyz) == pytest.approx((1 / 3, 1 / 3), abs=2e-4)
    # A line at 520 nm lands on the locus; Y is 0.683002 * ȳ(520) per unit.
    xyz = colour.spectrum_to_xyz([0.0] * 10 + [1000.0] + [0.0] * 10, 510, 1)
    assert colour.xyz_to_xy(xyz) == pytest.approx((xs[160], ys[160]), abs=1e-12)
    assert xyz[1] == pytest.approx(683.002 * 0.710000, rel=1e-4)
    colour_error("CA_COLOUR_E_ARGS", colour.spectrum_to_xyz, [1.0], 500, 1)
    ones = numpy.ones(5) if numpy is not None else [1] * 5
    assert math.isfinite(colour.spectrum_to_xyz(ones, 500, 5)[1])


def test_gamut_figures_match_the_tool(sim_program):
    cli = program("CA410_CLI", "ca410 tool")
    # A display whose gamut crosses sRGB's edges, so the figures are not trivial.
    primaries = ["--red", "45.45,25,5.3", "--green", "25.74,70,7.21", "--blue", "19.2,6,94.8"]
    with VirtualInstrument(sim_program, FAST + primaries) as sim:
        emitted = {c: sim.show(*LEVELS[c]) for c in LEVELS}
        show = f"{cli} sim-control {sim.control_path} show"
        out = subprocess.run([cli, "gamut", "--port", sim.port, "--show-command", show],
                             capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    triangle = [colour.xyz_to_xy(emitted[c]) for c in ("red", "green", "blue")]
    ratio = colour.gamut_area_ratio(triangle, "sRGB")
    assert 0.02 < abs(1 - ratio) and 0.01 < 1 - colour.gamut_coverage(triangle, "sRGB")
    figures = [(r"relative to sRGB: [\d.]+ \(([\d.]+) %\)", 100 * ratio, 0.051),
               (r"CCT ([\d.]+) K", colour.xyz_to_cct_duv(emitted["white"])[0], 0.51)]
    figures += [(rf"coverage of {ref}:\s+([\d.]+) %", 100 * colour.gamut_coverage(triangle, ref),
                 0.051) for ref in ("sRGB", "DCI-P3")]
    figures += [(rf"(?m)^{name}(?:\s+\S+){{{3 + k}}}\s+(\S+)", xy[k], 6e-5)
                for name, xy in zip(("red", "green", "blue"), triangle) for k in (0, 1)]
    for pattern, want, tolerance in figures:
        assert float(re.search(pattern, out.stdout)[1]) == pytest.approx(want, abs=tolerance)


def test_xy_diagram_saved_as_a_png_of_the_asked_size(tmp_path):
    pytest.importorskip("matplotlib")
    from ca410 import plot
    measured = {"white": Measurement(95.05, 100, 108.9), "red": Measurement(41.24, 21.26, 1.93),
                "green": (0.30, 0.60), "blue": (0.15, 0.06)}
    out = plot.save_gamut_plot(tmp_path / "gamut.png", measured, points=[(0.3, 0.3)],
                               gamuts=["BT.2020"], size=(640, 480), dpi=80)
    head = Path(out).read_bytes()[:24]
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR"
    assert struct.unpack(">II", head[16:24]) == (640, 480)
