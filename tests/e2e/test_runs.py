"""Runs that meet: one run at a time per archive folder. The first run holds
its lock while its console output, which nobody reads yet, fills the pipe:
the second run deterministically finds the folder locked."""

import os
import select

from harness import RUN_TIMEOUT, Case, copied, listing, note_re, read, start, windows


class Lock(Case):
    def test_a_second_run_waits_for_the_first(self):
        logs = {"%s%03d.log" % ("n" * 150, i): b"line of log %03d\n" % i for i in range(600)}
        second_name = ("Z:" + self.p("keep").replace("/", "\\")) if windows() else "alias"
        for other, delete in ((second_name, False), ("keep", True)):
            with self.subTest(other=other, delete=delete):
                self.fresh()
                self.files(logs)
                os.mkdir(self.p("keep"))
                if not windows():
                    os.symlink("keep", self.p("alias"))
                args = ["/D"] if delete else []
                first = start(["*.log", "keep"] + args, self.dir)
                second = None
                try:
                    while not listing(self.p("keep")):
                        self.assertIsNone(first.poll(), "the first run ended before it blocked")
                        select.select([], [], [], 0.01)
                    second = start(["*.log", other] + args, self.dir)
                    ready, _, _ = select.select([second.stderr], [], [], 60)
                    self.assertTrue(ready, "no note from the waiting run")
                    self.assertRegex(second.stderr.readline(), note_re(
                        b"waiting for another run that archives into " + os.fsencode(other).replace(b"\\", b"\\\\")))
                    self.assertIsNone(first.poll(), "the first run ended: nothing was waited for")
                finally:
                    out, _ = first.communicate(timeout=RUN_TIMEOUT)
                    rest, err = second.communicate(timeout=RUN_TIMEOUT) if second else (b"", b"")
                self.assertEqual((first.returncode, out.count(b"\r\n")), (0, 601 + delete))
                # Whole copies one after the other; with /D the second run,
                # which waited, finds nothing left.
                self.assertEqual((second.returncode, err, rest.count(b"\r\n")), (5, b"", 2) if delete else (0, b"", 601))
                for name, text in logs.items():
                    self.assertEqual(read(self.p("keep/" + name)), copied(text) * (1 if delete else 2))
                self.assertEqual(len(listing(self.dir)), 1 + (not windows()) + 600 * (not delete))
