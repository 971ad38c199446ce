#!/usr/bin/env python3
"""Builds the libFuzzer targets (fuzz/, clang, in build-fuzz/) and runs one,
several or all of them, then prints per target the executions, the
coverage (edges and features), the corpus and the findings.

  scripts/fuzz [TARGET...] [--seconds N] [--min-runs N] [--max-seconds N]
               [--parallel N]
  scripts/fuzz --regression
  scripts/fuzz --list | --seeds

  TARGET        e.g. fuzz_gtx (default: every target)
  --seconds N   run each target N seconds (default 60)
  --min-runs N  and on until it has run N inputs (whichever ends later)
  --max-seconds N  but never longer than N seconds (default: no limit)
  --parallel N  run N targets at the same time (default 1)
  --regression  each target 20 s from its seed corpus alone and with a
                fixed seed, as CI does
  --list        the targets
  --seeds       rewrite the committed seed corpora (fuzz/corpus/) from the
                project's encoders and sample files (fuzz_make_seeds);
                regression inputs saved there by hand are kept. The seeds
                of fuzz_rtps_guard are captured traffic of our own
                participants instead: build/tests/network/rtps_net_fuzz
                [--secure] --save-seeds fuzz/corpus/fuzz_rtps_guard

New corpus entries go to build-fuzz/corpus/TARGET (never into the
repository); a finding (crash, leak, input slower than 1 s, more than
512 MB) is saved under build-fuzz/findings/TARGET/ and its log is
build-fuzz/logs/TARGET.log. A timeout whose input replays in time is a
stall of a loaded machine: counted apart, and the run goes on. Reproduce one with
  build-fuzz/fuzz/TARGET FINDING
Interrupting a target (SIGINT to its process) ends its run without a
finding. Exit status 0 when no target had a finding.
"""

import concurrent.futures
import glob
import os
import re
import shutil
import subprocess
import sys
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
REGRESSION_SEED = "20261207"
REPLAYS = 3
FINDING_LINE = re.compile(r"^==[0-9]+==ERROR|^SUMMARY|deadly signal|runtime error")
TABLE_ROW = "%-20s %12s %8s %9s %8s %9s %7s %8s"


# --- Reading libFuzzer's logs ------------------------------------------------------


def target_name(source_name):
    """fuzz_check_config for FuzzCheckConfig(.cpp)."""
    stem = re.sub(r"\.cpp$", "", source_name)
    return "fuzz" + re.sub(r"([A-Z])", lambda m: "_" + m.group(1).lower(), stem[len("Fuzz"):])


def all_targets(root=REPO):
    names = sorted(os.path.basename(f) for f in glob.glob(os.path.join(root, "fuzz", "Fuzz*.cpp")))
    return [target_name(n) for n in names if n != "FuzzSupport.cpp"]


def executed_in_last_run(log_text):
    """The inputs run by the last run in a log: its final statistics, or
    the last progress line of a run that was killed."""
    n = 0
    for line in log_text.splitlines():
        if line.startswith("INFO: Seed:"):
            n = 0
        m = re.match(r"#(\d+)[ \t]", line)
        if m:
            n = max(n, int(m.group(1)))
        m = re.match(r"stat::number_of_executed_units:\s*(\d+)", line)
        if m:
            n = max(n, int(m.group(1)))
    return n


def last_coverage(log_text):
    """(edges, features) of the last progress line with coverage, "?" when none."""
    cov = ft = "?"
    for line in log_text.splitlines():
        m = re.search(r"cov: (\d+)", line)
        if m:
            cov = m.group(1)
            f = re.search(r"ft: (\d+)", line)
            ft = f.group(1) if f else "?"
    return cov, ft


def finding_lines(log_text, limit=3):
    return [line for line in log_text.splitlines() if FINDING_LINE.search(line)][:limit]


# --- One target's run: limits, stalls and findings ----------------------------------


def run_limits(spent, runs, seconds, min_runs, max_seconds):
    """libFuzzer's limit flags for the next run of a target, or None when
    it is done. `spent`: whole seconds so far; `runs`: inputs so far."""
    if spent < seconds:
        limit = ["-max_total_time=%d" % (seconds - spent)]
    elif runs < min_runs:
        # Not enough inputs yet: go on from the corpus grown so far.
        limit = ["-runs=%d" % (min_runs - runs)]
    else:
        return None
    if max_seconds:
        if spent >= max_seconds:
            return None
        # libFuzzer takes the last of repeated flags: one limit, the nearer.
        if spent >= seconds or max_seconds < seconds:
            limit.append("-max_total_time=%d" % (max_seconds - spent))
    return limit


def wall_limit(spent, seconds, max_seconds):
    """Seconds after which a run is killed: libFuzzer's timeout report can
    deadlock in its signal handler, so a run that outlives its time limit
    by a minute is taken as hung."""
    wall = max_seconds - spent + 60 if max_seconds else 3600
    if spent < seconds and seconds - spent + 60 < wall:
        wall = seconds - spent + 60
    return wall


def is_stall(rc, fresh, replays_in_time):
    """Whether a failed run was a stall of the machine rather than a
    finding. `fresh`: the new files in the findings folder;
    `replays_in_time(path)`: whether a saved input runs in time again. The
    code is deterministic: a timeout input that replays in time was a
    stall. A run killed while reporting, before it saved an input, counts
    as a stall too: a real hang would recur and be saved."""
    if not fresh and rc != 137:
        return False
    return all(os.path.basename(f).startswith("timeout-") and replays_in_time(f) for f in fresh)


class TargetRun:
    """Runs one target as asked until its time and input counts are
    reached or it has a finding; stalls are counted and the run goes on."""

    def __init__(self, options, target, clock=time.monotonic):
        self.o = options
        self.t = target
        self.clock = clock
        self.binary = os.path.join(options.build, "fuzz", target)
        self.findings = os.path.join(options.build, "findings", target)
        self.log_path = os.path.join(options.build, "logs", target + ".log")
        if options.regression:
            self.corpus = os.path.join(options.build, "regression-corpus", target)
            shutil.rmtree(self.corpus, ignore_errors=True)
        else:
            self.corpus = os.path.join(options.build, "corpus", target)
        self.runs = 0
        self.stalls = 0
        self.failed = False

    def finding_files(self):
        try:
            return sorted(os.path.join(self.findings, f) for f in os.listdir(self.findings)
                          if os.path.isfile(os.path.join(self.findings, f)))
        except OSError:
            return []

    def note(self, text):
        with open(self.log_path, "a") as log:
            log.write(text + "\n")

    def log_text(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def replays_in_time(self, path):
        for _ in range(REPLAYS):
            with open(self.log_path, "ab") as log:
                rc = subprocess.call(["timeout", "-s", "KILL", "60", self.binary, "-timeout=1", "-close_fd_mask=1",
                                      path], stdout=log, stderr=log)
            if rc == 0:
                return True
        return False

    def fuzz_once(self, limit, wall):
        env = dict(os.environ)
        # Stack traces are not symbolized during the run: the symbolizer is
        # what deadlocks; a replay of the saved input prints them in full.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":symbolize=0"
        # The regression run takes the same mutations every time, so that a
        # finding in CI comes back when the same command is run again here;
        # the other runs take a new seed each and explore further.
        seed = ["-seed=" + REGRESSION_SEED] if self.o.regression else []
        argv = (["timeout", "-s", "KILL", str(wall), self.binary] + limit + seed +
                ["-timeout=1", "-rss_limit_mb=512", "-close_fd_mask=1", "-print_final_stats=1",
                 "-artifact_prefix=" + self.findings + "/", self.corpus, os.path.join(self.o.root, "fuzz", "corpus",
                                                                                       self.t)])
        with open(self.log_path, "ab") as log:
            return subprocess.call(argv, stdout=log, stderr=log, env=env)

    def run(self):
        os.makedirs(self.corpus, exist_ok=True)
        os.makedirs(os.path.join(self.findings, "stalls"), exist_ok=True)
        open(self.log_path, "w").close()
        all_before = set(self.finding_files())
        started = self.clock()
        while True:
            spent = int(self.clock() - started)
            limit = run_limits(spent, self.runs, self.o.seconds, self.o.min_runs, self.o.max_seconds)
            if limit is None:
                break
            before = set(self.finding_files())
            rc = self.fuzz_once(limit, wall_limit(spent, self.o.seconds, self.o.max_seconds))
            self.runs += executed_in_last_run(self.log_text())
            if rc == 0:
                continue
            fresh = [f for f in self.finding_files() if f not in before]
            if rc == 137 and not fresh:
                self.note("fuzz: %s: run killed while reporting a timeout" % self.t)
            if not is_stall(rc, fresh, self.replays_in_time):
                self.failed = True
                break
            for f in fresh:
                self.note("fuzz: %s: %s replays in time: a stall of the machine, not a finding"
                          % (self.t, os.path.basename(f)))
                shutil.move(f, os.path.join(self.findings, "stalls"))
            self.stalls += max(1, len(fresh))
        elapsed = int(self.clock() - started)
        cov, ft = last_coverage(self.log_text())
        corpus = sum(len(files) for _, _, files in os.walk(self.corpus))
        found = len([f for f in self.finding_files() if f not in all_before])
        self.failed = self.failed or found > 0
        row = [self.t, self.runs, cov, ft, corpus, found, self.stalls, elapsed]
        with open(os.path.join(self.o.build, "results", self.t), "w") as f:
            f.write(" ".join(str(x) for x in row) + "\n")
        return row


# --- Command line ---------------------------------------------------------------------


class Options:
    def __init__(self):
        self.root = REPO
        self.build = os.environ.get("CORVANE_FUZZ_BUILD", os.path.join(REPO, "build-fuzz"))
        self.seconds = 60
        self.min_runs = 0
        self.max_seconds = 0
        self.parallel = 1
        self.regression = False
        self.list = False
        self.seeds = False
        self.targets = []


class UsageError(Exception):
    def __init__(self, text=None):
        super().__init__(text)
        self.text = text


def usage():
    return __doc__.strip("\n") + "\n"


def parse(argv):
    o = Options()
    numbers = {"--seconds": "seconds", "--min-runs": "min_runs", "--max-seconds": "max_seconds",
               "--parallel": "parallel"}
    i = 0
    while i < len(argv):
        a = argv[i]
        if a in numbers:
            if i + 1 >= len(argv) or argv[i + 1] == "":
                raise UsageError("fuzz: %s needs a number" % a)
            if not re.fullmatch(r"[0-9]+", argv[i + 1]):
                raise UsageError("fuzz: not a whole number: %s" % argv[i + 1])
            setattr(o, numbers[a], int(argv[i + 1]))
            i += 2
            continue
        if a == "--regression":
            o.regression = True
        elif a == "--list":
            o.list = True
        elif a == "--seeds":
            o.seeds = True
        elif a in ("-h", "--help"):
            raise UsageError()
        elif a.startswith("-"):
            raise UsageError("")
        else:
            o.targets.append(a)
        i += 1
    o.parallel = max(o.parallel, 1)
    if o.regression:
        o.seconds, o.min_runs = 20, 0
    return o


def main(argv=None):
    try:
        o = parse(sys.argv[1:] if argv is None else argv)
    except UsageError as e:
        if e.text is None:
            sys.stdout.write(usage())
            return 0
        if e.text:
            print(e.text, file=sys.stderr)
        else:
            sys.stderr.write(usage())
        return 2
    targets = all_targets(o.root)
    if o.list:
        print("\n".join(targets))
        return 0
    o.targets = o.targets or targets
    for t in o.targets:
        if t not in targets:
            print("fuzz: no target %s (see --list)" % t, file=sys.stderr)
            return 2

    # --- Build
    subprocess.check_call([os.path.join(o.root, "scripts", "install-deps")])
    if not os.path.isfile(os.path.join(o.build, "CMakeCache.txt")):
        subprocess.check_call(["cmake", "-S", o.root, "-B", o.build, "-G", "Ninja", "-DCORVANE_FUZZ=ON",
                               "-DCORVANE_WERROR=OFF", "-DCORVANE_BUILD_BENCH=OFF"],
                              env=dict(os.environ, CC="clang-14", CXX="clang++-14"), stdout=subprocess.DEVNULL)
    if o.seeds:
        subprocess.check_call(["cmake", "--build", o.build, "--target", "fuzz_make_seeds"])
        subprocess.check_call([os.path.join(o.build, "fuzz", "fuzz_make_seeds"), o.root,
                               os.path.join(o.root, "fuzz", "corpus")])
        print("fuzz: seed corpora written to fuzz/corpus/")
        return 0
    subprocess.check_call(["cmake", "--build", o.build, "--target", *o.targets])

    # --- Runs
    # A smaller quarantine and no malloc fill double the speed of the targets
    # that allocate much; reports keep their full stack, allocations 5 frames.
    os.environ.setdefault("ASAN_OPTIONS", "quarantine_size_mb=16:max_malloc_fill_size=0:malloc_context_size=5:"
                                          "detect_leaks=1")
    os.environ.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
    # The targets that write files do so in a private folder under TMPDIR,
    # here inside the build folder so that a killed run leaves nothing in /tmp.
    os.environ["TMPDIR"] = os.path.join(o.build, "tmp")
    for d in ("tmp", "logs", "results"):
        os.makedirs(os.path.join(o.build, d), exist_ok=True)
    return run_all(o, sys.stdout)


def run_all(o, out):
    lock = threading.Lock()

    def one(t):
        with lock:
            out.write("fuzz: %s: running (log build-fuzz/logs/%s.log)\n" % (t, t))
            out.flush()
        try:
            os.unlink(os.path.join(o.build, "results", t))
        except OSError:
            pass
        run = TargetRun(o, t)
        run.run()
        return run.failed

    with concurrent.futures.ThreadPoolExecutor(max_workers=o.parallel) as pool:
        failed = any(list(pool.map(one, o.targets)))

    out.write("\n" + TABLE_ROW % ("target", "executions", "edges", "features", "corpus", "findings", "stalls",
                                  "seconds") + "\n")
    for t in o.targets:
        try:
            with open(os.path.join(o.build, "results", t)) as f:
                row = f.read().split()
        except OSError:
            out.write("%-20s   (no result)\n" % t)
            failed = True
            continue
        out.write(TABLE_ROW % tuple(row) + "\n")
        if int(row[5]) > 0:
            out.write("    finding(s) in build-fuzz/findings/%s/; see build-fuzz/logs/%s.log\n" % (t, t))
            with open(os.path.join(o.build, "logs", t + ".log"), "rb") as f:
                for line in finding_lines(f.read().decode("utf-8", "replace")):
                    out.write("    " + line + "\n")
    if failed:
        out.write("fuzz: FAILED: findings above\n")
        return 1
    out.write("fuzz: no findings\n")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except subprocess.CalledProcessError as e:
        sys.exit(e.returncode)
    except KeyboardInterrupt:
        sys.exit(130)
