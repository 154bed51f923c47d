"""Colour maths of the CA-410 driver: the functions of the ca410_colour library.

Every function that takes a colour takes X, Y, Z as three numbers, as a
sequence of such triples (giving a list of results), or as a NumPy array
whose last axis holds X, Y, Z (giving an array; NumPy is optional). A
:class:`ca410.Measurement` may stand for its X, Y, Z.

Triangles (gamuts) are the chromaticities of red, green and blue in the CIE
1931 xy plane: ``((rx, ry), (gx, gy), (bx, by))``, six numbers in that
order, a :class:`Gamut`, or the name of a built-in one ("sRGB"). Area ratios
and coverage are fractions (1.0 is 100 %).

A colour that has no answer (black has no chromaticity; a CCT outside 500 K
to 100000 K; values whose result overflows) raises :class:`ca410.ColourError`
(a :class:`ca410.Error`) with code ``CA_COLOUR_E_DOMAIN``. Anything that is
not a number where a number belongs (a string, a list of strings) raises
``TypeError``; an observer other than the two raises ``ValueError``.

The metrics (CIELAB and CIELUV, ΔE, tone curves, grey ramps) take the same
shapes and make one call into the library for all the values of a call: a
NumPy array gives an array, a sequence a list, one colour a tuple (one value a
float).
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass
from typing import Any, Callable, List, Sequence, Tuple, Union

from ._args import integer
from ._errors import ColourError, colour_code
from ._lib import Chromaticity as _Chromaticity
from ._lib import CurveParams as _CurveParams
from ._lib import DoubleP as _DoubleP
from ._lib import colour_library

try:  # NumPy is optional: used for arrays when it is there.
    import numpy as _np
except ImportError:  # pragma: no cover - depends on the machine
    _np = None

__all__ = [
    "OBSERVER_1931",
    "OBSERVER_1964",
    "REFERENCE_GAMUTS",
    "Chromaticity",
    "Gamut",
    "xyz_to_chromaticity",
    "xyz_to_xy",
    "xyz_to_uv_prime",
    "xyz_to_cct_duv",
    "xy_to_cct_duv",
    "spectrum_to_xyz",
    "triangle_area",
    "gamut_area_ratio",
    "gamut_coverage",
    "reference_gamut",
    "spectral_locus",
    "CURVES",
    "D65",
    "xyz_to_lab",
    "lab_to_xyz",
    "xyz_to_luv",
    "luv_to_xyz",
    "lab_to_lch",
    "lch_to_lab",
    "luv_to_lch",
    "lch_to_luv",
    "delta_e_76",
    "delta_e_94",
    "delta_e_2000",
    "eotf",
    "inverse_eotf",
    "point_gamma",
    "fit_gamma",
    "contrast_ratio",
]

OBSERVER_1931 = 2
"""CIE 1931 2° standard observer (the instrument's)."""
OBSERVER_1964 = 10
"""CIE 1964 10° standard observer."""

_GAMUT_IDS = {"sRGB": 1, "DCI-P3": 2, "BT.2020": 3}
REFERENCE_GAMUTS: Tuple[str, ...] = tuple(_GAMUT_IDS)
"""Names of the built-in reference gamuts, for :func:`reference_gamut`."""

XYZLike = Any  # three numbers, a sequence of triples, an array (..., 3), or a Measurement
TriangleLike = Union[Sequence[float], Sequence[Sequence[float]], Any]


@dataclass(frozen=True)
class Chromaticity:
    """Chromaticity of one colour: CIE 1931 x, y and CIE 1976 u', v'."""

    x: float
    y: float
    u_prime: float
    v_prime: float


@dataclass(frozen=True)
class Gamut:
    """A reference gamut: its name, primaries and white point in CIE 1931 xy."""

    name: str
    red: Tuple[float, float]
    green: Tuple[float, float]
    blue: Tuple[float, float]
    white: Tuple[float, float]

    @property
    def triangle(self) -> Tuple[Tuple[float, float], ...]:
        """The primaries as ``(red, green, blue)``."""
        return (self.red, self.green, self.blue)


# ---- helpers ---------------------------------------------------------------


def _check(rc: int, function: str, detail: str = "") -> None:
    if rc != 0:
        raise ColourError(rc, function, detail=detail or None)


def _observer(observer: Any) -> int:
    number = integer(observer, "observer", OBSERVER_1931, OBSERVER_1964)
    if number not in (OBSERVER_1931, OBSERVER_1964):
        raise ValueError(f"observer must be OBSERVER_1931 or OBSERVER_1964, not {number}")
    return number


def _is_number(v: Any) -> bool:
    if isinstance(v, (str, bytes)):
        return False
    try:
        float(v)
    except (TypeError, ValueError):
        return False
    return True


def _number(v: Any) -> float:
    if not _is_number(v):
        raise TypeError(f"expected a number, got {type(v).__name__} {v!r:.40}")
    return float(v)


def _not_text(v: Any) -> None:
    if isinstance(v, (str, bytes)):
        raise TypeError(f"expected numbers, got {type(v).__name__} {v!r:.40}")
    if _np is not None and isinstance(v, _np.ndarray) and v.dtype.kind not in "biuf":
        raise TypeError(f"expected an array of numbers, got dtype {v.dtype}")


def _doubles(values: Sequence[float]) -> "ctypes.Array[ctypes.c_double]":
    return (ctypes.c_double * len(values))(*[_number(v) for v in values])


def _map_xyz(xyz: XYZLike, one: Callable[[Sequence[float]], Tuple[float, ...]], width: int) -> Any:
    """Applies `one` (X, Y, Z -> tuple of `width` floats) over any accepted input."""
    if all(hasattr(xyz, a) for a in ("X", "Y", "Z")):
        return one((xyz.X, xyz.Y, xyz.Z))
    _not_text(xyz)
    if _np is not None and isinstance(xyz, _np.ndarray):
        arr = _np.asarray(xyz, dtype=float)
        if arr.ndim == 0 or arr.shape[-1] != 3:
            raise ValueError(f"expected an array whose last axis has X, Y, Z; got shape {arr.shape}")
        flat = arr.reshape(-1, 3)
        out = _np.empty((flat.shape[0], width))
        for i, row in enumerate(flat):
            out[i] = one(row)
        return out.reshape(arr.shape[:-1] + (width,))
    seq = list(xyz)
    if len(seq) == 3 and all(_is_number(v) for v in seq):
        return one(seq)
    return [_map_xyz(item, one, width) for item in seq]


def _triangle(t: Union[str, TriangleLike]) -> "ctypes.Array[ctypes.c_double]":
    if isinstance(t, str):
        t = reference_gamut(t)
    if isinstance(t, Gamut):
        t = t.triangle
    _not_text(t)
    flat: List[float] = []
    for item in (t.tolist() if hasattr(t, "tolist") else t):
        if _is_number(item):
            flat.append(float(item))
        else:
            _not_text(item)
            flat.extend(_number(v) for v in item)
    if len(flat) != 6:
        raise ValueError(f"a triangle is three (x, y) corners; got {len(flat)} numbers")
    return _doubles(flat)


# ---- one colour ------------------------------------------------------------


def _chromaticity(xyz: Sequence[float]) -> Tuple[float, float, float, float]:
    out = _Chromaticity()
    _check(
        colour_library().ca410ColourChromaticity(_doubles(xyz), ctypes.byref(out)),
        "ca410ColourChromaticity",
        f"X, Y, Z = {tuple(float(v) for v in xyz)}",
    )
    return (out.x, out.y, out.u_prime, out.v_prime)


def _cct(xyz: Sequence[float]) -> Tuple[float, float]:
    t = ctypes.c_double()
    d = ctypes.c_double()
    _check(
        colour_library().ca410ColourCCT(_doubles(xyz), ctypes.byref(t), ctypes.byref(d)),
        "ca410ColourCCT",
        f"X, Y, Z = {tuple(float(v) for v in xyz)}",
    )
    return (t.value, d.value)


def xyz_to_chromaticity(xyz: XYZLike) -> Any:
    """x, y, u', v' of X, Y, Z: a :class:`Chromaticity` for one colour (a list
    of them for a sequence); an array (..., 4) for an array."""
    if _np is not None and isinstance(xyz, _np.ndarray):
        return _map_xyz(xyz, _chromaticity, 4)
    result = _map_xyz(xyz, _chromaticity, 4)

    def wrap(r: Any) -> Any:
        return Chromaticity(*r) if isinstance(r, tuple) else [wrap(i) for i in r]

    return wrap(result)


def xyz_to_xy(xyz: XYZLike) -> Any:
    """CIE 1931 (x, y) of X, Y, Z."""
    return _map_xyz(xyz, lambda v: _chromaticity(v)[:2], 2)


def xyz_to_uv_prime(xyz: XYZLike) -> Any:
    """CIE 1976 (u', v') of X, Y, Z."""
    return _map_xyz(xyz, lambda v: _chromaticity(v)[2:], 2)


def xyz_to_cct_duv(xyz: XYZLike) -> Any:
    """(CCT in kelvin, Δuv) of X, Y, Z: the nearest point of the Planckian
    locus in CIE 1960 (u, v), and the signed distance to it (positive above
    the locus). D65 gives about (6504, 0.0032)."""
    return _map_xyz(xyz, _cct, 2)


def xy_to_cct_duv(xy: Any) -> Any:
    """(CCT in kelvin, Δuv) of CIE 1931 (x, y) chromaticities (a pair, a
    sequence of pairs, or an array (..., 2))."""

    def to_xyz(p: Sequence[float]) -> Tuple[float, float, float]:
        x, y = _number(p[0]), _number(p[1])
        if y == 0.0:
            raise ColourError(colour_code("CA_COLOUR_E_DOMAIN"), detail="y = 0")
        return (x / y, 1.0, (1.0 - x - y) / y)

    _not_text(xy)
    if _np is not None and isinstance(xy, _np.ndarray):
        arr = _np.asarray(xy, dtype=float)
        if arr.ndim == 0 or arr.shape[-1] != 2:
            raise ValueError(f"expected an array whose last axis has x, y; got shape {arr.shape}")
        flat = arr.reshape(-1, 2)
        out = _np.array([_cct(to_xyz(p)) for p in flat], dtype=float).reshape(-1, 2)
        return out.reshape(arr.shape[:-1] + (2,))
    seq = list(xy)
    if len(seq) == 2 and all(_is_number(v) for v in seq):
        return _cct(to_xyz(seq))
    return [xy_to_cct_duv(p) for p in seq]


def spectrum_to_xyz(
    values: Sequence[float],
    first_nm: float,
    step_nm: float,
    observer: int = OBSERVER_1931,
) -> Tuple[float, float, float]:
    """X, Y, Z of an emission spectrum sampled at ``first_nm + k * step_nm``
    (2 to 601 samples), under ``OBSERVER_1931`` or ``OBSERVER_1964``.

    Sums 0.683002 x spectrum x colour-matching function over the whole
    nanometres the spectrum and the observer share (360 nm to 829 nm), so a
    spectral radiance in mW sr⁻¹ m⁻² nm⁻¹ gives Y in cd/m².
    """
    _not_text(values)
    vals = list(values.tolist() if hasattr(values, "tolist") else values)
    out = (ctypes.c_double * 3)()
    _check(
        colour_library().ca410ColourSpectrumToXYZ(
            _observer(observer), float(first_nm), float(step_nm), _doubles(vals), len(vals), out
        ),
        "ca410ColourSpectrumToXYZ",
    )
    return (out[0], out[1], out[2])


# ---- gamut -----------------------------------------------------------------


def triangle_area(triangle: TriangleLike) -> float:
    """Area of a triangle in the CIE 1931 xy plane (sRGB: 0.11205)."""
    out = ctypes.c_double()
    _check(
        colour_library().ca410ColourTriangleArea(_triangle(triangle), ctypes.byref(out)),
        "ca410ColourTriangleArea",
    )
    return out.value


def _against(function: str, triangle: TriangleLike, reference: Union[str, TriangleLike]) -> float:
    out = ctypes.c_double()
    fn = getattr(colour_library(), function)
    _check(fn(_triangle(triangle), _triangle(reference), ctypes.byref(out)), function)
    return out.value


def gamut_area_ratio(triangle: TriangleLike, reference: Union[str, TriangleLike] = "sRGB") -> float:
    """Area of `triangle` over the area of `reference` (a triangle or the name
    of a built-in gamut), as a fraction."""
    return _against("ca410ColourGamutAreaRatio", triangle, reference)


def gamut_coverage(triangle: TriangleLike, reference: Union[str, TriangleLike] = "sRGB") -> float:
    """The part of `reference` that `triangle` covers: the area of their
    intersection over the reference's area, from 0.0 to 1.0."""
    return _against("ca410ColourGamutCoverage", triangle, reference)


def reference_gamut(name: str) -> Gamut:
    """A built-in reference gamut by name: one of :data:`REFERENCE_GAMUTS`
    ("sRGB", "DCI-P3", "BT.2020")."""
    if name not in _GAMUT_IDS:
        raise ValueError(f"unknown reference gamut {name!r}; known: {', '.join(REFERENCE_GAMUTS)}")
    xy = (ctypes.c_double * 6)()
    white = (ctypes.c_double * 2)()
    gid = _GAMUT_IDS[name]
    _check(colour_library().ca410ColourReferenceGamut(gid, xy, white), "ca410ColourReferenceGamut")
    lib_name = colour_library().ca410ColourGamutName(gid)
    return Gamut(
        name=lib_name.decode() if lib_name else name,
        red=(xy[0], xy[1]),
        green=(xy[2], xy[3]),
        blue=(xy[4], xy[5]),
        white=(white[0], white[1]),
    )


def spectral_locus(observer: int = OBSERVER_1931) -> Tuple[Any, Any, Any]:
    """The spectral locus for drawing the xy diagram: ``(nm, x, y)``, one
    point per whole nanometre from 360 nm to 830 nm (lists, or NumPy arrays
    when NumPy is there)."""
    lib = colour_library()
    count = ctypes.c_int32()
    _check(lib.ca410ColourSpectralLocus(_observer(observer), None, None, 0, ctypes.byref(count)),
           "ca410ColourSpectralLocus")
    n = count.value
    nm = (ctypes.c_double * n)()
    xy = (ctypes.c_double * (2 * n))()
    _check(lib.ca410ColourSpectralLocus(_observer(observer), nm, xy, n, ctypes.byref(count)),
           "ca410ColourSpectralLocus")
    nms, xs, ys = list(nm), list(xy[0::2]), list(xy[1::2])
    if _np is not None:
        return _np.array(nms), _np.array(xs), _np.array(ys)
    return nms, xs, ys


# ---- values for one array call ---------------------------------------------

_MAX_COUNT = 2**31 - 1


class _Values:
    """Numbers of any accepted shape, flattened for one array call: `width`
    numbers per item (3 for a colour, 1 for a value). `unpack` gives results
    back in the same shape."""

    def __init__(self, values: Any, width: int, what: str) -> None:
        self.width = width
        self.array_shape: Any = None  # the leading shape of a NumPy input
        self.layout: Any = None  # nesting of a Python input; None for one item
        if _np is not None and isinstance(values, _np.ndarray):
            _not_text(values)
            arr = _np.ascontiguousarray(values, dtype=float)
            if width > 1 and (arr.ndim == 0 or arr.shape[-1] != width):
                raise ValueError(f"expected an array whose last axis has {what}; "
                                 f"got shape {arr.shape}")
            self.array_shape = arr.shape[:-1] if width > 1 else arr.shape
            self.flat = arr.reshape(-1)
        else:
            flat: List[float] = []
            self.layout = self._flatten(values, flat, what)
            self.flat = (ctypes.c_double * len(flat))(*flat)
        self.count = len(self.flat) // width
        if self.count > _MAX_COUNT:
            raise ValueError(f"{self.count} items are more than one call takes ({_MAX_COUNT})")

    def _flatten(self, v: Any, flat: List[float], what: str) -> Any:
        _not_text(v)
        if self.width == 1 and _is_number(v):
            flat.append(float(v))
            return None
        if self.width == 3 and all(hasattr(v, a) for a in ("X", "Y", "Z")):
            flat.extend(_number(c) for c in (v.X, v.Y, v.Z))
            return None
        try:
            items = list(v)
        except TypeError:
            raise TypeError(f"expected {what}, got {type(v).__name__} {v!r:.40}") from None
        if self.width > 1 and len(items) == self.width and all(_is_number(i) for i in items):
            flat.extend(float(i) for i in items)
            return None
        return [self._flatten(item, flat, what) for item in items]

    def pointer(self) -> Any:
        return _pointer(self.flat)

    def output(self, width: int) -> Any:
        """A buffer for `width` results per item, unpacked by :meth:`unpack`."""
        if self.array_shape is not None:
            return _np.empty(self.array_shape + ((width,) if width > 1 else ()))
        return (ctypes.c_double * (self.count * width))()

    def unpack(self, out: Any, width: int) -> Any:
        if self.array_shape is not None:
            return out
        items = iter([out[k] if width == 1 else tuple(out[k:k + width])
                      for k in range(0, self.count * width, width)])

        def rebuild(layout: Any) -> Any:
            return next(items) if layout is None else [rebuild(sub) for sub in layout]

        return rebuild(self.layout)


def _pointer(buffer: Any) -> Any:
    """A ctypes array as it is; a NumPy array's data as a double pointer."""
    return buffer if isinstance(buffer, ctypes.Array) else buffer.ctypes.data_as(_DoubleP)


def _array_call(function: str, values: _Values, width: int, *args: Any) -> Any:
    """Calls `function(*args, in, out, count)` and gives the results back."""
    out = values.output(width)
    _check(getattr(colour_library(), function)(*args, values.pointer(), _pointer(out),
                                               values.count),
           function, f"{values.count} values")
    return values.unpack(out, width)


# ---- Lab, Luv and LCh -------------------------------------------------------

D65 = (95.047, 100.0, 108.883)
"""The CIE D65 white, X, Y, Z with Y = 100: a white for colours on that scale."""

_CONVERSIONS = {"xyz_to_lab": 1, "lab_to_xyz": 2, "xyz_to_luv": 3, "luv_to_xyz": 4,
                "to_lch": 5, "from_lch": 6}


def _white(white: XYZLike) -> "ctypes.Array[ctypes.c_double]":
    w = _Values(white, 3, "the white's X, Y, Z")
    if w.count != 1 or (w.array_shape is None and w.layout is not None):
        raise ValueError("the white is one colour: X, Y, Z")
    return (ctypes.c_double * 3)(*[w.flat[k] for k in range(3)])


def _convert(conversion: str, colours: Any, white: Any = None) -> Any:
    values = _Values(colours, 3, "three numbers per colour")
    return _array_call("ca410ColourConvertArray", values, 3, _CONVERSIONS[conversion],
                       _white(white) if white is not None else None)


def xyz_to_lab(xyz: XYZLike, white: XYZLike) -> Any:
    """CIE 1976 (L*, a*, b*) of X, Y, Z against a reference white (X, Y, Z on
    the same scale, e.g. the display's measured white, or :data:`D65`)."""
    return _convert("xyz_to_lab", xyz, white)


def lab_to_xyz(lab: Any, white: XYZLike) -> Any:
    """X, Y, Z of CIE 1976 (L*, a*, b*) against a reference white."""
    return _convert("lab_to_xyz", lab, white)


def xyz_to_luv(xyz: XYZLike, white: XYZLike) -> Any:
    """CIE 1976 (L*, u*, v*) of X, Y, Z against a reference white (black gives
    (0, 0, 0))."""
    return _convert("xyz_to_luv", xyz, white)


def luv_to_xyz(luv: Any, white: XYZLike) -> Any:
    """X, Y, Z of CIE 1976 (L*, u*, v*) against a reference white."""
    return _convert("luv_to_xyz", luv, white)


def lab_to_lch(lab: Any) -> Any:
    """(L*, C*ab, h_ab) of (L*, a*, b*); the hue in degrees, 0 to 360."""
    return _convert("to_lch", lab)


def lch_to_lab(lch: Any) -> Any:
    """(L*, a*, b*) of (L*, C*ab, h_ab in degrees)."""
    return _convert("from_lch", lch)


def luv_to_lch(luv: Any) -> Any:
    """(L*, C*uv, h_uv) of (L*, u*, v*); the hue in degrees, 0 to 360."""
    return _convert("to_lch", luv)


def lch_to_luv(lch: Any) -> Any:
    """(L*, u*, v*) of (L*, C*uv, h_uv in degrees)."""
    return _convert("from_lch", lch)


# ---- colour differences -----------------------------------------------------


def _delta_e(formula: int, lab1: Any, lab2: Any) -> Any:
    first = _Values(lab1, 3, "L*, a*, b* per colour")
    second = _Values(lab2, 3, "L*, a*, b* per colour")
    if first.count != second.count:
        raise ValueError(f"{first.count} colours against {second.count}: pair them one to one")
    out = first.output(1)
    _check(colour_library().ca410ColourDeltaEArray(formula, first.pointer(), second.pointer(),
                                                   _pointer(out), first.count),
           "ca410ColourDeltaEArray", f"{first.count} pairs")
    return first.unpack(out, 1)


def delta_e_76(lab1: Any, lab2: Any) -> Any:
    """CIE76 ΔE*ab: the distance between CIELAB colours (one pair, or pairs
    one to one; the result has lab1's shape without its last axis)."""
    return _delta_e(1, lab1, lab2)


def delta_e_94(reference: Any, sample: Any) -> Any:
    """CIE94 ΔE with the graphic-arts weights (kL = 1, K1 = 0.045, K2 =
    0.015); the reference's chroma weighs the difference, so the order
    matters."""
    return _delta_e(2, reference, sample)


def delta_e_2000(lab1: Any, lab2: Any) -> Any:
    """CIEDE2000 ΔE (kL = kC = kH = 1), as Sharma, Wu and Dalal (2005) set it
    out."""
    return _delta_e(3, lab1, lab2)


# ---- tone curves ------------------------------------------------------------

_CURVE_IDS = {"sRGB": 1, "gamma": 2, "BT.1886": 3, "PQ": 4, "HLG": 5, "HLG-display": 6}
CURVES: Tuple[str, ...] = tuple(_CURVE_IDS)
"""Names of the tone curves of :func:`eotf`."""


def _curve(curve: str, gamma: Any, white: Any, black: Any) -> Tuple[int, Any]:
    if curve not in _CURVE_IDS:
        raise ValueError(f"unknown tone curve {curve!r}; known: {', '.join(CURVES)}")
    if gamma is None and white is None:
        return _CURVE_IDS[curve], None
    params = _CurveParams(_number(gamma) if gamma is not None else 0.0,
                          _number(white) if white is not None else 0.0, _number(black))
    return _CURVE_IDS[curve], ctypes.byref(params)


def eotf(signal: Any, curve: str = "sRGB", *, gamma: Any = None, white: Any = None,
         black: Any = 0.0) -> Any:
    """Luminance of signal values from 0 to 1 through a tone curve:

    - ``"sRGB"``: IEC 61966-2-1, relative luminance 0 to 1;
    - ``"gamma"``: signal ** `gamma`, relative luminance 0 to 1;
    - ``"BT.1886"``: ITU-R BT.1886 for a display of `white` and `black`
      luminance (cd/m²), in cd/m²;
    - ``"PQ"``: SMPTE ST 2084, absolute cd/m² from 0 to 10000;
    - ``"HLG"``: the BT.2100 HLG inverse OETF, scene light 0 to 1;
    - ``"HLG-display"``: the BT.2100 HLG EOTF of a grey for a display of
      `white` and `black` cd/m² (system gamma 1.2 + 0.42 log10(white / 1000)).
    """
    curve_id, params = _curve(curve, gamma, white, black)
    return _array_call("ca410ColourEOTF", _Values(signal, 1, "numbers"), 1, curve_id, params)


def inverse_eotf(luminance: Any, curve: str = "sRGB", *, gamma: Any = None, white: Any = None,
                 black: Any = 0.0) -> Any:
    """Signal (0 to 1) of luminance values through the inverse of a tone curve
    of :func:`eotf` (for ``"HLG"`` the OETF); the luminance must lie within
    the curve's range."""
    curve_id, params = _curve(curve, gamma, white, black)
    return _array_call("ca410ColourInverseEOTF", _Values(luminance, 1, "numbers"), 1, curve_id,
                       params)


# ---- grey ramps -------------------------------------------------------------


def _ramp(levels: Any, y: Any) -> Tuple[_Values, _Values]:
    lv = _Values(levels, 1, "signal levels")
    yv = _Values(y, 1, "luminances")
    if lv.count != yv.count:
        raise ValueError(f"{lv.count} levels against {yv.count} luminances")
    return lv, yv


def point_gamma(levels: Any, y: Any) -> Any:
    """The gamma at each level of a grey ramp, log(Yn) / log(level), with Y
    normalised between the Y of level 0 (black) and level 1 (white), which the
    ramp must hold; NaN where undefined (levels 0 and 1, Yn not positive)."""
    lv, yv = _ramp(levels, y)
    out = lv.output(1)
    _check(colour_library().ca410ColourPointGamma(lv.pointer(), yv.pointer(), lv.count,
                                                  _pointer(out)), "ca410ColourPointGamma")
    return lv.unpack(out, 1)


def fit_gamma(levels: Any, y: Any) -> float:
    """One gamma for a grey ramp: the least-squares line through the origin
    of log(Yn) against log(level), over the levels from 0.1 up to 1 whose
    normalised Y is at least 0.01 (near black is left out)."""
    lv, yv = _ramp(levels, y)
    out = ctypes.c_double()
    _check(colour_library().ca410ColourFitGamma(lv.pointer(), yv.pointer(), lv.count,
                                                ctypes.byref(out)), "ca410ColourFitGamma")
    return out.value


def contrast_ratio(white: Any, black: Any) -> float:
    """White Y over black Y (numbers, or measurements whose Y is taken); a
    black of 0 gives ``math.inf``."""
    out = ctypes.c_double()
    w, b = (_number(v.Y if hasattr(v, "Y") else v) for v in (white, black))
    _check(colour_library().ca410ColourContrastRatio(w, b, ctypes.byref(out)),
           "ca410ColourContrastRatio", f"white {w}, black {b}")
    return out.value
