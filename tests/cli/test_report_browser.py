"""The demo's report of the imperfect display in a real browser: headless
Chromium loads it without a page error or a request for anything outside,
every chart has a size (at a desktop's width and at a phone's, where the
page must not scroll sideways), and it prints to PNG and to an A4 PDF, which
stay in ARTEFACTS for a person to look at.

    test_report_browser.py CA410_TOOL ARTEFACTS
"""

import json
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

CHARTS = ["diagram xy", "chart grey-luminance", "chart point-gamma", "chart rgb-balance",
          "chart bars grey-delta-e", "diagram uv", "chart bars gamut-delta-e",
          "chart swatches gamut-swatches", "chart bars checker-delta-e",
          "chart swatches checker-swatches"]

# Added to a copy of the page only: the report itself carries no script.
MEASURE = """<script>
const out = {charts: [], overflow: document.documentElement.scrollWidth - innerWidth,
             resources: performance.getEntriesByType('resource').map(r => r.name)};
for (const s of document.querySelectorAll('svg')) {
  const b = s.getBoundingClientRect();
  out.charts.push([s.getAttribute('class'), b.width, b.height]);
}
const pre = document.createElement('pre');
pre.id = 'measured';
pre.textContent = JSON.stringify(out);
document.body.appendChild(pre);
</script>"""


def chromium(browser, profile, *args):
    p = subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu",
                        "--disable-background-networking", "--disable-component-update",
                        "--disable-sync", "--no-first-run", f"--user-data-dir={profile}",
                        "--enable-logging=stderr", "--v=0", *args],
                       capture_output=True, text=True, timeout=120)
    errors = [line for line in p.stderr.splitlines()
              if re.search(r"CONSOLE|Uncaught|Failed to load|net::ERR", line)]
    assert p.returncode == 0 and not errors, p.stderr
    return p.stdout


def measured(browser, profile, page, size):
    dom = chromium(browser, profile, f"--window-size={size}", "--dump-dom", page.as_uri())
    found = re.search(r'<pre id="measured">(.*?)</pre>', dom, re.S)
    assert found, "the measuring script did not run"
    return json.loads(found[1].replace("&quot;", '"').replace("&amp;", "&"))


def main():
    tool, artefacts = sys.argv[1], Path(sys.argv[2]).resolve()
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        print("SKIPPED: chromium is not installed (scripts/install-deps installs it)")
        return 0
    artefacts.mkdir(parents=True, exist_ok=True)
    page = artefacts / "report.html"
    p = subprocess.run([tool, "demo", "--display", "imperfect", "--report", str(page)],
                       capture_output=True, text=True, timeout=120)
    assert p.returncode == 0, p.stdout + p.stderr
    with tempfile.TemporaryDirectory() as profile:
        copy = artefacts / "measure.html"
        copy.write_text(page.read_text(encoding="utf-8").replace("</body>", MEASURE + "</body>"),
                        encoding="utf-8")
        for size, width in (("1200,900", 500), ("390,844", 300)):
            m = measured(browser, profile, copy, size)
            assert m["resources"] == [] and m["overflow"] <= 0, (size, m)
            assert [c[0] for c in m["charts"]] == CHARTS, m["charts"]
            small = [c for c in m["charts"] if c[1] < width or c[2] < 100]
            assert small == [], (size, small)
        png, pdf = artefacts / "report.png", artefacts / "report.pdf"
        chromium(browser, profile, "--window-size=1200,9000", f"--screenshot={png}",
                 page.as_uri())
        chromium(browser, profile, "--no-pdf-header-footer", f"--print-to-pdf={pdf}",
                 page.as_uri())
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    pages = len(re.findall(rb"/Type\s*/Page\b", pdf.read_bytes()))
    assert pdf.read_bytes()[:5] == b"%PDF-" and pages >= 5, pages
    print(f"report rendered: {png} and {pdf} ({pages} A4 pages)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
