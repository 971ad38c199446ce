"""The fuzzing runs (scripts/lib/fuzz.py): libFuzzer's logs read, the run
limits, and a target's run against a stand-in fuzzer that stalls, finds
or runs clean."""

import io
import os
import shutil
import sys
import tempfile
import textwrap
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "scripts", "lib"))
import fuzz  # noqa: E402


class LogReadingTest(unittest.TestCase):
    def test_target_names(self):
        for source, name in (("FuzzCheckConfig.cpp", "fuzz_check_config"), ("FuzzGtx.cpp", "fuzz_gtx"),
                             ("FuzzRtpsGuard", "fuzz_rtps_guard")):
            self.assertEqual(fuzz.target_name(source), name)
        targets = fuzz.all_targets()
        self.assertIn("fuzz_gtx", targets)
        self.assertNotIn("fuzz_support", targets)

    def test_executed_inputs_of_the_last_run(self):
        cases = [
            ("final statistics", "INFO: Seed: 1\n#512\tpulse  cov: 3\nstat::number_of_executed_units: 700\n", 700),
            ("killed: last progress line", "INFO: Seed: 1\n#128\tNEW cov: 3\n#4096\tpulse cov: 9\n", 4096),
            ("only the last run counts", "INFO: Seed: 1\n#9000\tDONE\nINFO: Seed: 2\n#20\tINITED\n", 20),
            ("no run", "", 0),
            ("a '#' that is no progress line", "INFO: Seed: 1\n#define X\n#12abc\n", 0),
        ]
        for name, text, wanted in cases:
            with self.subTest(name):
                self.assertEqual(fuzz.executed_in_last_run(text), wanted)

    def test_coverage_and_finding_lines(self):
        text = "#2\tINITED cov: 10 ft: 11\n#9\tNEW cov: 12 ft: 30 corp: 3\nDone\n"
        self.assertEqual(fuzz.last_coverage(text), ("12", "30"))
        self.assertEqual(fuzz.last_coverage("nothing"), ("?", "?"))
        log = "x\n==12==ERROR: AddressSanitizer: heap\na\nSUMMARY: AddressSanitizer\nb.cpp:1: runtime error: x\nz: deadly signal\n"
        self.assertEqual(fuzz.finding_lines(log), ["==12==ERROR: AddressSanitizer: heap", "SUMMARY: AddressSanitizer",
                                                   "b.cpp:1: runtime error: x"])


class LimitsTest(unittest.TestCase):
    def test_run_limits(self):
        # (spent, runs, seconds, min_runs, max_seconds) -> flags or None
        cases = [
            ((0, 0, 60, 0, 0), ["-max_total_time=60"]),
            ((20, 5, 60, 0, 0), ["-max_total_time=40"]),
            ((60, 5, 60, 0, 0), None),
            ((60, 5, 60, 100, 0), ["-runs=95"]),
            ((70, 100, 60, 100, 0), None),
            # The nearer of the two limits wins (libFuzzer takes the last).
            ((0, 0, 60, 0, 30), ["-max_total_time=60", "-max_total_time=30"]),
            ((0, 0, 60, 0, 90), ["-max_total_time=60"]),
            ((60, 5, 60, 100, 90), ["-runs=95", "-max_total_time=30"]),
            ((90, 5, 60, 100, 90), None),
        ]
        for args, wanted in cases:
            with self.subTest(args=args):
                self.assertEqual(fuzz.run_limits(*args), wanted)

    def test_wall_limit(self):
        for args, wanted in (((0, 60, 0), 120), ((0, 60, 30), 90), ((50, 60, 0), 70), ((70, 60, 0), 3600),
                             ((70, 60, 100), 90)):
            with self.subTest(args=args):
                self.assertEqual(fuzz.wall_limit(*args), wanted)

    def test_stall_or_finding(self):
        in_time = lambda path: "slow" not in path  # noqa: E731
        cases = [
            ("crash", 1, ["/f/crash-1"], False),
            ("timeout replaying in time", 1, ["/f/timeout-1"], True),
            ("timeout slow again", 1, ["/f/timeout-slow"], False),
            ("a stall and a crash", 1, ["/f/timeout-1", "/f/crash-2"], False),
            ("killed while reporting, nothing saved", 137, [], True),
            ("failed, nothing saved", 1, [], False),
            ("leak", 1, ["/f/leak-1"], False),
        ]
        for name, rc, fresh, stall in cases:
            with self.subTest(name):
                self.assertEqual(fuzz.is_stall(rc, fresh, in_time), stall)


# A stand-in for a fuzz target: each fuzzing run takes the next line of
# SCRIPT ("<inputs> <exit status> [<artifact name>]"); a replay of a saved
# input exits with REPLAY's status.
FAKE_TARGET = textwrap.dedent("""\
    #!{python}
    import os, sys
    here = os.path.dirname(os.path.abspath(__file__))
    prefix = [a.split("=", 1)[1] for a in sys.argv if a.startswith("-artifact_prefix=")]
    if not prefix:
        sys.exit(int(open(os.path.join(here, "REPLAY")).read()))
    state = os.path.join(here, "STATE")
    n = int(open(state).read()) if os.path.exists(state) else 0
    open(state, "w").write(str(n + 1))
    inputs, status, *artifact = open(os.path.join(here, "SCRIPT")).read().splitlines()[n].split()
    print("INFO: Seed: %d" % n)
    print("#%s\\tpulse  cov: %d ft: %d" % (inputs, 10 + n, 20 + n))
    if artifact:
        open(prefix[0] + artifact[0], "w").write("input")
        if artifact[0].startswith("crash-"):
            print("==1==ERROR: AddressSanitizer: SEGV")
    sys.exit(int(status))
    """)


class TargetRunTest(unittest.TestCase):
    def setUp(self):
        self.build = tempfile.mkdtemp(prefix="fuzz-run.")
        self.addCleanup(shutil.rmtree, self.build)
        for d in ("fuzz", "logs", "results"):
            os.makedirs(os.path.join(self.build, d))
        self.binary = os.path.join(self.build, "fuzz", "fuzz_gtx")
        with open(self.binary, "w") as f:
            f.write(FAKE_TARGET.format(python=sys.executable))
        os.chmod(self.binary, 0o755)
        self.o = fuzz.Options()
        self.o.build = self.build
        self.o.seconds = 0

    def run_target(self, script, replay=0, min_runs=150):
        with open(os.path.join(self.build, "fuzz", "SCRIPT"), "w") as f:
            f.write("\n".join(script) + "\n")
        with open(os.path.join(self.build, "fuzz", "REPLAY"), "w") as f:
            f.write(str(replay))
        self.o.min_runs = min_runs
        run = fuzz.TargetRun(self.o, "fuzz_gtx")
        return run, run.run()

    def test_stall_is_moved_aside_and_the_run_goes_on(self):
        run, row = self.run_target(["100 1 timeout-aa", "60 0"])
        self.assertFalse(run.failed)
        self.assertEqual(row[1:4], [160, "11", "21"])
        self.assertEqual(row[5:7], [0, 1])  # no finding, one stall
        self.assertTrue(os.path.exists(os.path.join(self.build, "findings", "fuzz_gtx", "stalls", "timeout-aa")))
        with open(run.log_path) as f:
            self.assertIn("timeout-aa replays in time: a stall of the machine", f.read())

    def test_timeout_that_replays_slow_is_a_finding(self):
        run, row = self.run_target(["100 1 timeout-bb", "60 0"], replay=1)
        self.assertTrue(run.failed)
        self.assertEqual(row[1], 100)  # the run ended at the finding
        self.assertEqual(row[5:7], [1, 0])

    def test_crash_is_a_finding_and_is_reported(self):
        run, row = self.run_target(["100 1 crash-cc"])
        self.assertTrue(run.failed)
        self.assertEqual(row[5], 1)
        os.unlink(os.path.join(self.build, "fuzz", "STATE"))
        shutil.rmtree(os.path.join(self.build, "findings"))
        out = io.StringIO()
        self.o.targets = ["fuzz_gtx"]
        self.assertEqual(fuzz.run_all(self.o, out), 1)
        self.assertIn("    finding(s) in build-fuzz/findings/fuzz_gtx/; see build-fuzz/logs/fuzz_gtx.log\n"
                      "    ==1==ERROR: AddressSanitizer: SEGV\n", out.getvalue())
        self.assertTrue(out.getvalue().endswith("fuzz: FAILED: findings above\n"))

    def test_clean_run_table(self):
        out = io.StringIO()
        with open(os.path.join(self.build, "fuzz", "SCRIPT"), "w") as f:
            f.write("200 0\n")
        with open(os.path.join(self.build, "fuzz", "REPLAY"), "w") as f:
            f.write("0")
        self.o.min_runs = 150
        self.o.targets = ["fuzz_gtx"]
        self.assertEqual(fuzz.run_all(self.o, out), 0)
        lines = out.getvalue().splitlines()
        self.assertEqual(lines[0], "fuzz: fuzz_gtx: running (log build-fuzz/logs/fuzz_gtx.log)")
        self.assertEqual(lines[2].split(), ["target", "executions", "edges", "features", "corpus", "findings",
                                            "stalls", "seconds"])
        self.assertEqual(lines[3].split()[:7], ["fuzz_gtx", "200", "10", "20", "0", "0", "0"])
        self.assertEqual(lines[-1], "fuzz: no findings")

    def test_options(self):
        o = fuzz.parse(["fuzz_gtx", "--seconds", "5", "--parallel", "0", "--min-runs", "7"])
        self.assertEqual((o.targets, o.seconds, o.parallel, o.min_runs), (["fuzz_gtx"], 5, 1, 7))
        o = fuzz.parse(["--regression", "--seconds", "5", "--min-runs", "7"])
        self.assertEqual((o.seconds, o.min_runs, o.regression), (20, 0, True))
        for bad in (["--seconds", "x"], ["--seconds"], ["--what"]):
            with self.subTest(bad=bad), self.assertRaises(fuzz.UsageError):
                fuzz.parse(bad)


if __name__ == "__main__":
    unittest.main()
