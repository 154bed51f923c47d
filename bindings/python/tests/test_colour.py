"""ca410.colour against figures worked out here, on every input shape; the
command-line tool's gamut figures (CA410_CLI names it); the xy diagram."""

import math
import re
import struct
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import FAST, LEVELS, REPO, program

import ca410
from ca410 import Measurement, colour
from ca410.sim import VirtualInstrument

try:
    import numpy
except ImportError:  # the package works without it; these cases do not
    numpy = None

D65 = (95.047, 100.0, 108.883)
SRGB = colour.reference_gamut("sRGB").triangle
P3 = colour.reference_gamut("DCI-P3").triangle
SHARE = colour.triangle_area(SRGB) / colour.triangle_area(P3)  # of P3 that sRGB, inside it, covers


def expect_error(name, call, *args):
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
    expect_error("CA_COLOUR_E_DOMAIN", colour.gamut_coverage, SRGB, [(0, 0), (0.5, 0.5), (1, 1)])


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
    e = expect_error("CA_COLOUR_E_DOMAIN", colour.xyz_to_xy, (0, 0, 0))
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
    expect_error("CA_COLOUR_E_ARGS", colour.spectrum_to_xyz, [1.0], 500, 1)
    ones = numpy.ones(5) if numpy is not None else [1] * 5
    assert math.isfinite(colour.spectrum_to_xyz(ones, 500, 5)[1])


def test_gamut_figures_match_the_tool(sim_program):
    cli = program("CA410_CLI", "ca410 tool")
    # A display whose gamut crosses sRGB's edges, so the figures are not trivial.
    primaries = ["--red", "45.45,25,5.3", "--green", "25.74,70,7.21", "--blue", "19.2,6,94.8"]
    with VirtualInstrument(sim_program, FAST + primaries) as sim:
        emitted = {c: sim.show(*LEVELS[c]) for c in LEVELS}
        helper = REPO / "tests" / "cli" / "test_cli.py"
        show = f"{sys.executable} {helper} --show {sim.control_path}"
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


def test_xy_diagram_drawn_into_axes_and_saved(tmp_path):
    pytest.importorskip("matplotlib").use("Agg")
    from matplotlib.figure import Figure

    from ca410 import plot

    ax = Figure().add_subplot()
    assert plot.chromaticity_diagram(ax, gamuts=["BT.2020"]) is ax
    assert plot.plot_points([(0.3, 0.3), (0.4, 0.4)], ax, label="p") is ax
    lines = {line.get_label(): line for line in ax.get_lines()}
    assert len(lines["spectral locus"].get_xdata()) == 472 and "BT.2020" in lines  # closed locus
    measured = {"white": Measurement(95.05, 100, 108.9), "red": Measurement(41.24, 21.26, 1.93),
                "green": (0.30, 0.60), "blue": (0.15, 0.06)}
    out = plot.save_gamut_plot(tmp_path / "gamut.png", measured, points=[(0.3, 0.3)],
                               size=(640, 480), dpi=80)
    head = Path(out).read_bytes()[:24]
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR"
    assert struct.unpack(">II", head[16:24]) == (640, 480)
