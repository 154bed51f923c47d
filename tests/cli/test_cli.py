#!/usr/bin/env python3
"""The ca410 tool as a user runs it, against the virtual instrument it starts
itself ("ca410 sim"): outputs parsed, exit statuses and messages checked.

Usage: test_cli.py PATH/TO/ca410 [GROUP ...]
       test_cli.py --show CONTROL_SOCKET COLOUR   (the --show-command helper)
"""
import csv
import io
import json
import os
import pty
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

CA410 = None
SVG = "{http://www.w3.org/2000/svg}"
LEVELS = {"white": "1 1 1", "red": "1 0 0", "green": "0 1 0", "blue": "0 0 1"}
# The simulator's display: sRGB primaries, white of Y = 100.
SHOWN = {"white": (95.05, 100.0, 108.9), "red": (41.24, 21.26, 1.93),
         "green": (35.76, 71.52, 11.92), "blue": (18.05, 7.22, 95.05)}
FIGURES = ["X", "Y", "Z", "x", "y", "u'", "v'", "CCT", "duv"]


def control(path, line):
    with socket.socket(socket.AF_UNIX) as s:
        s.connect(path)
        s.sendall((line + "\n").encode())
        return s.makefile().readline().strip()


def run(*args, stdin=subprocess.DEVNULL, env=None, timeout=60):
    e = {k: v for k, v in os.environ.items() if k != "CA410_PORT"}
    e.update(env or {})
    return subprocess.run([CA410, *args], stdin=stdin, capture_output=True, text=True,
                          env=e, timeout=timeout)


class Sim:
    """`ca410 sim` with a link and a control socket in a directory of its own."""

    def __init__(self, *extra):
        self.dir = tempfile.TemporaryDirectory(prefix="ca410-cli-")
        self.port = os.path.join(self.dir.name, "port")
        self.ctl = os.path.join(self.dir.name, "ctl")
        self.proc = subprocess.Popen([CA410, "sim", "--link", self.port, "--control", self.ctl,
                                      *extra], stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while not (os.path.exists(self.port) and os.path.exists(self.ctl)):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise RuntimeError("ca410 sim did not start")
            time.sleep(0.05)

    def control(self, line):
        return control(self.ctl, line)

    def show_command(self):
        return f"{sys.executable} {os.path.abspath(__file__)} --show {self.ctl}"

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)
        self.dir.cleanup()


class SimTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Sim()

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def tool(self, *args, **kw):
        # The port after the subcommand: global options are taken there too.
        return run(*args, "--port", self.sim.port, **kw)

    def assertOk(self, p):
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)

    def assertFigures(self, row, colour, places=3):
        for name, want in zip("XYZ", SHOWN[colour]):
            self.assertAlmostEqual(float(row[name]), want, places=places, msg=f"{colour} {name}")


def text_table(out):
    """The measure text table as {label: {figure: text}}."""
    lines = out.splitlines()
    header = lines[0].split()
    assert header[0] == "reading" and header[1:] == ["X", "Y", "Z", "x", "y", "u'", "v'",
                                                    "CCT/K", "Δuv"], header
    return {cells[0]: dict(zip(FIGURES, cells[1:])) for cells in map(str.split, lines[1:])}


class Usage(unittest.TestCase):
    def test_version(self):
        p = run("--version")
        self.assertEqual(p.returncode, 0)
        self.assertRegex(p.stdout, r"^ca410 \d+\.\d+\.\d+\n$")

    def test_help_documents_the_exit_statuses(self):
        p = run("--help")
        self.assertEqual(p.returncode, 0)
        statuses = p.stdout.split("Exit status:")[1]
        for code in ("0", "1", "2", "3", "130"):
            self.assertRegex(statuses, rf"\n +{code} +\S")

    def test_unknown_subcommand_lists_the_valid_ones(self):
        p = run("frobnicate")
        self.assertEqual(p.returncode, 2)
        self.assertIn("unknown subcommand 'frobnicate'", p.stderr)
        for sub in ("measure", "calibrate", "gamut", "channels", "demo", "sim"):
            self.assertIn(sub, p.stderr)

    def test_refused_command_lines(self):
        for args in (["channel", "100"], ["speed", "4"], ["delete", "0"],
                     ["measure", "--format", "xml"], ["measure", "--log-level", "9"],
                     ["calibrate", "--channel", "5"], ["measure", "-n", "2", "--watch"]):
            with self.subTest(args=args):
                self.assertEqual(run(*args, "--port", "/dev/null").returncode, 2)

    def test_no_port(self):
        p = run("measure")
        self.assertEqual(p.returncode, 2)
        self.assertIn("no port: give --port PORT or set CA410_PORT", p.stderr)

    def test_missing_port_names_the_port_and_the_cause(self):
        for args, env in ((["identify", "--port", "/nonexistent/ttyCA"], None),
                          (["info"], {"CA410_PORT": "/nonexistent/ttyCA"})):
            with self.subTest(args=args):
                p = run(*args, env=env)
                self.assertEqual(p.returncode, 1)
                self.assertIn("CA_E_OPEN (40): opening the instrument failed", p.stderr)
                self.assertIn("'/nonexistent/ttyCA'", p.stderr)
                self.assertIn("powered and connected", p.stderr)

    def test_sim_passes_its_arguments_through(self):
        p = run("sim", "--help")
        self.assertEqual(p.returncode, 0)
        self.assertIn("--control", p.stdout)


class Measure(SimTest):
    def test_text(self):
        p = self.tool("measure", "-n", "3")
        self.assertOk(p)
        rows = text_table(p.stdout)
        self.assertEqual(list(rows), ["1", "2", "3", "mean", "std"])
        self.assertFigures(rows["mean"], "white")
        self.assertAlmostEqual(float(rows["1"]["x"]), 0.3127, places=4)
        self.assertAlmostEqual(float(rows["1"]["v'"]), 0.4683, places=4)
        self.assertAlmostEqual(float(rows["1"]["CCT"]), 6504, delta=2)
        self.assertAlmostEqual(float(rows["1"]["duv"]), 0.0032, places=4)
        self.assertTrue(all(float(v) == 0 for v in rows["std"].values()))

    def test_csv(self):
        p = self.tool("measure", "-n", "2", "--format", "csv")
        self.assertOk(p)
        rows = list(csv.DictReader(io.StringIO(p.stdout)))
        self.assertEqual([r["reading"] for r in rows], ["1", "2", "mean", "std"])
        self.assertFigures(rows[0], "white")
        self.assertAlmostEqual(float(rows[2]["CCT"]), 6504, delta=2)

    def test_json(self):
        for count, summary in (("3", True), ("1", False)):
            with self.subTest(count=count):
                p = self.tool("measure", "-n", count, "--format", "json")
                self.assertOk(p)
                doc = json.loads(p.stdout)
                self.assertEqual(doc["channel"], 0)
                self.assertEqual(len(doc["readings"]), int(count))
                self.assertEqual(list(doc["readings"][0]), FIGURES)
                self.assertFigures(doc["readings"][0], "white")
                self.assertEqual("mean" in doc and "std" in doc, summary)

    def test_a_colour_without_cct(self):
        self.sim.control("show 0 0 1")
        try:
            p = self.tool("measure", "--format", "json")
        finally:
            self.sim.control("show 1 1 1")
        self.assertOk(p)
        reading = json.loads(p.stdout)["readings"][0]
        self.assertFigures(reading, "blue")
        self.assertIsNone(reading["CCT"])

    def test_info(self):
        p = self.tool("info")
        self.assertOk(p)
        info = dict(re.split(r"\s{2,}", line, maxsplit=1) for line in p.stdout.splitlines())
        self.assertEqual(info["model"], "CA-410")
        self.assertEqual(info["serial number"], "41000001")
        self.assertEqual(info["display mode"], "7")
        self.assertEqual(info["zero calibration status"], "2")

    def test_channel_and_speed_reach_the_instrument(self):
        for args, setting in ((["channel", "3"], "channel=3"), (["speed", "2"], "speed=2"),
                              (["channel", "0"], "channel=0")):
            with self.subTest(args=args):
                self.assertOk(self.tool(*args))
                self.assertIn(setting, self.sim.control("settings").split())

    def test_watch_ends_on_ctrl_c_and_releases_the_port(self):
        with subprocess.Popen([CA410, "measure", "--watch", "--interval", "20", "--format",
                               "csv", "--port", self.sim.port], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True) as p:
            self.assertTrue(p.stdout.readline().startswith("reading,"))
            for n in ("1", "2"):
                self.assertTrue(p.stdout.readline().startswith(n + ","))
            p.send_signal(signal.SIGINT)
            rest, err = p.communicate(timeout=10)
        self.assertEqual(p.returncode, 0)
        self.assertRegex(rest, r"(?m)^mean,")
        self.assertIn("interrupted", err)
        self.assertOk(self.tool("identify"))


class Failures(SimTest):
    def tearDown(self):
        self.sim.control("fault clear")

    def test_silent_instrument(self):
        cases = (("fault silent-next 5", "identify", "CA_E_OPEN (40)", "powered and connected"),
                 ("fault answer-frame MES,1", "measure", "CA_E_MEASURE (55)", "--log-level 8"))
        for fault, sub, code, hint in cases:
            with self.subTest(sub=sub):
                self.assertEqual(self.sim.control(fault), "ok")
                p = self.tool(sub)
                self.sim.control("fault clear")
                self.assertEqual(p.returncode, 1)
                self.assertIn(code, p.stderr)
                self.assertIn(hint, p.stderr)

    def test_measurement_before_zero_calibration(self):
        # The instrument acknowledges the zero calibration without doing it.
        sim = Sim("--fault", "answer-frame ZRC OK00")
        try:
            p = run("measure", "--port", sim.port)
        finally:
            sim.stop()
        self.assertEqual(p.returncode, 1)
        self.assertIn("CA_E_NOT_READY (50)", p.stderr)
        self.assertIn("ca410 zero-cal", p.stderr)

    def test_zero_calibration_refused_for_light(self):
        self.sim.control("fault error-head ZRC 21")
        p = self.tool("zero-cal")
        self.assertEqual(p.returncode, 1)
        self.assertIn("CA_E_ZERO_CAL (42)", p.stderr)
        self.assertIn("cap it", p.stderr)


class Calibration(SimTest):
    TARGETS = {c: tuple(round(v * 1.02, 6) for v in SHOWN[c]) for c in SHOWN}

    def write(self, text):
        path = os.path.join(self.sim.dir.name, "targets.csv")
        with open(path, "w") as f:
            f.write(text)
        return path

    def targets_file(self):
        return self.write("colour,X,Y,Z\n" + "".join(
            f"{c},{x},{y},{z}\n" for c, (x, y, z) in self.TARGETS.items()))

    def test_malformed_targets_are_refused_before_anything_is_sent(self):
        cases = (("white,1,2\n", 1, "expected 4 fields (colour,X,Y,Z), found 3"),
                 ("colour,X,Y,Z\n# ok\nwhite,1,2,3\npurple,1,2,3\n", 4,
                  "'purple' is not a colour"),
                 ("white,1,x,3\n", 1, "Y of white: 'x' is not a number"),
                 ("white,1,0,3\n", 1, "Y of white is 0; Y must be above 0"),
                 ("red,1,2,-3\n", 1, "Z of red is -3; must not be negative"),
                 ("white,1,2,3\nW,1,2,3\n", 2, "white given twice (first on line 1)"),
                 ("white,1,2,3\nred,1,2,3\n", None, "no target for green, blue"))
        for text, line, reason in cases:
            with self.subTest(text=text):
                path = self.write(text)
                self.sim.control("clear-frames")
                p = self.tool("calibrate", "--channel", "5", "--targets", path, "--no-prompt")
                self.assertEqual(p.returncode, 2)
                where = f"{path}:{line}: " if line else f"{path}: "
                self.assertIn(where + reason, p.stderr)
                self.assertEqual(self.sim.control("frames"), "ok 0")

    def test_long_channel_name_refused(self):
        self.sim.control("clear-frames")
        p = self.tool("calibrate", "--channel", "5", "--name", "TENLETTERS",
                      "--targets", self.targets_file(), "--no-prompt")
        self.assertEqual(p.returncode, 2)
        self.assertIn("longer than 9 characters", p.stderr)
        self.assertEqual(self.sim.control("frames"), "ok 0")

    def test_calibration_flow(self):
        p = self.tool("calibrate", "--channel", "5", "--name", "LAB-A", "--targets",
                      self.targets_file(), "--no-prompt", "--show-command",
                      self.sim.show_command())
        self.assertOk(p)
        rows = {r[0]: r[1:] for r in map(str.split, p.stdout.splitlines()[1:5])}
        for c in SHOWN:
            self.assertEqual([float(v) for v in rows[c][:3]], list(self.TARGETS[c]))
            for got, want in zip(rows[c][3:], SHOWN[c]):
                self.assertAlmostEqual(float(got), want, places=3)
        self.assertIn("stored in channel 5, name 'LAB-A'", p.stdout)

        listing = self.tool("channels")
        self.assertOk(listing)
        self.assertIn(("5", "LAB-A"), [tuple(l.split()) for l in listing.stdout.splitlines()])

        calfile = self.tool("calfile", "5")
        self.assertOk(calfile)
        lines = calfile.stdout.splitlines()
        self.assertEqual(lines[1].split(), ["name", "LAB-A"])
        white = [float(v) for v in lines[4].split()[1:4]]
        self.assertEqual(lines[4].split()[0], "white")
        self.assertEqual(white, list(self.TARGETS["white"]))

        self.sim.control("show 1 1 1")
        through = self.tool("measure", "--channel", "5", "--format", "json")
        self.assertOk(through)
        reading = json.loads(through.stdout)["readings"][0]
        for name, want in zip("XYZ", self.TARGETS["white"]):
            self.assertAlmostEqual(reading[name], want, places=3)

        self.assertOk(self.tool("channel", "0"))
        self.assertOk(self.tool("delete", "5"))
        self.assertNotIn("LAB-A", self.tool("channels").stdout)

    def test_channel_walk_progress_only_on_a_terminal(self):
        self.assertNotIn("reading calibration channels", self.tool("channels").stderr)
        main, sub = pty.openpty()
        try:
            p = subprocess.run([CA410, "channels", "--port", self.sim.port], stderr=sub,
                               stdout=subprocess.DEVNULL, timeout=60)
            os.close(sub)
            sub = -1
            seen = b""
            while select.select([main], [], [], 0.5)[0]:
                try:
                    seen += os.read(main, 4096)
                except OSError:
                    break
        finally:
            if sub >= 0:
                os.close(sub)
            os.close(main)
        self.assertRegex(seen.decode(), r"\r[|/\\-] reading calibration channels 1 to 99 \d+\.\d s")
        self.assertEqual(p.returncode, 0)

    def test_colours_not_shown_fail_with_a_hint(self):
        # --no-prompt while the display stays white: the instrument refuses.
        p = self.tool("calibrate", "--channel", "6", "--targets", self.targets_file(),
                      "--no-prompt")
        self.assertEqual(p.returncode, 1)
        self.assertRegex(p.stderr, r"CA_E_CAL_\w+ \(\d+\)")
        self.assertIn("each colour was on the display", p.stderr)

    def test_prompt_without_an_operator(self):
        p = self.tool("calibrate", "--channel", "6", "--targets", self.targets_file())
        self.assertEqual(p.returncode, 2)
        self.assertIn("Show full white on the display", p.stderr)
        self.assertIn("standard input closed", p.stderr)


def gamut_lines(out):
    """The gamut report's colour rows as {colour: (x, y)} and its three figures."""
    rows = {m[1]: (float(m[2]), float(m[3])) for m in re.finditer(
        r"(?m)^\s*(white|red|green|blue)\s+\S+\s+\S+\s+\S+\s+(\S+)\s+(\S+)", out)}
    area = float(re.search(r"gamut area relative to sRGB: (\S+)", out)[1])
    srgb = float(re.search(r"coverage of sRGB:\s+(\S+) %", out)[1])
    p3 = float(re.search(r"coverage of DCI-P3:\s+(\S+) %", out)[1])
    return rows, area, srgb, p3


def svg_points(path):
    root = ET.parse(path).getroot()
    points = {c.get("data-colour"): (float(c.get("data-x")), float(c.get("data-y")))
              for c in root.iter(SVG + "circle")}
    locus = [p for p in root.iter(SVG + "polygon") if p.get("class") == "spectral-locus"]
    return points, len(locus[0].get("points").split())


class Gamut(SimTest):
    def test_srgb_display(self):
        svg = os.path.join(self.sim.dir.name, "gamut.svg")
        p = self.tool("gamut", "--no-prompt", "--show-command", self.sim.show_command(),
                      "--svg", svg)
        self.assertOk(p)
        rows, area, srgb, p3 = gamut_lines(p.stdout)
        self.assertEqual((area, srgb), (1.00, 100.0))
        self.assertAlmostEqual(p3, 73.7, delta=0.1)
        self.assertIn("CCT 6503", p.stdout)
        for c, (x, y) in (("red", (0.64, 0.33)), ("green", (0.30, 0.60)),
                          ("blue", (0.15, 0.06))):
            self.assertAlmostEqual(rows[c][0], x, places=3)
            self.assertAlmostEqual(rows[c][1], y, places=3)
        points, locus = svg_points(svg)
        self.assertEqual(set(points), set(SHOWN))
        for c, xy in rows.items():
            self.assertEqual(tuple(round(v, 5) for v in points[c]), xy)
        self.assertGreater(locus, 400)


class Demo(unittest.TestCase):
    def test_end_to_end(self):
        with tempfile.TemporaryDirectory(prefix="ca410-cli-") as d:
            svg = os.path.join(d, "demo.svg")
            start = time.monotonic()
            p = run("demo", "--svg", svg)
            elapsed = time.monotonic() - start
            self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
            self.assertLess(elapsed, 20)
            self.assertRegex(p.stdout, r"all \d+ steps did what they should")
            self.assertNotRegex(p.stdout, r"FAILED|WRONG")
            for step in ("open the port", "initialise", "identity", "zero calibration",
                         "measure white", "measure blue", "WRGB calibration into a channel",
                         "list the channels", "read the channel back",
                         "measure white through the channel",
                         "delete the channel", "gamut report", "xy diagram"):
                self.assertRegex(p.stdout, rf"\d+  {step} +ok ")
            rows, area, srgb, _ = gamut_lines(p.stdout)
            self.assertEqual((area, srgb), (1.00, 100.0))
            points, _ = svg_points(svg)
            self.assertEqual(set(points), set(SHOWN))


if __name__ == "__main__":
    if sys.argv[1] == "--show":
        print(control(sys.argv[2], "show " + LEVELS[sys.argv[3]]), file=sys.stderr)
        sys.exit(0)
    CA410 = sys.argv[1]
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[2:]])
