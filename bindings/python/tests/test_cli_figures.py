"""The colour functions give the command-line tool's gamut figures on the
same measurements (CA410_CLI names the tool)."""

import re
import subprocess
import sys

import pytest
from conftest import FAST, LEVELS, REPO, program

from ca410 import colour
from ca410.sim import VirtualInstrument

# A display whose gamut crosses sRGB's edges, so the figures are not trivial.
PRIMARIES = ["--red", "45.45,25,5.3", "--green", "25.74,70,7.21", "--blue", "19.2,6,94.8"]


def test_gamut_figures_match_the_tool(sim_program):
    cli = program("CA410_CLI", "ca410 tool")
    with VirtualInstrument(sim_program, FAST + PRIMARIES) as sim:
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
