"""Names from the walk and from the command line reach exactly the file they
name: never through a code-page round trip, never as a pattern, never split
at a separator, never cut. Windows runs go through wine, which hands the
program the ANSI code page 1252 and the OEM code page 437: a Linux name
such as "a€.log" (UTF-8 on disk) reaches the program as cp1252 bytes."""

import os
import unittest

import harness
from e2e_case import E2ECase
from test_archive import read, write

CRLF = b"\r\n"
WINDOWS = harness.is_windows()
POSIX = not WINDOWS


def typed(text):
    """text as the program receives it on its command line: ANSI bytes on
    Windows, the bytes of the Linux name elsewhere."""
    return text.encode("cp1252" if WINDOWS else "utf-8")


def shown(name):
    """A found name as the console line shows it: the OEM form on Windows
    (code page 437, '?' where it has no form), the bytes elsewhere."""
    if POSIX:
        return name.encode("utf-8")
    # Windows fits "Š" to "S" (best fit); "€" has no form at all.
    return name.replace("Š", "S").encode("cp437", "replace")


def settings(folder="Archive", kb=0, delete=False):
    out = b"Archive folder : " + (folder if isinstance(folder, bytes) else typed(folder)) + CRLF
    if kb > 0:
        out += b"Archives will be truncated at %d Kb." % kb + CRLF
    if delete:
        out += b"Original files will be deleted after archiving" + CRLF
    return out


def file_line(n, path, size):
    return b"File %d " % n + path + b" (%d bytes)" % size + CRLF


class CodePages(E2ECase):
    """Names whose bytes differ between the ANSI and the OEM code page."""

    def test_archive_with_bytes_above_0x7f_is_cut(self):
        write(self.path("müller.log"), b"new line\r\n")
        write(self.path("Archive/müller.log"), b"o" * 3000)
        for run in range(2):
            code, out, _ = self.run_quilbo(["*.log", "/T1"])
            self.assertEqual(code, 0, out)
            self.assertEqual(out, settings(kb=1) + file_line(1, shown("müller.log"), 10))
            archive = read(self.path("Archive/müller.log"))
            self.assertEqual(len(archive), 1024, "run %d" % run)
            self.assertTrue(archive.endswith(b"new line\r\n"))
        self.assertFalse(os.path.exists(self.path("Archive/müller.log.tmp")))

    def test_names_that_show_alike_reach_their_own_archives(self):
        # On Windows "aŠ.log" shows as "aS.log" and "a€.log" as "a?.log".
        logs = {"a€.log": b"euro\r\n", "aŠ.log": b"caron\r\n", "aS.log": b"plain\r\n"}
        for name, data in logs.items():
            write(self.path(name), data)
        code, out, _ = self.run_quilbo(["*.log", "/D"])
        self.assertEqual(code, 0, out)
        body = out[len(settings(delete=True)):]
        lines = sorted(body.split(CRLF)[:-1])
        expected = sorted(file_line(n + 1, shown(name), len(data))[:-2]
                          for n, (name, data) in enumerate(logs.items()))
        # Numbers follow the folder's order: compare without them.
        strip = lambda line: line.split(b" ", 2)[2]  # noqa: E731
        self.assertEqual(sorted(map(strip, lines)), sorted(map(strip, expected)))
        for name, data in logs.items():
            self.assertEqual(read(self.path("Archive/" + name)), data, name)
            self.assertFalse(os.path.exists(self.path(name)), name)

    @unittest.skipUnless(WINDOWS, "every name has a form on Linux")
    def test_name_without_ansi_form_is_skipped_and_reaches_no_other_file(self):
        # Windows returns "aЖ.log" as "a?.log": the run must neither treat
        # that as a pattern (archiving "aX.log" twice) nor fail on it.
        write(self.path("aЖ.log"), b"cyrillic\r\n")
        write(self.path("aX.log"), b"x\r\n")
        code, out, _ = self.run_quilbo(["*.log", "/D"])
        self.assertEqual(code, 0, out)
        self.assertEqual(read(self.path("Archive/aX.log")), b"x\r\n")
        self.assertFalse(os.path.exists(self.path("aX.log")))
        self.assertEqual(read(self.path("aЖ.log")), b"cyrillic\r\n")
        self.assertEqual(sorted(os.listdir(self.path("Archive"))), ["aX.log"])


class TypedFolders(E2ECase):
    """The pattern's folder and the archive folder are used as typed."""

    def test_non_ascii_pattern_folder(self):
        write(self.path("Logsä/a.log"), b"inner\r\n")
        write(self.path("a.log"), b"outer\r\n")
        code, out, _ = self.run_quilbo(["Logsä\\*.log", "/D"])
        self.assertEqual(code, 0, out)
        self.assertEqual(out, settings(delete=True) + file_line(1, typed("Logsä\\a.log"), 7))
        self.assertEqual(read(self.path("Logsä/Archive/a.log")), b"inner\r\n")
        self.assertFalse(os.path.exists(self.path("Logsä/a.log")))
        self.assertEqual(read(self.path("a.log")), b"outer\r\n")
        self.assertFalse(os.path.exists(self.path("Archive")))

    def test_non_ascii_archive_folder(self):
        write(self.path("a.log"), b"pound\r\n")
        code, out, _ = self.run_quilbo(["*.log", "£"])
        self.assertEqual(code, 0, out)
        self.assertEqual(out, settings("£") + file_line(1, b"a.log", 7))
        self.assertEqual(read(self.path("£/a.log")), b"pound\r\n")
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.log", "£"])

    def test_slash_ends_the_pattern_folder(self):
        # Windows takes logs/*.log as logs\*.log: the log in logs is the one
        # archived and deleted, never the same name in the current folder.
        write(self.path("logs/a.log"), b"in logs\r\n")
        write(self.path("a.log"), b"here\r\n")
        code, out, _ = self.run_quilbo(["logs/*.log", "/d"])
        self.assertEqual(code, 0, out)
        self.assertEqual(out, settings(delete=True) + file_line(1, b"logs/a.log", 9))
        self.assertEqual(read(self.path("logs/Archive/a.log")), b"in logs\r\n")
        self.assertFalse(os.path.exists(self.path("logs/a.log")))
        self.assertEqual(read(self.path("a.log")), b"here\r\n")
        self.assertFalse(os.path.exists(self.path("Archive")))

    def test_both_separators_in_typed_folders(self):
        write(self.path("logs/a.log"), b"a\n")
        os.makedirs(self.path("logs/old"))
        for pattern, folder in (("logs\\*.log", "old\\new"), ("logs/*.log", "old/new2")):
            with self.subTest(pattern=pattern, folder=folder):
                code, out, _ = self.run_quilbo([pattern, folder])
                self.assertEqual(code, 0, out)
                self.assertEqual(out, settings(folder) + file_line(1, typed(pattern[:5] + "a.log"), 2))
                self.assertEqual(read(self.path("logs/" + folder.replace("\\", "/") + "/a.log")), b"a\r\n")


class Separators(E2ECase):
    """A found name is one name: a backslash in it separates nothing."""

    @unittest.skipUnless(POSIX, "Windows names cannot hold a backslash")
    def test_backslash_in_a_found_name(self):
        write(self.path("x\\y.log"), b"one name\r\n")
        write(self.path("x/y.log"), b"not matched\r\n")
        os.makedirs(self.path("Archive/x"))
        code, out, _ = self.run_quilbo(["*.log", "/D"])
        self.assertEqual(code, 0, out)
        self.assertEqual(out, settings(delete=True) + file_line(1, b"x\\y.log", 10))
        self.assertEqual(read(self.path("Archive/x\\y.log")), b"one name\r\n")
        self.assertFalse(os.path.exists(self.path("x\\y.log")))
        self.assertEqual(read(self.path("x/y.log")), b"not matched\r\n")
        self.assertEqual(os.listdir(self.path("Archive/x")), [])


class LongPaths(E2ECase):
    """Windows keeps its 259-byte paths and says so; Linux has no such limit."""

    def report_206(self, out, head):
        self.assertTrue(out.startswith(head), out)
        self.assertReport(out[len(head):], "EInOutError", "I/O error 206.")

    def test_found_log_whose_path_passes_259_bytes(self):
        folder, name = "d" * 20, "n" * 240 + ".log"   # 265 bytes together
        log = self.path(folder + "/" + name)
        archive = self.path(folder + "/Archive/" + name)
        write(log, b"deep\r\n")
        write(archive, b"a" * 3000)
        code, out, _ = self.run_quilbo([folder + "\\*.log", "/T1", "/D"])
        head = settings(kb=1, delete=True) + file_line(1, (folder + "\\" + name).encode(), 6)
        if WINDOWS:
            # Never a silent skip: the run ends with the report.
            self.assertEqual(code, 1)
            self.report_206(out, head)
            self.assertEqual(read(log), b"deep\r\n")
            self.assertEqual(read(archive), b"a" * 3000)
        else:
            self.assertEqual((code, out), (0, head))
            self.assertEqual(read(archive), (b"a" * 3000 + b"deep\r\n")[-1024:])
            self.assertFalse(os.path.exists(log))
            self.assertFalse(os.path.exists(archive + ".tmp"))

    def test_archive_whose_tmp_name_passes_259_bytes(self):
        name = "n" * 246 + ".log"   # Archive\ + name: 258 bytes, + .tmp: 262
        log, archive = self.path(name), self.path("Archive/" + name)
        write(log, b"line\r\n")
        write(archive, b"a" * 3000)
        code, out, _ = self.run_quilbo(["*.log", "/T1", "/D"])
        head = settings(kb=1, delete=True) + file_line(1, name.encode(), 6)
        # The cut's new file takes a shortened name.
        self.assertEqual((code, out), (0, head))
        self.assertEqual(read(archive), (b"a" * 3000 + b"line\r\n")[-1024:])
        self.assertFalse(os.path.exists(log))
        self.assertEqual(os.listdir(self.path("Archive")), [name])


class Wildcards(E2ECase):
    """'*' and '?' are bytes of a found name (Linux), never a pattern."""

    @unittest.skipUnless(POSIX, "Windows names cannot hold '*' or '?'")
    def test_star_and_question_mark_in_names(self):
        logs = {"star*x.log": b"star\r\n" * 100, "star07x.log": b"07\r\n",
                "q?.log": b"q\r\n" * 300, "qq.log": b"qq\r\n"}
        archives = {"star*x.log": b"S" * 3000, "star07x.log": b"7" * 50,
                    "q?.log": b"Q" * 5000, "qq.log": b"q" * 10}
        for name, data in logs.items():
            write(self.path(name), data)
            write(self.path("Archive/" + name), archives[name])
        code, out, _ = self.run_quilbo(["*.log", "/T1", "/D"])
        self.assertEqual(code, 0, out)
        for name, data in logs.items():
            whole = archives[name] + data
            self.assertEqual(read(self.path("Archive/" + name)), whole[-1024:], name)
            self.assertFalse(os.path.exists(self.path(name)), name)
        self.assertEqual(sorted(os.listdir(self.path("Archive"))), sorted(logs))

    @unittest.skipUnless(POSIX, "Windows names cannot hold '*' or '?'")
    def test_star_name_without_an_archive(self):
        # Only the other log has an archive: read as a pattern, the name
        # would find that one and append to a file that is not there.
        write(self.path("star*x.log"), b"first\r\n")
        write(self.path("star07x.log"), b"second\r\n")
        write(self.path("Archive/star07x.log"), b"old\r\n")
        for _ in range(2):
            code, out, _ = self.run_quilbo(["*.log", "/T1"])
            self.assertEqual(code, 0, out)
        self.assertEqual(read(self.path("Archive/star*x.log")), b"first\r\n" * 2)
        self.assertEqual(read(self.path("Archive/star07x.log")), b"old\r\n" + b"second\r\n" * 2)


if __name__ == "__main__":
    unittest.main()
