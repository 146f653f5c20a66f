"""Runs that overlap: one run at a time per archive folder."""

import os
import subprocess

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
