"""ca410.colour's metrics (CA410_LIBRARY_DIR names the built libraries'
directory): every input shape gives the same figures through one array call,
errors keep their colour codes, and what is not a number raises TypeError."""

import math
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # this checkout's package

import ca410  # noqa: E402
from ca410 import Measurement, colour  # noqa: E402

try:
    import numpy
except ImportError:  # the package works without it; these cases do not
    numpy = None

RED = (41.2456, 21.2673, 1.9334)  # sRGB red, white D65 with Y = 100
PAIR = ((50.0, 2.6772, -79.7751), (50.0, 0.0, -82.7485))  # CIEDE2000 2.0425
needs_numpy = pytest.mark.skipif(numpy is None, reason="SKIPPED: NumPy is not installed")


def test_lab_luv_lch_of_srgb_red_on_every_shape():
    lab = colour.xyz_to_lab(RED, colour.D65)
    assert lab == pytest.approx((53.2408, 80.0925, 67.2032), abs=1e-3)
    assert colour.xyz_to_luv(Measurement(*RED), colour.D65) == pytest.approx(
        (53.2408, 175.0151, 37.7564), abs=1e-3)
    nested = colour.lab_to_xyz([[lab], [lab, lab]], colour.D65)
    assert len(nested) == 2 and nested[1][1] == pytest.approx(RED, rel=1e-12)
    lch = colour.lab_to_lch(lab)
    assert lch[2] == pytest.approx(math.degrees(math.atan2(lab[2], lab[1])))
    assert colour.lch_to_lab(lch) == pytest.approx(lab)
    assert colour.luv_to_lch((50, 0, 0)) == (50, 0, 0) and colour.xyz_to_lab([], colour.D65) == []


@needs_numpy
@pytest.mark.parametrize("call, args", [
    (colour.xyz_to_lab, (RED, colour.D65)), (colour.luv_to_xyz, ((40, 30, -20), colour.D65)),
    (colour.lab_to_lch, ((50, 10, -10),)), (colour.delta_e_2000, PAIR),
    (colour.delta_e_94, PAIR), (colour.delta_e_76, PAIR)])
def test_numpy_and_scalar_paths_agree(call, args):
    one = call(*args)
    arrays = call(*[numpy.array([[a] * 3] * 2) if len(a) == 3 and a is not colour.D65 else a
                    for a in args])
    assert arrays.shape[:2] == (2, 3)
    assert arrays[1, 2] == pytest.approx(one, abs=0)


def test_delta_e_and_curve_figures():
    assert colour.delta_e_2000(*PAIR) == pytest.approx(2.0425, abs=5e-5)
    assert colour.delta_e_76(*PAIR) == pytest.approx(math.hypot(2.6772, 2.9734))
    assert colour.delta_e_94(*PAIR) != colour.delta_e_94(PAIR[1], PAIR[0])
    assert colour.eotf([0, 1], "PQ") == [0, 10000]
    assert colour.inverse_eotf(203, "PQ") == pytest.approx(0.58069, abs=1e-5)
    assert colour.inverse_eotf(1 / 12, "HLG") == pytest.approx(0.5, abs=1e-15)
    assert colour.eotf(0.5, "gamma", gamma=2.4) == pytest.approx(0.5 ** 2.4)
    assert colour.eotf(0, "BT.1886", white=200, black=0.2) == pytest.approx(0.2)
    if numpy is not None:
        signal = numpy.linspace(0, 1, 11).reshape(11, 1)
        back = colour.inverse_eotf(colour.eotf(signal, "sRGB"), "sRGB")
        assert back.shape == (11, 1) and back == pytest.approx(signal, abs=1e-12)


def test_grey_ramp():
    levels = [k / 10 for k in range(11)]
    y = [0.3 + 149.7 * v ** 2.2 for v in levels]
    points = colour.point_gamma(levels, y)
    assert math.isnan(points[0]) and math.isnan(points[10])
    assert points[1:10] == pytest.approx([2.2] * 9)
    assert colour.fit_gamma(levels, y) == pytest.approx(2.2)
    assert colour.contrast_ratio(Measurement(1, 150, 1), 0.3) == pytest.approx(500)
    assert colour.contrast_ratio(150, 0) == math.inf


def colour_error(name, call, *args, **kwargs):
    with pytest.raises(ca410.Error) as e:
        call(*args, **kwargs)
    assert e.value.name == name
    return e.value


def test_errors_keep_the_colour_codes():
    e = colour_error("CA_COLOUR_E_DOMAIN", colour.xyz_to_xy, (1e308, 1e308, 1e308))
    assert e.function == "ca410ColourChromaticity"
    colour_error("CA_COLOUR_E_DOMAIN", colour.triangle_area, [(0, 0), (1e308, 0), (0, 1e308)])
    colour_error("CA_COLOUR_E_DOMAIN", colour.xyz_to_lab, [RED, (1, math.nan, 1)], colour.D65)
    colour_error("CA_COLOUR_E_DOMAIN", colour.eotf, [0.5, 1.5], "PQ")
    colour_error("CA_COLOUR_E_ARGS", colour.eotf, 0.5, "gamma")
    colour_error("CA_COLOUR_E_DOMAIN", colour.fit_gamma, [0, 0.5], [0, 1])  # no level 1
    with pytest.raises(ValueError):
        colour.delta_e_2000([PAIR[0]] * 2, [PAIR[1]] * 3)
    with pytest.raises(ValueError):
        colour.eotf(0.5, "Rec.709")
    assert isinstance(e, ca410.ColourError) and e.code == ca410.ColourResult.CA_COLOUR_E_DOMAIN
    for observer, error in [(2.0, TypeError), (True, TypeError), (5, ValueError)]:
        with pytest.raises(error):
            colour.spectral_locus(observer)


NOT_NUMBERS = ["abc", ["1", "2", "3"], [("a", "b", "c")], b"xyz", [None, 1, 2]]


@pytest.mark.parametrize("bad", NOT_NUMBERS + ([numpy.array(["1", "2", "3"])] if numpy else []))
@pytest.mark.parametrize("call", [
    colour.xyz_to_xy, colour.xyz_to_chromaticity, colour.xyz_to_cct_duv, colour.xy_to_cct_duv,
    lambda v: colour.triangle_area([v] * 3), lambda v: colour.xyz_to_lab(v, colour.D65),
    lambda v: colour.xyz_to_lab(RED, v), lambda v: colour.delta_e_2000(v, v), colour.eotf,
    lambda v: colour.fit_gamma(v, v), lambda v: colour.spectrum_to_xyz(v, 400, 1)])
def test_what_is_not_a_number_raises_type_error(call, bad):
    with pytest.raises(TypeError):
        call(bad)
