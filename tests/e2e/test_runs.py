"""Runs that overlap: one run at a time per archive folder; runs killed
while they delete logs."""

import os
import random
import subprocess
import unittest

import harness
from e2e_case import E2ECase
from test_archive import copied, read, sep, write

WINDOWS = harness.is_windows()
CRLF = b"\r\n"


def start(args, cwd):
    """Starts the program in its own process group, so that a kill reaches
    wine's processes too."""
    return subprocess.Popen(harness.CONFIG.runner + [str(harness.CONFIG.exe)] + args,
                            cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            start_new_session=True)


def numbered_lines(tag, count, width=60):
    """count distinct LF-ended lines: a garbled or lost line shows."""
    filler = b"." * width
    return b"".join(b"%s line %07d %s\n" % (tag, i, filler) for i in range(count))


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


class KilledDeletion(E2ECase):
    """A run with /D killed at a random moment while it deletes many logs:
    the next run leaves nothing in the log folder but the archive folder,
    and every archive holds its log's whole text (twice at most, for the
    logs of the group whose deletion the kill stopped)."""

    LOGS = 150 if WINDOWS else 500
    ROUNDS = 3 if WINDOWS else 6

    def test_the_next_run_finishes_every_deletion(self):
        rng = random.Random(int(os.environ.get("QUILBO_SEED", "0")) or None)
        seed = rng.randrange(1 << 30)
        rng.seed(seed)
        asides_seen = 0
        for _ in range(self.ROUNDS):
            self.fresh()
            logs = {}
            for n in range(self.LOGS):
                name = "log%04d.log" % n
                logs[name] = numbered_lines(b"n%04d" % n, 1 + n % 3, width=20)
                write(self.path(name), logs[name])
            process = start(["*.log", "/D"], self.dir)
            try:
                process.wait(timeout=rng.uniform(0.0, 0.4 if not WINDOWS else 2.0))
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, 9)
                process.wait()
            process.stdout.close()
            process.stderr.close()
            asides_seen += sum(1 for n in os.listdir(self.dir) if n.startswith(".quilbo-"))
            code, out, _ = self.run_quilbo(["*.log", "/D"])
            self.assertIn(code, (0, 5), out)
            self.assertEqual(os.listdir(self.dir), ["Archive"], "seed %d" % seed)
            for name, text in logs.items():
                archive = read(self.path("Archive/" + name))
                self.assertIn(archive, (copied(text), copied(text) * 2), (name, seed))
        harness.note("killed deletions: %d rounds of %d logs (seed %d), %d aside names "
                     "left by kills, all finished" % (self.ROUNDS, self.LOGS, seed, asides_seen))

    @unittest.skipIf(WINDOWS, "Windows deletes without a move aside")
    def test_an_aside_name_gets_what_a_writer_added(self):
        archived = b"first line\nsecond line\n"
        added = b"a writer's line\n"
        cases = [
            # (what, arguments, exit code, other log)
            ("no other log", ["*.log"], 5, None),
            ("beside another log", ["*.log", "/D"], 0, b"other\n"),
        ]
        for what, args, code_wanted, other in cases:
            with self.subTest(what):
                self.fresh()
                write(self.path(".quilbo-%d-app.log" % len(archived)), archived + added)
                write(self.path("Archive/app.log"), copied(archived))
                if other is not None:
                    write(self.path("b.log"), other)
                code, out, _ = self.run_quilbo(args)
                self.assertEqual(code, code_wanted, out)
                # Not a log of the walk: no line of its own.
                self.assertNotIn(b"quilbo-", out)
                self.assertEqual(read(self.path("Archive/app.log")), copied(archived + added))
                self.assertEqual(sorted(os.listdir(self.dir)),
                                 ["Archive"] + (["b.log"] if "/D" not in args and other else []))

    @unittest.skipIf(WINDOWS, "Windows deletes without a move aside")
    def test_an_aside_name_outside_the_pattern_stays(self):
        # Left by a run of *.txt into its own archive folder: a *.log run
        # must not take it into its archives.
        write(self.path(".quilbo-3-app.txt"), b"one\ntwo\n")
        write(self.path("b.log"), b"b\n")
        code, out, _ = self.run_quilbo(["*.log", "/D"])
        self.assertEqual(code, 0, out)
        self.assertEqual(sorted(os.listdir(self.dir)), [".quilbo-3-app.txt", "Archive"])
        self.assertEqual(os.listdir(self.path("Archive")), ["b.log"])
