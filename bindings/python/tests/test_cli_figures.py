"""The colour functions give the command-line tool's gamut figures on the
same measurements (CA410_CLI names the tool)."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import FAST

from ca410 import colour
from ca410.sim import VirtualInstrument

# A display whose gamut crosses sRGB's edges, so the figures are not trivial.
PRIMARIES = ["--red", "45.45,25,5.3", "--green", "25.74,70,7.21", "--blue", "19.2,6,94.8"]
LEVELS = {"white": "1 1 1", "red": "1 0 0", "green": "0 1 0", "blue": "0 0 1"}


def test_gamut_figures_match_the_tool(sim_program, tmp_path):
    cli = os.environ.get("CA410_CLI")
    if not cli or not Path(cli).is_file():
        pytest.skip(f"SKIPPED: CA410_CLI does not name the ca410 tool ({cli!r})")
    with VirtualInstrument(sim_program, FAST + PRIMARIES) as sim:
        emitted = {c: sim.show(*map(float, LEVELS[c].split())) for c in LEVELS}
        show = tmp_path / "show.py"
        show.write_text(
            "import socket, sys\n"
            f"levels = {LEVELS!r}\n"
            "s = socket.socket(socket.AF_UNIX)\n"
            f"s.connect({sim.control_path!r})\n"
            "s.sendall(('show ' + levels[sys.argv[-1]] + '\\n').encode())\n"
            "s.recv(4096)\n"
        )
        out = subprocess.run(
            [cli, "gamut", "--port", sim.port, "--show-command", f"{sys.executable} {show}"],
            capture_output=True, text=True, timeout=60,
        )
    assert out.returncode == 0, out.stderr
    text = out.stdout
    triangle = [colour.xyz_to_xy(emitted[c]) for c in ("red", "green", "blue")]
    ratio = colour.gamut_area_ratio(triangle, "sRGB")
    assert 0.02 < abs(1 - ratio) and 0.01 < 1 - colour.gamut_coverage(triangle, "sRGB")
    area = re.search(r"relative to sRGB: ([\d.]+) \(([\d.]+) %\)", text)
    assert float(area.group(2)) == pytest.approx(100 * ratio, abs=0.051)
    for ref in ("sRGB", "DCI-P3"):
        shown = float(re.search(rf"coverage of {re.escape(ref)}:\s+([\d.]+) %", text).group(1))
        assert shown == pytest.approx(100 * colour.gamut_coverage(triangle, ref), abs=0.051)
    cct, duv = colour.xyz_to_cct_duv(emitted["white"])
    shown_cct = float(re.search(r"CCT ([\d.]+) K", text).group(1))
    assert shown_cct == pytest.approx(cct, abs=0.51)
    for name, (x, y) in zip(("red", "green", "blue"), triangle):
        row = re.search(rf"^{name}\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)", text, re.M)
        assert (float(row.group(4)), float(row.group(5))) == pytest.approx((x, y), abs=6e-5)
