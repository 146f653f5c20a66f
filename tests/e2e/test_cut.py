"""The cut: the archive's kept bytes go into a new file that replaces it in
one step; a file under the cut's name that the run did not make is never
written, renamed or removed; with /T append and cut are one step."""

import os
import subprocess
import unittest

import harness
from e2e_case import E2ECase
from test_archive import copied, read, settings, file_line, write
from test_safety import POSIX, ROOT, mount_tmpfs

WINDOWS = harness.is_windows()


class ForeignTmp(E2ECase):
    def test_another_logs_archive_is_never_merged(self):
        # a.log.tmp is a log like any other; its archive lies where a cut
        # of a.log would write first.
        for first, second in (("a.log.tmp", "a.log"), ("a.log", "a.log.tmp")):
            for args in ([], ["/T1"]):
                with self.subTest(first=first, args=args):
                    self.fresh()
                    texts = {"a.log.tmp": b"T1\n", "a.log": b"A1\n" * 600}
                    for name in (first, second):
                        write(self.path(name), texts[name])
                        code, out, _ = self.run_quilbo([name, "/D"] + args)
                        self.assertEqual(code, 0, out)
                    cut = (lambda b: b[-1024:]) if args else (lambda b: b)
                    self.assertEqual(read(self.path("Archive/a.log")), cut(copied(texts["a.log"])))
                    self.assertEqual(read(self.path("Archive/a.log.tmp")), b"T1\r\n")
                    self.assertEqual(sorted(os.listdir(self.path("Archive"))),
                                     ["a.log", "a.log.tmp"])

    def test_a_users_tmp_stays_and_never_stops_a_run(self):
        cases = [
            # (the .tmp beside the archive, arguments, archive after)
            (b"", ["/T1"], (b"q" * 2000 + b"new\r\n")[-1024:]),
            (b"user's notes\r\n", [], b"q" * 2000 + b"new\r\n"),
            (b"user's notes\r\n", ["/T1"], (b"q" * 2000 + b"new\r\n")[-1024:]),
            (b"user's notes\r\n", ["/T4"], b"q" * 2000 + b"new\r\n"),
            # The start of what the cut keeps, as a cut that died leaves it:
            # it goes once the archive is replaced.
            ((b"q" * 2000 + b"new\r\n")[-1024:][:300], ["/T1"], (b"q" * 2000 + b"new\r\n")[-1024:]),
        ]
        for tmp, args, after in cases:
            with self.subTest(tmp=tmp[:20], args=args):
                self.fresh()
                write(self.path("Archive/a.log"), b"q" * 2000)
                write(self.path("Archive/a.log.tmp"), tmp)
                write(self.path("Archive/a.log.1.tmp"), b"another\r\n")
                write(self.path("a.log"), b"new\n")
                for again in (False, True):  # also the run after it
                    code, out, _ = self.run_quilbo(["a.log", "/D"] + args)
                    self.assertEqual(code, 5 if again else 0, out)
                self.assertEqual(read(self.path("Archive/a.log")), after)
                ours = tmp != b"" and after.startswith(tmp) and tmp != b"user's notes\r\n"
                self.assertEqual(os.path.exists(self.path("Archive/a.log.tmp")), not ours)
                if not ours:
                    self.assertEqual(read(self.path("Archive/a.log.tmp")), tmp)
                self.assertEqual(read(self.path("Archive/a.log.1.tmp")), b"another\r\n")
                self.assertEqual(len(os.listdir(self.path("Archive"))), 3 if not ours else 2)

    def test_longest_names_are_archived_and_cut(self):
        # Linux takes names of 255 bytes, with no room for ".tmp"; Windows
        # a path of 259 characters, "Archive\" and the name included.
        for length in ((252, 255) if not WINDOWS else (250,)):
            with self.subTest(length=length):
                self.fresh()
                name = "n" * (length - 4) + ".log"
                write(self.path("Archive/" + name), b"a" * 3000)
                for args in ([], ["/T1"]):
                    write(self.path(name), b"line\n")
                    code, out, _ = self.run_quilbo(["*.log"] + args)
                    self.assertEqual(code, 0, out)
                self.assertEqual(read(self.path("Archive/" + name)),
                                 (b"a" * 3000 + b"line\r\n" * 2)[-1024:])
                self.assertEqual(os.listdir(self.path("Archive")), [name])


class OneStep(E2ECase):
    def test_cut_writes_about_the_limit(self):
        # Appending 12 MB first and cutting after needs 12 MB of room.
        if not (POSIX and ROOT):
            self.skipTest("mounting needs root on Linux")
        disk = self.path("disk")
        if not mount_tmpfs(disk, 4 << 20):
            self.skipTest("cannot mount a small file system here")
        try:
            log = b"".join(b"line %08d of a long log\n" % i for i in range(480000))
            write(self.path("a.log"), log)
            write(os.path.join(disk, "a.log"), b"old\r\n" * 1000)
            code, out, _ = self.run_quilbo(["a.log", "disk", "/D", "/T1024"])
            self.assertEqual(code, 0, out)
            self.assertEqual(read(os.path.join(disk, "a.log")), copied(log)[-1024 * 1024:])
            self.assertEqual(os.listdir(disk), ["a.log"])
            self.assertFalse(os.path.exists(self.path("a.log")))
        finally:
            subprocess.run(["umount", disk])

    def test_kept_bytes_across_the_archive_and_the_log(self):
        old = b"".join(b"old %04d\r\n" % i for i in range(300))  # 3000 bytes
        cases = [
            # (archive, log, limit in KB)
            (old, b"x\n" * 100, 1),
            (old, b"new\r\n" * 5000, 1),          # the log alone passes the limit
            (old + b"\x1a end", b"a\rb\r\n\nc", 1),  # end marker, lone CR, no last LF
            (None, b"y" * 70000 + b"\n" + b"z" * 3000, 64),  # a line longer than a transfer
            (old, b"no line end", 2),
            (old, b"cut\n\x1a" + b"after\n" * 999, 1),
        ]
        for archive, log, kb in cases:
            with self.subTest(log=log[:12], kb=kb):
                self.fresh()
                if archive is not None:
                    write(self.path("Archive/a.log"), archive)
                write(self.path("a.log"), log)
                code, out, _ = self.run_quilbo(["a.log", "/T%d" % kb])
                self.assertEqual(code, 0, out)
                base = b"" if archive is None else archive.split(b"\x1a")[0]
                self.assertEqual(read(self.path("Archive/a.log")),
                                 (base + copied(log))[-kb * 1024:])


@unittest.skipUnless(POSIX, "Linux permission bits")
class NewArchiveAccess(E2ECase):
    def test_a_new_archive_never_shows_other_access(self):
        # The archive's name appears only with the log's access: a crash
        # at any call leaves no archive with other bits.
        write(self.path("a.log"), b"line\n")
        os.chmod(self.path("a.log"), 0o640)
        clean = self.run_quilbo(["a.log"], faults=harness.Faults())
        self.assertEqual(clean.code, 0)
        for k in range(1, clean.calls + 1):
            self.fresh()
            write(self.path("a.log"), b"line\n")
            os.chmod(self.path("a.log"), 0o640)
            env = dict(os.environ, QUILBO_FAULTY_CRASH_BEFORE=str(k))
            subprocess.run(harness.CONFIG.runner + [str(harness.CONFIG.faulty)] + harness.Faults().arguments() + ["a.log"],
                           cwd=self.dir, env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=harness.RUN_TIMEOUT)
            archive = self.path("Archive/a.log")
            if os.path.exists(archive):
                self.assertEqual(os.stat(archive).st_mode & 0o777, 0o640, "crash before call %d" % k)
