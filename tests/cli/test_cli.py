#!/usr/bin/env python3
"""The ca410 tool as a user runs it, against the virtual instrument it starts
itself ("ca410 sim").  Usage: test_cli.py PATH/TO/ca410 [GROUP ...]"""
import csv
import fcntl
import io
import json
import os
import re
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
# The simulator's display: sRGB primaries, white of Y = 100.
SHOWN = {"white": (95.05, 100.0, 108.9), "red": (41.24, 21.26, 1.93),
         "green": (35.76, 71.52, 11.92), "blue": (18.05, 7.22, 95.05)}
FIGURES = ["X", "Y", "Z", "x", "y", "u'", "v'", "CCT", "duv"]
NO_PORT = "/nonexistent/ttyCA"
OPEN_FAILED = ["CA_E_OPEN (40): opening the instrument failed",
               f"cause: no such port: system error 2 on {NO_PORT}", "'ca410 ports' lists"]


def slurp(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def control(path, line):
    with socket.socket(socket.AF_UNIX) as s:
        s.connect(path)
        s.sendall((line + "\n").encode())
        return s.makefile().readline().strip()


def run(*args, env=None):
    e = {k: v for k, v in os.environ.items() if k != "CA410_PORT"}
    e.update(env or {})
    return subprocess.run([CA410, *args], stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, env=e, timeout=60)


class Case(unittest.TestCase):
    def expect(self, p, code, out=(), err=()):
        """Exit status, then each regex in `out` found in stdout, each text in `err` in stderr."""
        self.assertEqual(p.returncode, code, p.stdout + p.stderr)
        for pattern in out:
            self.assertRegex(p.stdout, pattern)
        for text in err:
            self.assertIn(text, p.stderr)

    def assertFigures(self, row, colour):
        for name, want in zip("XYZ", SHOWN[colour]):
            self.assertAlmostEqual(float(row[name]), want, places=3, msg=f"{colour} {name}")


class SimTest(Case):
    """`ca410 sim` with a link and a control socket in a directory of its own."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="ca410-cli-")
        cls.port, cls.ctl = (os.path.join(cls.dir.name, n) for n in ("port", "ctl"))
        cls.proc = subprocess.Popen([CA410, "sim", "--link", cls.port, "--control", cls.ctl],
                                    stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while not (os.path.exists(cls.port) and os.path.exists(cls.ctl)):
            if time.monotonic() > deadline or cls.proc.poll() is not None:
                raise RuntimeError("ca410 sim did not start")
            time.sleep(0.05)
        cls.show = f"{CA410} sim-control {cls.ctl} show"  # the ready-made show command

    @classmethod
    def tearDownClass(cls):
        cls.proc.send_signal(signal.SIGTERM)
        cls.proc.wait(timeout=10)
        cls.dir.cleanup()

    def control(self, line):
        return control(self.ctl, line)

    def tool(self, *args, **kw):
        # The port after the subcommand: global options are taken there too.
        return run(*args, "--port", self.port, **kw)


class Usage(Case):
    def test_command_lines(self):
        cases = [
            (["--version"], None, 0, [r"^ca410 \d+\.\d+\.\d+\n$"], []),
            (["--help"], None, 0, [rf"Exit status:[\s\S]*\n +{c} +\S" for c in (0, 1, 2, 3, 130)],
             []),
            (["frobnicate"], None, 2, [], ["unknown subcommand 'frobnicate'", "measure",
                                           "calibrate", "gamut", "channels", "demo", "sim"]),
            (["measure"], None, 2, [], ["no port: give --port PORT or set CA410_PORT"]),
            (["identify", "--port", NO_PORT], None, 1, [], OPEN_FAILED),
            (["info"], {"CA410_PORT": NO_PORT}, 1, [], OPEN_FAILED),
            (["sim", "--help"], None, 0, ["--control"], []),
            (["identify", "--port", "/tmp"], None, 1, [], ["cause: not a serial port"]),
            (["scan"], None, 1, [], ["no CA-410 found on: "]),
            (["gamut", "--svg", "/no/such/dir/g.svg"], None, 2, [], ["/no/such/dir/g.svg: "]),
            (["measure", "-n", "0"], None, 2, [], ["--count: must be 1 or more, not 0"]),
            (["measure", "-n", "abc"], None, 2, [], ["must be a whole number, 1 or more"]),
            (["measure", "--interval", "-1"], None, 2, [], ["--interval: must be 0 or more"]),
        ] + [(refused + ["--port", "/dev/null"], None, 2, [], ["--help' lists the options"])
             for refused in (["channel", "100"], ["speed", "4"], ["delete", "0"],
                             ["measure", "--format", "xml"], ["measure", "--log-level", "9"],
                             ["calibrate", "--channel", "5"], ["measure", "-n", "2", "--watch"])]
        for args, env, code, out, err in cases:
            with self.subTest(args=args):
                self.expect(run(*args, env=env), code, out, err)

    def test_demo_end_to_end(self):
        # The demo checks each of its steps against the simulator itself.
        p = run("demo")
        self.expect(p, 0, out=[r"all \d+ steps did what they should", r"\d+  gamut report +ok ",
                               r"\d+  display report +ok .*PASS against srgb"])
        self.assertNotRegex(p.stdout, r"FAILED|WRONG")


class Measure(SimTest):
    def test_text_csv_and_json(self):
        text = self.tool("measure", "-n", "3")
        self.expect(text, 0)
        lines = [line.split() for line in text.stdout.splitlines()]
        self.assertEqual(lines[0], ["reading", *FIGURES[:7], "CCT/K", "Δuv"])
        rows = {cells[0]: dict(zip(FIGURES, cells[1:])) for cells in lines[1:]}
        self.assertEqual(list(rows), ["1", "2", "3", "mean", "std"])
        self.assertFigures(rows["mean"], "white")
        for name, want, delta in (("x", 0.3127, 5e-5), ("v'", 0.4683, 5e-5), ("duv", 0.0032, 5e-5),
                                  ("CCT", 6504, 2)):
            self.assertAlmostEqual(float(rows["1"][name]), want, delta=delta)
        self.assertTrue(all(float(v) == 0 for v in rows["std"].values()))

        rows = list(csv.DictReader(io.StringIO(self.tool("measure", "-n", "2", "--format",
                                                         "csv").stdout)))
        self.assertEqual([r["reading"] for r in rows], ["1", "2", "mean", "std"])
        self.assertFigures(rows[0], "white")
        self.assertAlmostEqual(float(rows[2]["CCT"]), 6504, delta=2)

        for count, summary in (("3", True), ("1", False)):
            doc = json.loads(self.tool("measure", "-n", count, "--format", "json").stdout)
            self.assertEqual((doc["channel"], len(doc["readings"])), (0, int(count)))
            self.assertEqual(list(doc["readings"][0]), FIGURES)
            self.assertFigures(doc["readings"][0], "white")
            self.assertEqual("mean" in doc and "std" in doc, summary)
        self.control("show 0 0 1")  # a colour without CCT
        reading = json.loads(self.tool("measure", "--format", "json").stdout)["readings"][0]
        self.control("show 1 1 1")
        self.assertFigures(reading, "blue")
        self.assertIsNone(reading["CCT"])

    def test_info_and_settings(self):
        p = self.tool("info")
        self.expect(p, 0)
        info = dict(re.split(r"\s{2,}", line, maxsplit=1) for line in p.stdout.splitlines())
        self.assertEqual((info["model"], info["serial number"], info["display mode"],
                          info["zero calibration status"]),
                         ("CA-410", "41000001", "7 (X, Y, Z)", "2 (done)"))
        for args, setting in ((["channel", "3"], "channel=3"), (["speed", "2"], "speed=2"),
                              (["channel", "0"], "channel=0")):
            self.expect(self.tool(*args), 0)
            self.assertIn(setting, self.control("settings").split())

    def test_watch_ends_on_ctrl_c_and_releases_the_port(self):
        with subprocess.Popen([CA410, "measure", "--watch", "--interval", "20", "--format",
                               "csv", "--port", self.port], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True) as p:
            for head in ("reading,", "1,", "2,"):
                self.assertTrue(p.stdout.readline().startswith(head))
            p.send_signal(signal.SIGINT)
            rest, err = p.communicate(timeout=10)
        self.assertEqual(p.returncode, 0)
        self.assertRegex(rest, r"(?m)^mean,")
        self.assertIn("interrupted", err)
        self.expect(self.tool("identify"), 0)


class Failures(SimTest):
    def test_instrument_faults(self):
        # First, while the fresh instrument has never been zero-calibrated:
        # it acknowledges the zero calibration without doing it.
        cases = (("fault answer-frame ZRC OK00", "measure", "CA_E_NOT_READY (50)",
                  "ca410 zero-cal"),
                 ("fault silent-next 5", "identify", "CA_E_OPEN (40)", "switched on and connected"),
                 ("fault answer-frame MES,1", "measure", "CA_E_MEASURE (55)", "--log-level 8"),
                 ("fault error-head ZRC 21", "zero-cal", "CA_E_ZERO_CAL (42)", "cap it"))
        for fault, sub, code, hint in cases:
            with self.subTest(sub=sub, fault=fault):
                self.assertEqual(self.control(fault), "ok")
                p = self.tool(sub)
                self.control("fault clear")
                self.expect(p, 1, err=[code, hint])

    def test_messages_that_say_why(self):
        with open(self.port) as held:  # another program has the port
            fcntl.flock(held, fcntl.LOCK_EX)
            self.expect(self.tool("identify"), 1, err=["cause: in use by another program"])
        # Text from the instrument never reaches the terminal raw.
        self.control(r"fault answer-frame IDO,0,1 OK00,CA-410,P1,\x1b]0;T\x07,1.0,\x1b[8mSN")
        p = self.tool("info")
        self.control("fault clear")
        self.expect(p, 0, out=[r"name +\\x1b\]0;T\\x07\n", r"serial number +\\x1b\[8mSN\n"])
        self.assertNotIn("\x1b", p.stdout + p.stderr)
        self.expect(self.tool("delete", "42"), 0, out=["^channel 42 was already empty$"])
        for command, why in (("false", "exit code 1"),
                             ("ca410-no-such-command",
                              "exit code 127: the shell did not find the command")):
            p = self.tool("gamut", "--show-command", command)
            self.expect(p, 1, err=[f"the show command failed ({why}): {command} white 1 1 1"])
        self.expect(run("sim-control", self.ctl, "show", "0", "1", "0"), 0, out=[r"^ok XYZ 35\.76"])
        self.expect(run("sim-control", self.ctl, "show", "2"), 1, err=["error: "])

    def test_retry_of_an_open_after_an_abandoned_measurement(self):
        self.control("measure-ms 0 2000")
        self.control("measure-ms 1 2000")
        with subprocess.Popen([CA410, "measure", "-n", "5", "--speed", "1", "--port", self.port],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True) as p:
            p.stdout.readline()  # the header: the first measurement is under way
            time.sleep(0.5)
            p.send_signal(signal.SIGINT)
            time.sleep(0.1)
            p.send_signal(signal.SIGINT)  # a second Ctrl-C leaves at once
            p.wait(timeout=10)
        p = self.tool("identify")
        self.control("measure-ms 0 0")
        self.control("measure-ms 1 0")
        self.expect(p, 0, out=["model: CA-410"], err=["trying once more"])


class Calibration(SimTest):
    TARGETS = {c: tuple(round(v * 1.02, 6) for v in SHOWN[c]) for c in SHOWN}

    def targets(self, text=None):
        path = os.path.join(self.dir.name, "targets.csv")
        with open(path, "w") as f:
            f.write(text or "colour,X,Y,Z\n" + "".join(
                f"{c},{x},{y},{z}\n" for c, (x, y, z) in self.TARGETS.items()))
        return path

    def test_malformed_targets_are_refused_before_anything_is_sent(self):
        cases = (("white,1,2\n", 1, "expected 4 fields (colour,X,Y,Z), found 3"),
                 ("colour,X,Y,Z\n# ok\nwhite,1,2,3\npurple,1,2,3\n", 4,
                  "'purple' is not a colour"),
                 ("white,1,x,3\n", 1, "Y of white: 'x' is not a number"),
                 ("white,1,0,3\n", 1, "Y of white is 0; Y must be above 0"),
                 ("red,1,2,-3\n", 1, "Z of red is -3; must not be negative"),
                 ("white,1,2,3\nW,1,2,3\n", 2, "white given twice (first on line 1)"),
                 ("white,1,2,3\nred,1,2,3\n", None, "no target for green, blue"),
                 (None, None, "longer than 9 characters"))
        for text, line, reason in cases:
            with self.subTest(text=text):
                path = self.targets(text)
                self.control("clear-frames")
                name = ["--name", "TENLETTERS"] if text is None else []
                p = self.tool("calibrate", "--channel", "5", "--targets", path, "--no-prompt",
                              *name)
                where = "" if text is None else f"{path}:{line}: " if line else f"{path}: "
                self.expect(p, 2, err=[where + reason])
                self.assertEqual(self.control("frames"), "ok 0")

    def test_calibration_flow(self):
        p = self.tool("calibrate", "--channel", "5", "--name", "LAB-A", "--targets",
                      self.targets(), "--no-prompt", "--show-command", self.show)
        self.expect(p, 0, out=["stored in channel 5, name 'LAB-A'"])
        rows = {r[0]: r[1:] for r in map(str.split, p.stdout.splitlines()[1:5])}
        for c in SHOWN:
            self.assertEqual([float(v) for v in rows[c][:3]], list(self.TARGETS[c]))
            for got, want in zip(rows[c][3:], SHOWN[c]):
                self.assertAlmostEqual(float(got), want, places=3)
        listing = self.tool("channels")  # no progress: not a terminal
        self.assertNotIn("reading calibration channels", listing.stderr)
        self.assertIn(["5", "LAB-A"], [line.split() for line in listing.stdout.splitlines()])
        lines = [line.split() for line in self.tool("calfile", "5").stdout.splitlines()]
        self.assertEqual(lines[1], ["name", "LAB-A"])
        self.assertEqual(lines[4][0], "white")
        self.assertEqual([float(v) for v in lines[4][1:4]], list(self.TARGETS["white"]))

        self.control("show 1 1 1")
        through = self.tool("measure", "--channel", "5", "--format", "json")
        reading = json.loads(through.stdout)["readings"][0]
        for name, want in zip("XYZ", self.TARGETS["white"]):
            self.assertAlmostEqual(reading[name], want, places=3)
        self.expect(self.tool("channel", "0"), 0)
        self.expect(self.tool("delete", "5"), 0)
        self.assertNotIn("LAB-A", self.tool("channels").stdout)

    def test_without_an_operator(self):
        cases = ((["--no-prompt"], 1, ["CA_E_CAL_INPUT (18)", "cause: instrument error 05: ",
                                       "were the four colours (white, red, green, blue) shown"]),
                 ([], 2, ["Show white (R G B 1 1 1) on the display", "standard input closed"]))
        for extra, code, err in cases:
            with self.subTest(extra=extra):
                p = self.tool("calibrate", "--channel", "6", "--targets", self.targets(), *extra)
                self.expect(p, code, err=err)

    def test_report_measures_the_patch_set_itself(self):
        # Through the show command on the instrument, and on the built-in virtual one.
        p = self.tool("report", "--patches", "grey:5", "--settle", "0", "--show-command", self.show)
        self.expect(p, 0, out=[r"Grey 25 %: luminance .* PASS", "overall: PASS"])
        self.expect(run("report", "--sim", "--display", "imperfect"), 1, out=["overall: FAIL"])
        self.expect(run("report", "--sim", "--from", "x.ti3"), 2, err=["--from reads a file"])

    def test_gamut_of_an_srgb_display(self):
        svg = os.path.join(self.dir.name, "gamut.svg")
        p = self.tool("gamut", "--no-prompt", "--show-command", self.show, "--svg", svg)
        self.expect(p, 0, out=["CCT 6503", r"gamut area relative to sRGB: 1\.00\b",
                               r"coverage of sRGB:\s+100\.0 %",
                               r"coverage of DCI-P3:\s+73\.[67] %"])
        rows = {m[1]: (float(m[2]), float(m[3])) for m in re.finditer(
            r"(?m)^\s*(white|red|green|blue)\s+\S+\s+\S+\s+\S+\s+(\S+)\s+(\S+)", p.stdout)}
        for c, xy in (("red", (0.64, 0.33)), ("green", (0.30, 0.60)), ("blue", (0.15, 0.06))):
            self.assertLess(max(abs(a - b) for a, b in zip(rows[c], xy)), 5e-4, c)
        # The diagram's points are the report's; the spectral locus is drawn.
        root = ET.parse(svg).getroot()
        points = {c.get("data-colour"): (float(c.get("data-x")), float(c.get("data-y")))
                  for c in root.iter(SVG + "circle") if c.get("class") == "measured-point"}
        self.assertEqual({c: tuple(round(v, 5) for v in xy) for c, xy in points.items()}, rows)
        locus = [p for p in root.iter(SVG + "polygon") if p.get("class") == "spectral-locus"]
        self.assertGreater(len(locus[0].get("points").split()), 400)


class Sequence(SimTest):
    EPOCH = {"SOURCE_DATE_EPOCH": "1700000000"}

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def rows(self, path):
        return [line for line in slurp(path, "r").splitlines() if line.startswith('{"SAMPLE_ID')]

    def test_refusals_measure_nothing(self):
        with open(self.path("bad.csv"), "w") as f:
            f.write("R,G,B\n0.5,0.5,0.5\n0.5,1.5,0\n")
        done = self.path("done.ti3")
        self.expect(run("sequence", "--sim", "--patches", "grey:3", "--out", done), 0)
        before = slurp(done)
        show = ["--show-command", self.show]
        cases = ((["--patches", self.path("bad.csv"), *show, "--out", "x.ti3"],
                  f"{self.path('bad.csv')}:3: G \"1.5\" is outside 0..1"),
                 (["--patches", "grey:1", *show, "--out", "x.ti3"], "the steps are 2 to 4096"),
                 (["--patches", "grey:3", *show, "--out", "/no/such/dir/x.ti3"],
                  "/no/such/dir/x.ti3: cannot be written"),
                 (["--patches", "grey:3", *show, "--out", "x.dat"], "give --format"),
                 (["--patches", "grey:3", "--out", "x.ti3"], "give --show-command CMD"),
                 (["--patches", "grey:3", *show, "--out", done], "exists: --resume goes on"),
                 (["--patches", "grey:4", *show, "--out", done, "--resume"],
                  "NUMBER_OF_SETS: the file has 3, this run 4"),
                 (["--patches", "primaries", "--sim", "--out", done, "--resume"],
                  'PATCH_SET: the file has "grey:3", this run "primaries"'))
        for args, message in cases:
            with self.subTest(args=args):
                self.control("clear-frames")
                self.expect(self.tool("sequence", *args), 2, err=[message])
                self.assertEqual(self.control("frames"), "ok 0")
                self.assertEqual(slurp(done), before)

    def test_interrupted_runs_resume_to_the_uninterrupted_file(self):
        args = ["sequence", "--patches", "grey:24", "--settle", "30", "--show-command", self.show,
                "--port", self.port]
        whole, cut = self.path("whole.jsonl"), self.path("cut.jsonl")
        self.expect(run(*args, "--out", whole, env=self.EPOCH), 0, ["^24 patches measured into"])
        env = dict(os.environ, **self.EPOCH)
        for stop, rows, extra, code in ((signal.SIGINT, 3, [], 130),
                                        (signal.SIGKILL, 10, ["--resume"], -9)):
            with subprocess.Popen([CA410, *args, "--out", cut, *extra], env=env, text=True,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  start_new_session=True) as p:
                while not os.path.exists(cut) or len(self.rows(cut)) < rows:
                    time.sleep(0.02)
                os.killpg(p.pid, stop)  # as a terminal's Ctrl-C: the show command's too
                _, err = p.communicate(timeout=30)
            self.assertEqual(p.returncode, code)
            self.assertLess(len(self.rows(cut)), 24)
            if code == 130:
                self.assertRegex(err, r"keeps the \d+ patches measured; the same command with "
                                      r"--resume goes on")
        p = run(*args, "--out", cut, "--resume", env=self.EPOCH)
        self.expect(p, 0, [r"^24 patches measured into .* \(\d+ of them by an earlier run\)"])
        self.assertEqual(slurp(cut), slurp(whole))

    def test_names_reach_the_show_command_as_one_word(self):
        log = self.path("shown.log")
        with open(self.path("names.csv"), "w") as f:
            f.write("id,R,G,B\nit's 5,0.5,0.5,0.5\n$(echo no),0.1,1,0\n")
        command = f"sh -c 'printf \"[%s]\" \"$@\" >> {log}; echo >> {log}' show"
        p = self.tool("sequence", "--patches", self.path("names.csv"), "--settle", "0",
                      "--show-command", command, "--out", self.path("names.csv.ti3"))
        self.expect(p, 0)
        self.assertEqual(slurp(log, "r"), "[it's 5][0.5][0.5][0.5]\n[$(echo no)][0.1][1][0]\n")

    def test_full_set_read_by_lcms2(self):
        out = self.path("run.ti3")
        self.expect(run("sequence", "--sim", "--patches", "full", "--out", out), 0)
        rows = [line for line in slurp(out, "r").splitlines() if line.startswith('"')]
        lcms = os.environ.get("LCMS_READS_OURS")
        if not lcms:
            self.skipTest("SKIPPED: lcms2 (liblcms2-dev) is not installed")
        self.expect(subprocess.run([lcms, out, "INSTRUMENTATION=CA-410 SIM S/N 41000001",
                                    "PATCH_SET=full", f"NUMBER_OF_SETS~{len(rows)}",
                                    "N11/XYZ_Y~100", "R100/XYZ_X~41.24",
                                    "CC03/SAMPLE_NAME=blue sky", "CC03/READINGS~1"],
                                   capture_output=True, text=True), 0)


if __name__ == "__main__":
    CA410 = sys.argv[1]
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[2:]])
