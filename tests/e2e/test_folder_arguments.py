"""The archive folder argument: what a script hands over on Linux (empty
arguments, absolute folders) and an archive name that is already a folder."""

import os
import unittest
import uuid

import harness
from e2e_case import E2ECase
from test_archive import file_line, read, settings, write

CRLF = b"\r\n"
WINDOWS = harness.is_windows()
POSIX = not WINDOWS


@unittest.skipUnless(POSIX, "a Windows command line cannot carry an empty argument")
class EmptyArguments(E2ECase):
    """quilbo '*.log' "$DIR" with DIR unset: the empty argument is skipped,
    as a "" pair on a Windows command line is, never a folder named ""
    (which would put the archives at the root of the file system)."""

    def setUp(self):
        super().setUp()
        # A name no other file has, so a stray archive at the root is ours.
        self.name = "quilbo-e2e-%s.log" % uuid.uuid4().hex
        self.stray = os.path.join("/", self.name)

    def tearDown(self):
        if os.path.exists(self.stray):
            os.remove(self.stray)
        super().tearDown()

    def test_empty_arguments_are_skipped(self):
        rows = [
            (["*.log", ""], settings(), "Archive"),
            (["", "*.log", "", "/d"], settings(delete=True), "Archive"),
            (["*.log", "", "backup", ""], settings("backup"), "backup"),
        ]
        for args, head, folder in rows:
            with self.subTest(args=args):
                self.fresh()
                write(self.path(self.name), b"text\r\n")
                code, out, _ = self.run_quilbo(args)
                self.assertEqual(code, 0, out)
                self.assertEqual(out, head + file_line(1, self.name, 6))
                self.assertEqual(read(self.path(folder + "/" + self.name)), b"text\r\n")
                self.assertFalse(os.path.exists(self.stray), "archived to the root")

    def test_only_empty_arguments_show_the_usage_screen(self):
        code, out, _ = self.run_quilbo(["", ""])
        self.assertEqual(code, 5)
        self.assertTrue(out.startswith(b"Usage: "), out)
        self.assertEqual(os.listdir(self.dir), [])


@unittest.skipUnless(POSIX, "Windows folders are written with backslashes")
class AbsoluteFolders(E2ECase):
    """/tmp/arch is a folder, not the option /T: on Linux an argument holding
    a second '/' is a folder name."""

    def test_absolute_archive_folders_starting_like_options(self):
        write(self.path("a.log"), b"abs\r\n")
        os.makedirs(self.path("t"))
        # The test's folder lies under /tmp: its path starts with "/t".
        for folder in (self.path("arch"), self.path("t/x"), self.path("d")):
            with self.subTest(folder=folder):
                self.assertTrue(folder.startswith("/"))
                code, out, _ = self.run_quilbo(["a.log", folder, "/T5"])
                self.assertEqual(code, 0, out)
                self.assertEqual(out, settings(folder, kb=5) + file_line(1, "a.log", 5))
                self.assertEqual(read(os.path.join(folder, "a.log")), b"abs\r\n")
        self.assertFalse(os.path.exists(self.path("Archive")))

    def test_options_keep_their_meaning(self):
        # One '/' only: still the options, as documented.
        write(self.path("a.log"), b"opt\r\n")
        code, out, _ = self.run_quilbo(["a.log", "/tmp", "/D"])
        self.assertEqual(code, 0, out)
        self.assertEqual(out, settings(delete=True) + file_line(1, "a.log", 5))
        self.assertEqual(read(self.path("Archive/a.log")), b"opt\r\n")
        self.assertFalse(os.path.exists(self.path("a.log")))


class LongArguments(E2ECase):
    """An argument longer than 255 characters would be cut, and the cut one
    names other files: the run is refused before anything is created."""

    def test_cut_pattern_is_refused(self):
        folder = "d" * 250
        write(self.path(folder + "/app.txt"), b"not a log\r\n")
        write(self.path(folder + "/app1.log"), b"log\r\n")
        # Cut after 255 characters this reads d...d/app*, matching app.txt.
        pattern = folder + ("\\" if WINDOWS else "/") + "app*.log"
        self.assertEqual(len(pattern), 259)
        for args in ([pattern, "/D"], ["*.log", "x" * 256, "/D"]):
            with self.subTest(args=[a[:20] for a in args]):
                code, out, _ = self.run_quilbo(args)
                self.assertEqual(code, 1)
                self.assertReport(out, "Exception", None)
                self.assertIn(b"longer than 255 characters", out)
                self.assertEqual(sorted(os.listdir(self.path(folder))), ["app.txt", "app1.log"])
                self.assertEqual(sorted(os.listdir(self.dir)), [folder])
        # At 255 characters the argument is whole: only app1.log matches.
        code, out, _ = self.run_quilbo([pattern[:251] + "*log", "/D"])
        head = settings(delete=True) + file_line(1, pattern[:251] + "app1.log", 5)
        self.assertTrue(out.startswith(head), out)
        if WINDOWS:
            # Its archive's path passes 259 characters: refused, nothing lost.
            self.assertEqual(code, 1)
            self.assertReport(out[len(head):], "EInOutError", "I/O error 206.")
            self.assertTrue(os.path.exists(self.path(folder + "/app1.log")))
        else:
            self.assertEqual((code, out), (0, head))
            self.assertEqual(read(self.path(folder + "/Archive/app1.log")), b"log\r\n")
        self.assertTrue(os.path.exists(self.path(folder + "/app.txt")))


class ArchiveNameIsAFolder(E2ECase):
    def test_reports_access_denied_and_keeps_the_log(self):
        write(self.path("a.log"), b"keep\r\n")
        os.makedirs(self.path("Archive/a.log"))
        code, out, _ = self.run_quilbo(["a.log", "/d"])
        self.assertEqual(code, 1)
        head = settings(delete=True) + file_line(1, "a.log", 6)
        self.assertTrue(out.startswith(head), out)
        self.assertReport(out[len(head):], "EInOutError", "File access denied.")
        self.assertEqual(read(self.path("a.log")), b"keep\r\n")
        self.assertEqual(os.listdir(self.path("Archive/a.log")), [])


if __name__ == "__main__":
    unittest.main()
