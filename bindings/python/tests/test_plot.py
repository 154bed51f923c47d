"""The xy diagram: drawn into given axes, and saved as a PNG of the asked size."""

import struct
from pathlib import Path

import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")

from matplotlib.figure import Figure  # noqa: E402

from ca410 import Measurement, plot  # noqa: E402


def test_drawn_into_axes_and_saved(tmp_path):
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
