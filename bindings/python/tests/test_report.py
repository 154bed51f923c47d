"""The display report: the tool's exit status and --json against
ca410.report.evaluate on measurement files the demo measures from the
simulator's ideal and imperfect displays (CA410_CLI names the tool); the
HTML page checked by a parser; the diagrams' wavelength labels clear of the
locus; malformed profiles and files; the plots."""

import json
import math
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from html.parser import HTMLParser
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # this checkout's package

from ca410 import cgats, report  # noqa: E402

REPO = Path(__file__).resolve().parents[3]
SVG = "{http://www.w3.org/2000/svg}"


@pytest.fixture(scope="module")
def tool():
    path = os.environ.get("CA410_CLI")
    if not path or not Path(path).is_file():
        pytest.skip(f"SKIPPED: CA410_CLI does not name the ca410 tool ({path!r})")
    return path


@pytest.fixture(scope="module")
def runs(tool, tmp_path_factory):
    """The demo's measurement file and report page of each display."""
    out = {}
    for display in ("ideal", "imperfect"):
        d = tmp_path_factory.mktemp(display)
        p = subprocess.run([tool, "demo", "--display", display, "--report", str(d / "r.html"),
                            "--measurements", str(d / "run.ti3")], capture_output=True, text=True)
        assert p.returncode == 0, p.stdout + p.stderr
        out[display] = d
    return out


def same(a, b, path=""):
    if isinstance(a, dict):
        assert set(a) == set(b), (path, set(a) ^ set(b))
        for k in a:
            same(a[k], b[k], f"{path}.{k}")
    elif isinstance(a, list):
        assert len(a) == len(b), path
        for i, (x, y) in enumerate(zip(a, b)):
            same(x, y, f"{path}[{i}]")
    elif isinstance(a, float) or isinstance(b, float):
        assert math.isclose(a, b, rel_tol=1e-9, abs_tol=1e-12), (path, a, b)
    else:
        assert a == b, (path, a, b)


@pytest.mark.parametrize("display, profile, status", [
    ("ideal", "srgb", 0), ("imperfect", "srgb", 1), ("imperfect", "bt1886", 1),
    ("ideal", "hdr10", 1), ("imperfect", "dci-p3-d65", 1)])
def test_tool_status_and_json_are_pythons_figures(tool, runs, tmp_path, display, profile, status):
    run = runs[display] / "run.ti3"
    p = subprocess.run([tool, "report", "--from", str(run), "--profile", profile, "--json",
                        str(tmp_path / "r.json")], capture_output=True, text=True)
    assert p.returncode == status, p.stderr
    assert f"overall: {'FAIL' if status else 'PASS'}" in p.stdout
    produced = json.loads((tmp_path / "r.json").read_text(encoding="utf-8"))
    assert produced.pop("source")["file"] == str(run)
    same(produced, report.evaluate(cgats.read(run), profile))


class _Page(HTMLParser):
    VOID = {"meta", "br", "img", "input", "link", "hr", "col", "area", "base", "wbr", "source"}
    SVG_EMPTY = {"line", "polyline", "polygon", "circle", "rect", "stop"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.open, self.problems, self.charts = [], [], []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "script" or any(k.startswith("on") for k in a):
            self.problems.append(f"script: <{tag}>")
        for k in ("href", "src", "xlink:href"):
            if k in a and not str(a[k]).startswith("#"):
                self.problems.append(f"external reference {k}={a[k]}")
        for v in a.values():
            if v and re.search(r"url\((?!#)", v):
                self.problems.append(f"external url: {v}")
        if tag == "svg":
            self.charts.append(a.get("class", ""))
        if tag not in self.VOID:
            self.open.append(tag)

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in self.VOID:
            self.open.pop()

    def handle_endtag(self, tag):
        if not self.open or self.open.pop() != tag:
            self.problems.append(f"</{tag}> does not close the open element")


CHARTS = ["diagram xy", "chart grey-luminance", "chart point-gamma", "chart rgb-balance",
          "chart bars grey-delta-e", "diagram uv", "chart bars gamut-delta-e",
          "chart swatches gamut-swatches", "chart bars checker-delta-e",
          "chart swatches checker-swatches"]


@pytest.mark.parametrize("display", ["ideal", "imperfect"])
def test_page_is_well_formed_self_contained_with_every_chart(runs, display):
    text = (runs[display] / "r.html").read_text(encoding="utf-8")
    page = _Page()
    page.feed(text)
    page.close()
    assert page.problems == [] and page.open == []
    assert page.charts == CHARTS
    assert "@media print" in text and "size: A4" in text
    assert ("<td class=\"verdict-FAIL\">" in text) == (display == "imperfect")
    assert re.search(r"\d,\d", re.sub(r"<[^>]*>", " ", text)) is None  # no decimal comma


def _boxes_clear_of(polygon, boxes):
    def crosses(p, q, r, s):
        def side(a, b, c):
            return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])
        return side(p, q, r) * side(p, q, s) < 0 and side(r, s, p) * side(r, s, q) < 0

    def inside(pt):
        n, hit = len(polygon), False
        for i in range(n):
            (x1, y1), (x2, y2) = polygon[i], polygon[(i + 1) % n]
            if (y1 > pt[1]) != (y2 > pt[1]) and pt[0] < x1 + (pt[1] - y1) * (x2 - x1) / (y2 - y1):
                hit = not hit
        return hit

    for label, (x0, y0, x1, y1) in boxes:
        corners = [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]
        assert not any(inside(c) for c in corners), label
        edges = list(zip(corners, corners[1:] + corners[:1]))
        for i in range(len(polygon)):
            p, q = polygon[i], polygon[(i + 1) % len(polygon)]
            assert not any(crosses(p, q, r, s) for r, s in edges), label


def test_wavelength_labels_lie_outside_the_locus(runs):
    text = (runs["imperfect"] / "r.html").read_text(encoding="utf-8")
    diagrams = re.findall(r'<svg [^>]*class="diagram[^"]*".*?</svg>', text, re.S)
    assert len(diagrams) == 2
    for d in diagrams:
        root = ET.fromstring(d)
        locus = next(p for p in root.iter(SVG + "polygon") if p.get("class") == "spectral-locus")
        polygon = [tuple(map(float, pt.split(","))) for pt in locus.get("points").split()]
        boxes = []
        for t in root.iter(SVG + "text"):
            if t.get("data-nm"):
                x, y, size = float(t.get("x")), float(t.get("y")), float(t.get("font-size"))
                w = 0.6 * size * len(t.text)  # digits of a sans-serif font are narrower
                boxes.append((t.text, (x - w / 2, y - 0.85 * size, x + w / 2, y + 0.15 * size)))
        assert len(boxes) == 12
        _boxes_clear_of(polygon, boxes)


PROFILES = [
    ('{"gamut": "adobe"}', "gamut", "must be one of srgb, dci-p3-d65, bt2020"),
    ('{"base": "p3"}', "base", "must be one of bt1886, dci-p3-d65, hdr10, srgb"),
    ('{"tolerances": {"white_delta_e": -1}}', "tolerances.white_delta_e",
     "must be 0 or more, not -1"),
    ('{"tolerances": {"delta_e": 1}}', "tolerances.delta_e", "is not a tolerance"),
    ('{"white": [0.7, 0.5]}', "white", "x + y must be below 1"),
    ('{"colour": 1}', "colour", "is not a profile key"),
    ('{"gamma": true}', "gamma", "must be a number, not boolean"),
]


@pytest.mark.parametrize("text, key, reason", PROFILES)
def test_malformed_profile_refused_with_key_and_reason(tool, runs, tmp_path, text, key, reason):
    path = tmp_path / "bad.json"
    path.write_text(text, encoding="utf-8")
    html = tmp_path / "r.html"
    p = subprocess.run([tool, "report", "--from", str(runs["ideal"] / "run.ti3"), "--profile",
                        str(path), "--html", str(html)], capture_output=True, text=True)
    assert p.returncode == 2 and f"{path}: {key} {reason}" in p.stderr and not html.exists()
    with pytest.raises(report.ProfileError, match=re.escape(f"{key} {reason}")) as e:
        report.load_profile(path)
    assert e.value.key == key


@pytest.mark.parametrize("content, message", [
    ("CGATS.17\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B XYZ_X XYZ_Y XYZ_Z\n"
     "END_DATA_FORMAT\nNUMBER_OF_SETS 1\nBEGIN_DATA\nA 0 0 zero 0 0 0\nEND_DATA\n",
     "bad.ti3:7: "),
    ("SAMPLE_ID,RGB_R,RGB_G,RGB_B,XYZ_X,XYZ_Y,XYZ_Z\nA,10,20,30,1,2,3\n",
     "no patch a report uses"),
])
def test_malformed_or_useless_measurement_file_is_a_usage_error(tool, tmp_path, content, message):
    path = tmp_path / "bad.ti3"
    path.write_text(content, encoding="utf-8")
    p = subprocess.run([tool, "report", "--from", str(path)], capture_output=True, text=True)
    assert p.returncode == 2 and message in p.stderr, p.stderr


def test_plots_draw_into_the_given_axes_in_the_tools_colours(runs):
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure

    from ca410 import plot
    header = (REPO / "tools" / "cli" / "report_diagram.h").read_text(encoding="utf-8")
    assert f'measured_stroke = "{plot.MEASURED_COLOUR}"' in header
    styles = re.findall(r'\{"(#\w+)", "[\d,]+", (?:"(#\w+)"|nullptr)\}', header)
    assert [(s, b or None) for s, b in styles] == [(s, b) for s, _, b in plot.REFERENCE_STYLES]
    result = report.evaluate(cgats.read(runs["imperfect"] / "run.ti3"))
    axes = Figure().subplots(3, 3).flat
    drawn = [plot.report_diagram(result, next(axes)), plot.report_diagram(result, next(axes), "uv"),
             plot.grey_luminance(result, next(axes)), plot.point_gamma(result, next(axes)),
             plot.rgb_balance(result, next(axes)), plot.delta_e_bars(result, "grey", next(axes)),
             plot.delta_e_bars(result, "gamut", next(axes)),
             plot.swatches(result, "checker", next(axes))]
    assert drawn == list(Figure.get_axes(drawn[0].figure))[:8]
    labels = drawn[0].get_legend_handles_labels()[1]
    assert any(lab.startswith("target white") for lab in labels)
    assert any(lab.startswith("measured white") for lab in labels)
    assert sum(1 for p in drawn[7].patches) == 48
