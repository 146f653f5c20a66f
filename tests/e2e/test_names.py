"""Names reach exactly the file they name, whatever their characters: never a
code-page round trip, never a pattern, never split at a separator, never cut.
Under wine (locale C.UTF-8) the ANSI code page is 1252 and the OEM one 437."""

import os
import unittest

from harness import CRLF, Case, file_line, listing, read, settings, windows

POSIX = not windows()


def typed(text):  # what was typed as the console shows it: the ANSI form on Windows
    return text.encode("cp1252", "replace") if windows() else text.encode()


def shown(name):  # a found name as the console shows it: the OEM form ("Š" fits to "S")
    return name.replace("Š", "S").encode("cp437", "replace") if windows() else name.encode()


class Names(Case):
    def test_found_names_outside_the_code_pages(self):
        # Windows has no ANSI form of the first three (never "aX.log", which
        # "a?.log" matches), and shows "aŠ" like "aS": each reaches its own archive.
        logs = {"журнал.log": b"cyrillic\r\n", "ログ.log": b"japanese\r\n", "aЖ.log": b"mixed\r\n",
                "müller.log": b"ansi\r\n", "aX.log": b"x\r\n", "a€.log": b"euro\r\n",
                "aŠ.log": b"caron\r\n", "aS.log": b"plain\r\n"}
        old = {"журнал.log": b"j" * 3000, "müller.log": b"m" * 3000}
        self.files(logs)
        self.files(old, "Archive/")
        lines = self.q(["*.log", "/D", "/T1"]).out.split(CRLF)
        self.assertEqual(lines[:3], settings(kb=1, delete=True).split(CRLF)[:3])
        self.assertEqual(sorted(line.split(b" ", 2)[2] for line in lines[3:-1]),  # the walk's order
                         sorted(file_line(0, shown(n), len(d))[7:-2] for n, d in logs.items()))
        for name, data in logs.items():
            self.assertEqual(read(self.p("Archive/" + name)), (old.get(name, b"") + data)[-1024:], name)
        self.assertEqual((listing(self.dir), listing(self.p("Archive"))), (["Archive"], sorted(logs)))

    def test_typed_folders_are_used_as_typed(self):
        # "Logsä" and "£" have ANSI forms; the second pair has none.
        for folder, archive in (("Logsä", "£"), ("папка", "архив")):
            with self.row(folder=folder):
                self.files({folder + "/журнал.log": b"new\r\n", folder + "/" + archive + "/журнал.log":
                            b"o" * 2000, "журнал.log": b"outside\r\n"})
                self.assertEqual(self.q([folder + "\\*.log", archive, "/d", "/t1"]).out, settings(typed(archive), 1, True)
                                 + file_line(1, typed(folder + "\\") + shown("журнал.log"), 5))
                self.assertEqual(read(self.p(folder + "/" + archive + "/журнал.log")),
                                 (b"o" * 2000 + b"new\r\n")[-1024:])
                self.assertEqual((listing(self.p(folder)), listing(self.dir)), ([archive], sorted([folder, "журнал.log"])))
        # Both separators end the pattern's folder and part the archive folder.
        self.files({"logs/a.log": b"a\n", "a.log": b"here\n", "logs/old/x": b""})
        for pattern, folder in (("logs\\*.log", "old\\new"), ("logs/*.log", "old/new2")):
            self.assertEqual(self.q([pattern, folder]).out, settings(folder) + file_line(1, pattern[:5] + "a.log", 2))
            self.assertEqual(read(self.p("logs/" + folder.replace("\\", "/") + "/a.log")), b"a\r\n")

    @unittest.skipUnless(POSIX, "Windows names hold no '\\', '*' or '?'")
    def test_found_names_are_never_patterns_or_paths(self):
        # Only the other log has an archive at first: read as a pattern,
        # star*x.log would find that one.
        logs = {"star*x.log": b"star\r\n" * 100, "star07x.log": b"07\r\n", "q?.log": b"q\r\n" * 300,
                "qq.log": b"qq\r\n", "x\\y.log": b"one name\r\n"}
        self.files(logs)
        self.files({"star07x.log": b"7" * 50, "q?.log": b"Q" * 5000}, "Archive/")
        self.files({"x/y.log": b"not matched\r\n"})
        os.makedirs(self.p("Archive/x"))
        self.assertIn(file_line(5, "x\\y.log", 10)[6:], self.q(["*.log", "/T1"]).out)
        self.assertEqual(self.q(["*.log", "/T1", "/D"]).code, 0)
        for name, data in logs.items():
            before = {"star07x.log": b"7" * 50, "q?.log": b"Q" * 5000}.get(name, b"")
            self.assertEqual(read(self.p("Archive/" + name)), (before + data * 2)[-1024:], name)
        self.assertEqual((listing(self.dir), listing(self.p("Archive/x"))), (["Archive", "x"], []))
        self.assertEqual(read(self.p("x/y.log")), b"not matched\r\n")
