"""The display report: a measured patch set judged against a display profile,
with the same figures and verdicts as ``ca410 report`` (its ``--json``).

    >>> from ca410 import cgats, report
    >>> r = report.evaluate(cgats.read("run.ti3"), "srgb")
    >>> r["verdict"], [c["figure"] for c in r["summary"] if c["verdict"] == "FAIL"]

Profiles are the tool's: the built-in ones (``profiles.json`` beside this
module, which the tool compiles in) by name, a profile file's path, or its
JSON as a dict; a profile with ``"base"`` starts from that built-in one
(``"srgb"`` when it names none). Patches are recognised by their drive
values: white, black, greys (R = G = B), primaries and secondaries at any
level, and the checker's 24 triples. Every target is relative to the
measured white: the profile's white point at its luminance Yw, the
profile's primaries scaled to make it, each channel's light through the
tone curve (sRGB or gamma as is, BT.1886 from the measured black to Yw, PQ
in cd/m² up to Yw); ΔE2000 in CIELAB relative to the target white; a grey's
balance against the target white at the grey's own luminance.

:func:`evaluate` returns a dict: ``profile``, ``verdict`` ("PASS" or
"FAIL"), ``summary``, ``white``, ``grey``, ``gamut`` and ``checker``; each
check a dict ``id``, ``figure``, ``measured``, ``target``, ``unit``,
``tolerance``, ``tolerance_key``, ``test``, ``verdict`` ("PASS", "FAIL",
"not measured", "reported"). Numbers that are not finite are ``None``.
"""

from __future__ import annotations

import json
import math
from pathlib import Path
from typing import Any, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

from . import colour, patches
from ._errors import ColourError

__all__ = ["ProfileError", "TOLERANCES", "builtin_profiles", "load_profile", "evaluate",
           "percentile"]

# key: (test, unit), in the tool's order (tools/cli/report_profile.cpp).
TOLERANCES: Dict[str, Tuple[str, str]] = {
    "white_luminance_min": ("at_least", " cd/m²"),
    "white_delta_e": ("at_most", ""),
    "white_delta_uv": ("at_most", ""),
    "white_cct_k": ("within", " K"),
    "white_duv": ("within", ""),
    "black_max": ("at_most", " cd/m²"),
    "contrast_min": ("at_least", ":1"),
    "grey_luminance_percent": ("within_percent", " cd/m²"),
    "gamma": ("within", ""),
    "point_gamma": ("within", ""),
    "grey_delta_e": ("at_most", ""),
    "grey_delta_uv": ("at_most", ""),
    "gamut_delta_e": ("at_most", ""),
    "coverage_min": ("at_least", " %"),
    "checker_delta_e_mean": ("at_most", ""),
    "checker_delta_e_p95": ("at_most", ""),
    "checker_delta_e_max": ("at_most", ""),
}
_UNITS = {"luminance": " cd/m²", "delta_e": "", "delta_uv": "", "xy": "", "cct": " K", "duv": "",
          "contrast": ":1", "percent": " %", "gamma": ""}
_SPACES = {"srgb": ("sRGB", "sRGB / BT.709"), "dci-p3-d65": ("DCI-P3", "DCI-P3 D65"),
           "bt2020": ("BT.2020", "BT.2020")}
_CURVES = ("srgb", "gamma", "bt1886", "pq")
_KEYS = ("name", "base", "description", "gamut", "white", "tone_curve", "gamma", "tolerances")
_COMPLETE = ("description", "gamut", "white", "tone_curve")
_D65 = (0.3127, 0.3290)
_PRIMARIES = ((1, "Red"), (2, "Green"), (4, "Blue"), (6, "Cyan"), (5, "Magenta"), (3, "Yellow"))


class ProfileError(ValueError):
    """A profile that cannot be used: the message names its source, the key
    and the reason; ``key`` is the key."""

    def __init__(self, source: str, key: str, reason: str):
        super().__init__(f"{source}: {key} {reason}")
        self.key = key


# ---- profiles ---------------------------------------------------------------


def _builtin_documents() -> Dict[str, Any]:
    return json.loads((Path(__file__).with_name("profiles.json")).read_text(encoding="utf-8"))


def builtin_profiles() -> List[str]:
    """The built-in profiles' names."""
    return sorted(_builtin_documents())


def _number_text(v: float) -> str:
    return repr(float(v)).removesuffix(".0") if float(v).is_integer() else repr(float(v))


class _Reader:
    def __init__(self, source: str):
        self.source = source

    def fail(self, key: str, reason: str):
        raise ProfileError(self.source, key, reason)

    def text(self, v: Any, key: str) -> str:
        if not isinstance(v, str):
            self.fail(key, f"must be a string, not {_type_name(v)}")
        return v

    def number(self, v: Any, key: str, low: float, high: float) -> float:
        if isinstance(v, bool) or not isinstance(v, (int, float)):
            self.fail(key, f"must be a number, not {_type_name(v)}")
        if not (math.isfinite(v) and low <= v <= high):
            bounds = (f"{_number_text(low)} or more" if math.isinf(high)
                      else f"from {_number_text(low)} to {_number_text(high)}")
            self.fail(key, f"must be {bounds}, not {_number_text(v)}")
        return float(v)

    def choice(self, v: Any, key: str, choices: Sequence[str]) -> str:
        t = self.text(v, key)
        if t not in choices:
            self.fail(key, f"must be one of {', '.join(choices)}, not \"{t}\"")
        return t

    def white(self, v: Any) -> Tuple[float, float]:
        if isinstance(v, str):
            self.choice(v, "white", ["D65"])
            return _D65
        if not isinstance(v, list) or len(v) != 2:
            self.fail("white", f"must be \"D65\" or [x, y], not {json.dumps(v)}")
        x, y = (self.number(c, "white", 1e-6, 1.0) for c in v)
        if x + y >= 1.0:
            self.fail("white", "x + y must be below 1")
        return (x, y)

    def apply(self, doc: Any, p: Dict[str, Any], complete: bool) -> None:
        if not isinstance(doc, dict):
            self.fail("(profile)", "must be a JSON object")
        for key in doc:
            if key not in _KEYS:
                self.fail(key, "is not a profile key")
        for key in _COMPLETE if complete else ():
            if key not in doc:
                self.fail(key, "is missing")
        for key in ("name", "description"):
            if key in doc:
                p[key] = self.text(doc[key], key)
        if "gamut" in doc:
            p["gamut"] = self.choice(doc["gamut"], "gamut", list(_SPACES))
            corners = colour.reference_gamut(_SPACES[p["gamut"]][0]).triangle
            p["primaries"] = [v for corner in corners for v in corner]
        if "white" in doc:
            p["white"] = list(self.white(doc["white"]))
        if "tone_curve" in doc:
            p["tone_curve"] = self.choice(doc["tone_curve"], "tone_curve", _CURVES)
        if "gamma" in doc:
            p["gamma"] = self.number(doc["gamma"], "gamma", 0.1, 10.0)
        if complete and p.get("tone_curve") == "gamma" and "gamma" not in doc:
            self.fail("gamma", "is missing (tone_curve gamma)")
        if "tolerances" in doc:
            self.tolerances(doc["tolerances"], p, complete)
        elif complete:
            self.fail("tolerances", "is missing")

    def tolerances(self, v: Any, p: Dict[str, Any], complete: bool) -> None:
        if not isinstance(v, dict):
            self.fail("tolerances", "must be an object")
        for key, value in v.items():
            if key not in TOLERANCES:
                self.fail(f"tolerances.{key}", "is not a tolerance")
            p["tolerances"][key] = (None if value is None
                                    else self.number(value, f"tolerances.{key}", 0.0, math.inf))
        for key in TOLERANCES if complete else ():
            if key not in v:
                self.fail(f"tolerances.{key}", "is missing")


def _type_name(v: Any) -> str:
    names = {type(None): "null", bool: "boolean", str: "string", list: "array", dict: "object"}
    return names.get(type(v), "number")


def _builtin(name: str) -> Dict[str, Any]:
    p: Dict[str, Any] = {"name": name, "gamma": 2.2, "tolerances": {k: None for k in TOLERANCES}}
    _Reader(f"built-in profile {name}").apply(_builtin_documents()[name], p, True)
    return p


def load_profile(profile: Union[str, "os.PathLike[str]", Mapping[str, Any]]) -> Dict[str, Any]:
    """A built-in profile by name, a profile file, or a profile's JSON as a
    dict, resolved: ``name``, ``description``, ``gamut``, ``primaries``,
    ``white``, ``tone_curve``, ``gamma``, ``tolerances``. Raises
    :class:`ProfileError`."""
    if isinstance(profile, str) and profile in _builtin_documents():
        return _builtin(profile)
    if isinstance(profile, Mapping):
        doc, source, stem = dict(profile), "profile", "profile"
    else:
        path = Path(profile)
        try:
            text = path.read_bytes()
        except OSError:
            raise ProfileError(str(profile), "(file)", "cannot be read") from None
        try:
            doc = json.loads(text)
        except ValueError:
            raise ProfileError(str(profile), "(syntax)", "not JSON") from None
        source, stem = str(profile), path.stem
    reader = _Reader(source)
    base = "srgb"
    if isinstance(doc, dict) and "base" in doc:
        base = reader.choice(doc["base"], "base", builtin_profiles())
    p = _builtin(base)
    p["name"] = stem
    reader.apply(doc, p, False)
    return p


# ---- targets ----------------------------------------------------------------


def _times(m: Sequence[float], v: Sequence[float]) -> List[float]:
    return [m[3 * r] * v[0] + m[3 * r + 1] * v[1] + m[3 * r + 2] * v[2] for r in range(3)]


def _inverse(m: Sequence[float]) -> List[float]:
    c = [m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
         m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
         m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]]
    det = m[0] * c[0] + m[1] * c[3] + m[2] * c[6]
    return [v / det for v in c]


def _xyz_of_xy(x: float, y: float, luminance: float) -> List[float]:
    return [x / y * luminance, luminance, (1.0 - x - y) / y * luminance]


class _Target:
    """The profile's display at the measured white (and black, for BT.1886)."""

    def __init__(self, p: Dict[str, Any], white_y: float, black_y: float):
        self.p, self.white_y = p, white_y
        self.black_y = black_y if black_y < white_y else 0.0
        self.white = _xyz_of_xy(p["white"][0], p["white"][1], white_y)
        pr = p["primaries"]
        columns = [_xyz_of_xy(pr[2 * c], pr[2 * c + 1], 1.0) for c in range(3)]
        primaries = [columns[c][r] for r in range(3) for c in range(3)]
        scale = _times(_inverse(primaries), self.white)
        self.to_xyz = [primaries[i] * scale[i % 3] for i in range(9)]
        self.to_rgb = _inverse(self.to_xyz)

    def light(self, v: float) -> float:
        curve = self.p["tone_curve"]
        if curve == "srgb":
            return colour.eotf([v], "sRGB")[0]
        if curve == "gamma":
            return colour.eotf([v], "gamma", gamma=self.p["gamma"])[0]
        if curve == "bt1886":
            return colour.eotf([v], "BT.1886", white=self.white_y, black=self.black_y)[0] / \
                self.white_y
        return min(colour.eotf([v], "PQ")[0], self.white_y) / self.white_y

    def xyz(self, rgb: Sequence[float]) -> List[float]:
        return _times(self.to_xyz, [self.light(v) for v in rgb])


def _chromaticity(xyz: Sequence[float]):
    try:
        return colour.xyz_to_chromaticity(list(xyz))
    except ColourError:
        return None


def _delta_e(reference: Sequence[float], sample: Sequence[float], white: Sequence[float]) -> float:
    return colour.delta_e_2000(colour.xyz_to_lab(list(reference), white),
                               colour.xyz_to_lab(list(sample), white))


def _delta_uv(a, b) -> Optional[float]:
    ca, cb = _chromaticity(a), _chromaticity(b)
    if ca is None or cb is None:
        return None
    return math.hypot(ca.u_prime - cb.u_prime, ca.v_prime - cb.v_prime)


def percentile(values: Iterable[float], percent: float) -> float:
    """As NumPy's default: linear between the closest ranks."""
    v = sorted(values)
    at = (len(v) - 1) * percent / 100.0
    low = math.floor(at)
    if low + 1 >= len(v):
        return v[-1]
    return v[low] + (v[low + 1] - v[low]) * (at - low)


# ---- checks -----------------------------------------------------------------


def _finite(v: Optional[float]) -> Optional[float]:
    return v if v is not None and math.isfinite(v) else None


class _Checks:
    def __init__(self, p: Dict[str, Any]):
        self.p = p

    def __call__(self, id: str, figure: str, of: str, measured: Optional[float],
                 target: Optional[float], tolerance: Optional[str]) -> Dict[str, Any]:
        limit = self.p["tolerances"][tolerance] if tolerance else None
        how = TOLERANCES[tolerance][0] if tolerance else None
        return {"id": id, "figure": figure, "measured": _finite(measured),
                "target": _finite(target), "unit": _UNITS[of], "tolerance": limit,
                "tolerance_key": tolerance, "test": how,
                "verdict": _judge(measured, target, how, limit), "_raw": measured}


def _judge(m: Optional[float], t: Optional[float], how: Optional[str],
           limit: Optional[float]) -> str:
    if m is None or math.isnan(m):
        return "not measured"
    if how is None or limit is None:
        return "reported"
    t = t or 0.0
    ok = {"at_most": lambda: m <= limit, "at_least": lambda: m >= limit,
          "within": lambda: abs(m - t) <= limit,
          "within_percent": lambda: abs(m - t) <= limit / 100.0 * abs(t)}[how]()
    return "PASS" if ok else "FAIL"


def _badness(c: Dict[str, Any]) -> float:
    m, t = c["_raw"], c["target"] or 0.0
    return {"at_most": m, "at_least": -m, "within": abs(m - t),
            "within_percent": abs(m - t) / abs(t) if t else 0.0}[c["test"]]


def _level_text(level: float) -> str:
    return f"{_number_text(round(level * 1000.0) / 10.0)} %"


def _find(readings: Sequence[Any], rgb: Sequence[float]):
    for r in readings:
        if all(abs(a - b) < 1e-9 for a, b in zip(r.rgb, rgb)):
            return r
    return None


def _primary_rank(rgb: Sequence[float]) -> Optional[int]:
    level = max(rgb)
    if level <= 0.0:
        return None
    mask = 0
    for c, v in enumerate(rgb):
        if v == level:
            mask |= 1 << c
        elif v != 0.0:
            return None
    return next((i for i, (m, _) in enumerate(_PRIMARIES) if m == mask), None)


class _Evaluation:
    def __init__(self, readings: Sequence[Any], p: Dict[str, Any]):
        self.readings, self.p, self.make = readings, p, _Checks(p)
        white, black = _find(readings, (1, 1, 1)), _find(readings, (0, 0, 0))
        self.white = list(white.xyz) if white else None
        self.black = list(black.xyz) if black else None
        self.target = None
        self.grey: List[Dict[str, Any]] = []
        self.gamut: List[Dict[str, Any]] = []
        self.checker: List[Dict[str, Any]] = []
        self.fitted = self.target_fitted = None
        if self.white and self.white[1] > 0.0:
            self.target = _Target(p, self.white[1], self.black[1] if self.black else 0.0)
            self.grey_levels()
            self.coloured_patches()

    def white_checks(self) -> List[Dict[str, Any]]:
        w, tw, make = self.white, self.target.white if self.target else None, self.make
        wc = _chromaticity(w) if w else None
        tc = _chromaticity(tw) if tw else None
        cct = target_cct = (None, None)
        if w:
            try:
                cct = colour.xyz_to_cct_duv(w)
            except ColourError:
                pass
        if tw:
            target_cct = colour.xyz_to_cct_duv(tw)
        contrast = None
        if w and self.black:
            try:
                contrast = colour.contrast_ratio(w[1], self.black[1])
            except ColourError:
                pass
        return [
            make("white.luminance", "White luminance", "luminance", w[1] if w else None, None,
                 "white_luminance_min"),
            make("white.x", "White x", "xy", wc.x if wc else None, tc.x if tc else None, None),
            make("white.y", "White y", "xy", wc.y if wc else None, tc.y if tc else None, None),
            make("white.cct", "White CCT", "cct", cct[0], target_cct[0], "white_cct_k"),
            make("white.duv", "White Δuv", "duv", cct[1], target_cct[1], "white_duv"),
            make("white.delta_uv", "White Δu′v′ to the target", "delta_uv",
                 _delta_uv(w, tw) if tw else None, None, "white_delta_uv"),
            make("white.delta_e", "White ΔE2000 to the target", "delta_e",
                 _delta_e(tw, w, tw) if tw else None, None, "white_delta_e"),
            make("black.luminance", "Black luminance", "luminance",
                 self.black[1] if self.black else None, None, "black_max"),
            make("contrast", "Contrast ratio", "contrast", contrast, None, "contrast_min"),
        ]

    def grey_levels(self) -> None:
        seen = set()
        for r in self.readings:
            if not (r.rgb[0] == r.rgb[1] == r.rgb[2]) or r.rgb[0] in seen:
                continue
            seen.add(r.rgb[0])
            level = r.rgb[0]
            self.grey.append({"level": level, "xyz": list(r.xyz),
                              "target_luminance": self.target.xyz((level,) * 3)[1],
                              "point_gamma": None, "target_point_gamma": None, "balance": None,
                              "checks": []})
        self.grey.sort(key=lambda g: g["level"])
        self.point_gammas()
        for g in self.grey:
            self.grey_level_checks(g)

    def point_gammas(self) -> None:
        levels = [g["level"] for g in self.grey]
        y = [g["xyz"][1] for g in self.grey]
        ty = [g["target_luminance"] for g in self.grey]
        try:
            gamma, target_gamma = colour.point_gamma(levels, y), colour.point_gamma(levels, ty)
        except ColourError:
            return
        for g, m, t in zip(self.grey, gamma, target_gamma):
            if not math.isnan(t):
                g["point_gamma"], g["target_point_gamma"] = m, t
        try:
            self.fitted, self.target_fitted = (colour.fit_gamma(levels, y),
                                               colour.fit_gamma(levels, ty))
        except ColourError:
            pass

    def grey_level_checks(self, g: Dict[str, Any]) -> None:
        if g["level"] <= 0.0:
            return
        name, y, tw, make = f"Grey {_level_text(g['level'])}: ", g["xyz"][1], self.target.white, \
            self.make
        target = [tw[0] * y / tw[1], y, tw[2] * y / tw[1]]
        g["checks"].append(make("grey.luminance", name + "luminance", "luminance", y,
                                g["target_luminance"], "grey_luminance_percent"))
        if g["point_gamma"] is not None:
            g["checks"].append(make("grey.point_gamma", name + "point gamma", "gamma",
                                    g["point_gamma"], g["target_point_gamma"], "point_gamma"))
        if _chromaticity(g["xyz"]) is None:
            return
        g["checks"].append(make("grey.delta_e", name + "ΔE2000", "delta_e",
                                _delta_e(target, g["xyz"], tw), None, "grey_delta_e"))
        g["checks"].append(make("grey.delta_uv", name + "Δu′v′", "delta_uv",
                                _delta_uv(g["xyz"], target), None, "grey_delta_uv"))
        g["balance"] = [c * 100.0 * tw[1] / y for c in _times(self.target.to_rgb, g["xyz"])]

    def coloured(self, r: Any, id: str, figure: str, tolerance: str) -> Dict[str, Any]:
        target = self.target.xyz(r.rgb)
        xy, txy = _chromaticity(r.xyz), _chromaticity(target)
        return {"id": r.id, "name": r.name, "rgb": list(r.rgb), "xyz": list(r.xyz),
                "target_xyz": target, "xy": [xy.x, xy.y] if xy else None,
                "target_xy": [txy.x, txy.y] if txy else None,
                "delta_e": self.make(id, figure, "delta_e",
                                     _delta_e(target, r.xyz, self.target.white), None, tolerance)}

    def coloured_patches(self) -> None:
        ranked = []
        for r in self.readings:
            rank = _primary_rank(r.rgb)
            if rank is None or _find(self.readings, r.rgb) is not r:
                continue
            figure = f"{_PRIMARIES[rank][1]} {_level_text(max(r.rgb))}: ΔE2000"
            ranked.append(((rank, max(r.rgb)),
                           self.coloured(r, "gamut.delta_e", figure, "gamut_delta_e")))
        self.gamut = [c for _, c in sorted(ranked, key=lambda item: item[0])]
        for p in patches.builtin("checker"):
            r = _find(self.readings, p.rgb)
            if r is not None:
                self.checker.append(self.coloured(r, "checker.patch", f"{p.name}: ΔE2000",
                                                  "checker_delta_e_max"))

    def gamut_checks(self) -> Tuple[Optional[List[float]], List[Dict[str, Any]]]:
        corners: Dict[int, List[float]] = {}
        for c in self.gamut:
            rank = _primary_rank(c["rgb"])
            if rank < 3 and max(c["rgb"]) == 1.0 and c["xy"]:
                corners[rank] = c["xy"]
        triangle = coverage = area = None
        if len(corners) == 3:
            triangle = [v for rank in range(3) for v in corners[rank]]
            coverage = 100.0 * colour.gamut_coverage(triangle, self.p["primaries"])
            area = 100.0 * colour.gamut_area_ratio(triangle, self.p["primaries"])
        shown = _SPACES[self.p["gamut"]][1]
        return triangle, [
            self.make("gamut.coverage", f"Coverage of {shown}", "percent", coverage, 100.0,
                      "coverage_min"),
            self.make("gamut.area", f"Gamut area relative to {shown}", "percent", area, 100.0,
                      None)]

    def checker_checks(self) -> List[Dict[str, Any]]:
        de = [c["delta_e"]["_raw"] for c in self.checker]
        mean = sum(de) / len(de) if de else None
        p95 = percentile(de, 95.0) if de else None
        return [
            self.make("checker.mean", "Colour checker: mean ΔE2000", "delta_e", mean, None,
                      "checker_delta_e_mean"),
            self.make("checker.p95", "Colour checker: 95th percentile ΔE2000", "delta_e", p95,
                      None, "checker_delta_e_p95"),
            self.make("checker.max", "Colour checker: largest ΔE2000", "delta_e",
                      max(de) if de else None, None, "checker_delta_e_max")]

    def worst(self, group: List[Dict[str, Any]], id: str, figure: str, of: str,
              tolerance: str) -> Dict[str, Any]:
        found = [c for c in group if c["id"] == id and c["_raw"] is not None
                 and not math.isnan(c["_raw"])]
        if found:
            return max(found, key=_badness)  # the first of equals, as the tool
        return self.make(id, figure, of, None, None, tolerance)

    def result(self) -> Dict[str, Any]:
        white = self.white_checks()
        grey_checks = [self.make("gamma", "Gamma (fitted to the grey scale)", "gamma",
                                 self.fitted, self.target_fitted, "gamma")]
        triangle, gamut_checks = self.gamut_checks()
        checker_checks = self.checker_checks()
        group = ([c for g in self.grey for c in g["checks"]]
                 + [c["delta_e"] for c in self.gamut + self.checker])
        summary = white + grey_checks + [
            self.worst(group, "grey.luminance", "Grey scale: luminance", "luminance",
                       "grey_luminance_percent"),
            self.worst(group, "grey.point_gamma", "Grey scale: point gamma", "gamma",
                       "point_gamma"),
            self.worst(group, "grey.delta_e", "Grey scale: ΔE2000", "delta_e", "grey_delta_e"),
            self.worst(group, "grey.delta_uv", "Grey scale: Δu′v′", "delta_uv", "grey_delta_uv"),
            self.worst(group, "gamut.delta_e", "Primaries and secondaries: ΔE2000", "delta_e",
                       "gamut_delta_e"),
        ] + gamut_checks + checker_checks
        failed = any(c["verdict"] == "FAIL" for c in group + summary)
        out = {
            "profile": {k: self.p[k] for k in ("name", "description", "gamut", "primaries",
                                               "white", "tone_curve", "gamma", "tolerances")},
            "verdict": "FAIL" if failed else "PASS",
            "summary": summary,
            "white": {"xyz": self.white, "black_xyz": self.black,
                      "target_xyz": self.target.white if self.target else None, "checks": white},
            "grey": {"levels": self.grey, "checks": grey_checks},
            "gamut": {"patches": self.gamut, "triangle": triangle, "checks": gamut_checks},
            "checker": {"patches": self.checker, "checks": checker_checks},
        }
        return _without_raw(out)


def _without_raw(v: Any) -> Any:
    if isinstance(v, dict):
        return {k: _without_raw(x) for k, x in v.items() if k != "_raw"}
    if isinstance(v, list):
        return [_without_raw(x) for x in v]
    if isinstance(v, float) and not math.isfinite(v):
        return None
    return v


def evaluate(readings: Any, profile: Union[str, Mapping[str, Any], "os.PathLike[str]"] = "srgb"
             ) -> Dict[str, Any]:
    """The report's figures and verdicts (see the module's text) of
    `readings`: a :class:`ca410.cgats.MeasurementFile` or its ``readings``
    (anything with ``id``, ``name``, ``rgb`` 0..1 and ``xyz``), against a
    profile (a built-in name, a file or a dict; :func:`load_profile`)."""
    p = profile if isinstance(profile, dict) and "primaries" in profile else load_profile(profile)
    readings = list(getattr(readings, "readings", readings))
    return _Evaluation(readings, p).result()
