"""Runs that overlap and runs that die: one run at a time per archive
folder, the finishing of a cut that a killed run left half done, and runs
killed at random moments, each followed by a run that must put everything
right."""

import os
import random
import signal
import subprocess
import time

import harness
from e2e_case import E2ECase
from test_archive import copied, file_line, read, sep, settings, write

WINDOWS = harness.is_windows()
CRLF = b"\r\n"


def start(args, cwd):
    """Starts the program in its own process group, so that a kill reaches
    wine's processes too."""
    return subprocess.Popen(harness.CONFIG.runner + [str(harness.CONFIG.exe)] + args,
                            cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            start_new_session=True)


def kill(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.communicate()


def numbered_lines(tag, count, width=60):
    """count distinct LF-ended lines: a garbled or lost line shows."""
    filler = b"." * width
    return b"".join(b"%s line %07d %s\n" % (tag, i, filler) for i in range(count))


class InterruptedCut(E2ECase):
    """A .tmp that an interrupted cut left goes back under the archive's
    name before the log is appended: nothing lost, nothing twice."""

    def test_tmp_goes_back_before_the_append(self):
        whole = numbered_lines(b"old", 100)  # 8.3 KB
        log = b"new line\n"
        cases = [
            # (what, archive beside the .tmp or None, arguments, archive after)
            ("archive missing", None, ["/t2", "/d"], (whole + copied(log))[-2048:]),
            ("empty archive", b"", ["/t2", "/d"], (whole + copied(log))[-2048:]),
            ("partial copy", whole[-2048:][:777], ["/t2", "/d"], (whole + copied(log))[-2048:]),
            ("copy of another limit", whole[-4096:][:3000], ["/t2", "/d"],
             (whole + copied(log))[-2048:]),
            ("no limit in this run", whole[-2048:][:100], ["/d"], whole + copied(log)),
        ]
        for what, partial, args, after in cases:
            with self.subTest(what):
                self.fresh()
                write(self.path("a.log"), log)
                write(self.path("Archive/a.log.tmp"), whole)
                if partial is not None:
                    write(self.path("Archive/a.log"), partial)
                code, out, _ = self.run_quilbo(["a.log"] + args)
                self.assertEqual(code, 0, out)
                self.assertEqual(read(self.path("Archive/a.log")), after)
                self.assertFalse(os.path.exists(self.path("Archive/a.log.tmp")))
                self.assertFalse(os.path.exists(self.path("a.log")))

    def test_report_names_both_files_and_the_walk_stops_there(self):
        # A later run without /T appended to the partial copy (as earlier
        # versions did): putting the .tmp back would lose that text.
        whole = numbered_lines(b"old", 50)
        mixed = whole[-1024:][:500] + b"appended later\r\n"
        write(self.path("logs/a.log"), b"a\n")
        write(self.path("logs/keep/a.log.tmp"), whole)
        write(self.path("logs/keep/a.log"), mixed)
        code, out, _ = self.run_quilbo([sep("logs/a.log"), "keep", "/t1", "/d"])
        self.assertEqual(code, 1)
        head = settings("keep", 1, True) + file_line(1, sep("logs/") + "a.log", 2)
        self.assertTrue(out.startswith(head), out)
        self.assertReport(out[len(head):], "Exception", None)
        # The archive's path as the program builds it: '/' on Linux.
        target = sep(b"logs/keep/a.log") if WINDOWS else b"logs/keep/a.log"
        self.assertIn(target + b" holds bytes that " + target + b".tmp lacks", out)
        self.assertEqual(read(self.path("logs/keep/a.log")), mixed)
        self.assertEqual(read(self.path("logs/keep/a.log.tmp")), whole)
        self.assertEqual(read(self.path("logs/a.log")), b"a\n")


class Overlap(E2ECase):
    """Two runs started together over the same logs: the second waits for
    the first, so every archive holds whole copies, one after the other."""

    LOGS = 4
    LINES = 12000 if WINDOWS else 40000

    def make_logs(self):
        logs = {}
        for n in range(self.LOGS):
            name = "l%d.log" % n
            logs[name] = numbered_lines(b"log%d" % n, self.LINES)
            write(self.path("logs/" + name), logs[name])
        return logs

    def run_pair(self, delete):
        logs = self.make_logs()
        args = [sep("logs/*.log"), "keep"] + (["/D"] if delete else [])
        first = start(args, self.dir)
        second = start(args, self.dir)
        # They really overlap: both were started before either ended.
        overlapped = first.poll() is None
        results = [p.communicate(timeout=harness.RUN_TIMEOUT) + (p.returncode,)
                   for p in (first, second)]
        codes = sorted(r[2] for r in results)
        checked = 0
        for name, text in logs.items():
            archive = read(self.path("logs/keep/" + name))
            once = copied(text)
            if delete:
                # One run archived and deleted everything; the other then
                # found nothing left.
                self.assertFalse(os.path.exists(self.path("logs/" + name)))
                self.assertEqual(archive, once, name)
            else:
                self.assertEqual(read(self.path("logs/" + name)), text)
                self.assertEqual(archive, once + once, name)
            checked += archive.count(CRLF)
        self.assertEqual(codes, [0, 5] if delete else [0, 0], results)
        self.assertFalse([n for n in os.listdir(self.path("logs/keep")) if n.endswith(".tmp")])
        return overlapped, checked

    def test_two_runs_at_once(self):
        rounds = 1 if WINDOWS else 3
        overlapped = 0
        lines = 0
        runs = 0
        for delete in (True, False):
            for _ in range(rounds):
                self.fresh()
                both, checked = self.run_pair(delete)
                overlapped += both
                lines += checked
                runs += 2
        # Starting a process takes far less than a run's work.
        self.assertGreater(overlapped, 0)
        harness.note("overlap: %d runs in %d pairs (%d started while the other ran), "
                     "%d archive lines checked" % (runs, runs // 2, overlapped, lines))

    def test_a_second_name_of_the_folder_is_the_same_lock(self):
        logs = self.make_logs()
        folder = self.path("logs")
        if WINDOWS:
            # wine maps the root to Z:, so the full path is a second name.
            other = "Z:" + self.path("logs/keep").replace("/", "\\")
        else:
            os.mkdir(self.path("logs/keep"))
            os.symlink("keep", self.path("logs/alias"))
            other = "alias"
        first = start(["*.log", "keep"], folder)
        second = start(["*.log", other], folder)
        for p in (first, second):
            p.communicate(timeout=harness.RUN_TIMEOUT)
            self.assertEqual(p.returncode, 0)
        for name, text in logs.items():
            self.assertEqual(read(self.path("logs/keep/" + name)), copied(text) * 2, name)


class KillSweep(E2ECase):
    """Runs with /D and /T over an archive whose cut takes a while, each
    killed at a random moment (half of them once the cut has begun); after
    each, a run without a kill must leave everything as if no run had died:
    the archive exactly at its limit, ending with the log, the rest an
    unbroken run of the bytes it held (a second copy of a log that the
    killed run had already appended is allowed)."""

    RUNS = 40
    LIMIT_KB = 16 * 1024 if WINDOWS else 24 * 1024
    LOG_LINES = 30000

    def args(self):
        return ["a.log", "/D", "/T%d" % self.LIMIT_KB]

    def test_killed_runs_lose_nothing(self):
        rng = random.Random(int(os.environ.get("QUILBO_KILL_SEED", "0")) or None)
        seed = rng.randrange(1 << 30)
        rng.seed(seed)
        limit = self.LIMIT_KB * 1024
        archive = self.path("Archive/a.log")
        tmp = archive + ".tmp"
        log_path = self.path("a.log")
        history = numbered_lines(b"old", limit // 70).replace(b"\n", CRLF)[-limit:]
        write(archive, history)

        # A whole run first: how long a run and its cut take.
        log_raw = numbered_lines(b"calibration", self.LOG_LINES)
        write(log_path, log_raw)
        began = time.monotonic()
        probe = start(self.args(), self.dir)
        cut_began = None
        while probe.poll() is None:
            if cut_began is None and os.path.exists(tmp):
                cut_began = time.monotonic()
            time.sleep(0.0005)
        ended = time.monotonic()
        probe.communicate()
        self.assertEqual(probe.returncode, 0)
        run_time = ended - began
        cut_time = ended - (cut_began or ended)
        held = read(archive)
        self.assertEqual(held, (history + copied(log_raw))[-limit:])

        states = {"before append": 0, "during append": 0, "inside cut": 0,
                  "after cut": 0}
        for i in range(self.RUNS):
            label = "run %d (seed %d)" % (i, seed)
            log_raw = numbered_lines(b"run%03d" % i, self.LOG_LINES)
            log = copied(log_raw)
            write(log_path, log_raw)
            process = start(self.args(), self.dir)
            if i % 2 == 0:
                # Inside the cut: once the .tmp exists, at a random moment.
                while process.poll() is None and not os.path.exists(tmp):
                    time.sleep(0.0002)
                time.sleep(rng.uniform(0, cut_time * 0.5))
            else:
                # Anywhere up to the cut's start, mostly in the append.
                time.sleep(rng.uniform(0, max(run_time - cut_time, 0.005) * 1.2))
            kill(process)

            # What the kill left, and how much of the log the archive got
            # before the next run appends the whole log again.
            now = read(archive) if os.path.exists(archive) else None
            if os.path.exists(tmp):
                state = "inside cut"
                self.assertEqual(read(tmp), held + log, label)
                if now is not None:
                    self.assertTrue((held + log)[-limit:].startswith(now), label)
                again = len(log)
            elif not os.path.exists(log_path):
                state = "after cut"
                self.assertEqual(now, (held + log)[-limit:], label)
                again = None
            elif now == held:
                state = "before append"
                again = 0
            elif now == (held + log)[-limit:]:
                state = "after cut"
                again = len(log)
            else:
                state = "during append"
                self.assertTrue(now.startswith(held) and log.startswith(now[len(held):]),
                                "%s: archive of %d bytes is neither" % (label, len(now)))
                again = len(now) - len(held)
            states[state] += 1
            if again is not None:
                self.assertEqual(read(log_path), log_raw, label)

            # The run after it.
            if again is None:
                # The killed run had finished its work: give the next one some.
                held = now
                log_raw = b"after run %d\n" % i
                log = copied(log_raw)
                write(log_path, log_raw)
                again = 0
            code, out, _ = self.run_quilbo(self.args())
            self.assertEqual(code, 0, "%s, %s: %r" % (label, state, out))
            self.assertFalse(os.path.exists(tmp), label)
            self.assertFalse(os.path.exists(log_path), label)
            after = read(archive)
            self.assertEqual(len(after), limit, label)
            self.assertTrue(after.endswith(log), label)
            self.assertEqual(after, (held + log[:again] + log)[-limit:],
                             "%s, %s" % (label, state))
            held = after
        self.assertGreaterEqual(states["inside cut"], self.RUNS // 2 - 2, states)
        harness.note("kill sweep: %d kills (seed %d, run %.2f s, cut %.2f s): %s" % (
            self.RUNS, seed, run_time, cut_time,
            ", ".join("%s %d" % item for item in states.items())))
