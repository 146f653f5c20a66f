"""Notes on standard error where standard output, fixed byte for byte,
cannot say enough: a pattern folder that cannot be read, a wait for
another run, a log /D had to keep, the program behind an out-of-memory
report."""

import os
import re
import resource
import select
import subprocess
import time
import unittest

import harness
from e2e_case import E2ECase, note_line
from test_archive import file_line, settings

WINDOWS = harness.is_windows()


def start(args, cwd):
    """The program started with args in cwd, its output not yet read."""
    return subprocess.Popen(harness.CONFIG.runner + [str(harness.CONFIG.exe)] + args,
                            cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


class PatternFolder(E2ECase):
    def test_a_folder_that_cannot_be_read_is_named_and_exit_code_stays_5(self):
        harness.make_files(self.dir, {"a.log": b"a\n"})
        rows = (("nosuch/*.log", b"nosuch", b"No such file or directory"),
                ("nosuch/app.log", b"nosuch", b"No such file or directory"),
                ("a.log/*.log", b"a\\.log", b"Not a directory"))
        for pattern, folder, reason in rows:
            with self.subTest(pattern=pattern):
                code, out, err = self.run_quilbo([pattern])
                self.assertEqual((code, out), (5, settings()))
                # The system's own words; Windows words them its own way.
                reason = b".+" if WINDOWS else reason
                self.assertRegex(err, note_line(b"cannot read the folder " + folder + b": " + reason))
        # A folder that is there but holds no match is a quiet day.
        code, out, err = self.run_quilbo(["*.none"])
        self.assertEqual((code, out, err), (5, settings(), b""))


class LockWait(E2ECase):
    def test_a_run_waiting_for_another_says_so_after_a_second(self):
        # The first run holds the folder's lock while its console output,
        # which no one reads, fills the pipe: it stops until it is read.
        names = ["%s%03d.log" % ("n" * 150, i) for i in range(600)]
        harness.make_files(self.dir, {name: b"" for name in names})
        first = start(["*.log"], self.dir)
        second = None
        try:
            while not os.path.isdir(self.path("Archive")) or not os.listdir(self.path("Archive")):
                self.assertIsNone(first.poll(), "the first run ended before it blocked")
                time.sleep(0.01)
            second = start(["*.log"], self.dir)
            ready, _, _ = select.select([second.stderr], [], [], 60)
            self.assertTrue(ready, "no note from the waiting run")
            waited = second.stderr.readline()
            self.assertIsNone(first.poll(), "the first run ended: nothing was waited for")
            self.assertRegex(waited, note_line(b"waiting for another run that archives into Archive"))
        finally:
            out, _ = first.communicate(timeout=harness.RUN_TIMEOUT)
            if second is not None:
                rest, err = second.communicate(timeout=harness.RUN_TIMEOUT)
        self.assertEqual(first.returncode, 0)
        self.assertEqual(out.count(b"\r\n"), 601)
        self.assertEqual((second.returncode, err), (0, b""))  # one note only
        self.assertEqual(rest.count(b"\r\n"), 601)


@unittest.skipIf(WINDOWS, "wine does not share a Linux process's open files")
class HeldOpenLog(E2ECase):
    def test_a_log_held_open_is_kept_with_a_note(self):
        harness.make_files(self.dir, {"a.log": b"a\n"})
        with open(self.path("a.log"), "ab"):
            code, out, err = self.run_quilbo(["a.log", "/d"])
        self.assertEqual((code, out), (0, settings(delete=True) + file_line(1, "a.log", 2)))
        self.assertRegex(err, note_line(
            rb"/D kept a\.log \(another program holds it open or was still writing to it\): "
            rb"its text will be archived again next run"))
        self.assertTrue(os.path.exists(self.path("a.log")))


def sanitized():
    with open(harness.CONFIG.exe, "rb") as f:
        return b"__asan_init" in f.read()


@unittest.skipIf(WINDOWS, "the Windows program holds its whole runtime")
class OutOfMemory(E2ECase):
    def test_the_report_names_the_program_not_the_runtime_library(self):
        if sanitized():
            self.skipTest("the sanitizers reserve more address space than the limit")
        # One line of a gigabyte (a sparse file reads as zero bytes): the
        # piece that holds it outgrows a 256 MB address space.
        with open(self.path("big.log"), "wb") as f:
            f.truncate(1 << 30)
        limit = 256 << 20
        # Under qemu-i386 (linux32) the limit is the guest's address space.
        emulator = harness.CONFIG.runner + ["-R", str(limit)] if harness.CONFIG.runner else []
        done = subprocess.run(
            emulator + [str(harness.CONFIG.exe), "big.log"], cwd=self.dir, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, timeout=harness.RUN_TIMEOUT,
            preexec_fn=None if emulator else lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
        self.assertEqual(done.returncode, 1)
        head, report = harness.split_report(done.stdout)
        self.assertEqual(head, settings() + file_line(1, "big.log", 1 << 30))
        self.assertRegex(report, harness.report_pattern("Out of memory", harness.module_name(),
                                                        "EOutOfMemory"))
        self.assertRegex(done.stderr, note_line(b"Out of memory"))


if __name__ == "__main__":
    unittest.main()
