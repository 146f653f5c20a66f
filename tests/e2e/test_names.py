"""Names from the walk and from the command line reach exactly the file they
name: never through a code-page round trip, never as a pattern, never split
at a separator, never cut. Windows runs go through wine, which hands the
program the ANSI code page 1252 and the OEM code page 437: a Linux name
such as "a€.log" (UTF-8 on disk) reaches the program as cp1252 bytes."""

import os
import unittest

import harness
from e2e_case import E2ECase

CRLF = b"\r\n"
WINDOWS = harness.is_windows()
POSIX = not WINDOWS


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


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
        write(self.path("star*x.log"), b"first\r\n")
        write(self.path("star07x.log"), b"second\r\n")
        for _ in range(2):
            code, out, _ = self.run_quilbo(["star*x.log", "/T1"])
            self.assertEqual(code, 0, out)
        self.assertEqual(read(self.path("Archive/star*x.log")), b"first\r\n" * 2)
        self.assertEqual(read(self.path("Archive/star07x.log")), b"second\r\n" * 2)


if __name__ == "__main__":
    unittest.main()
