"""The command line and the console: the usage screen, the settings report,
what a Unix shell hands over, and how a run ends (exit codes, the report)."""

import os
import re
import shlex
import subprocess
import unittest
import uuid

from harness import (CONFIG, CRLF, Case, file_line, note_re, read, report_re, settings,
                     windows, write)

POSIX = not windows()
LOGS = {"a.log": b"one\n", "b.log": b"two\n", "c.log": b"three\n"}


def usage_screen():
    path = os.path.realpath(CONFIG["exe"])
    path = ("Z:" + path.replace("/", "\\")) if windows() else path
    first = (b"Usage: " + path.encode() + b" Filepattern [ArchiveDir] [/D] [/Txxxx]")[:255]
    return b"".join(line + CRLF for line in [
        first, b"", b" All files matching Filepattern will be archived to files with the same",
        b" name in the Archive subdir (Archive Dir will be created if needed).",
        b" If ArchiveDir is not entered 'Archive' is used (don't use full path!)",
        b" Original files will be deleted if /d option is used",
        b" Archive will be truncated at xxxx Kb if /txxx is used",
        b"   example: Quilbo *.log backup /d /t1000", b" DO NOT USE on binary files !", b"",
        b" Quilbo v1.1"])


class CommandLine(Case):
    def test_usage_screen_creates_nothing(self):
        for args in [[], ["/?"], ["/?", "backup", "/d"]] + ([["--"], ["", ""]] if POSIX else []):
            with self.subTest(args=args):
                result = self.q(args)
                self.assertEqual((result.code, result.out), (5, usage_screen()))
                self.assertEqual(os.listdir(self.dir), [])

    def test_settings_report(self):
        t = lambda kb: b"Archives will be truncated at %d Kb." % kb + CRLF  # noqa: E731
        rows = [(["/t1000kb"], settings() + t(1000)), (["/T$400"], settings() + t(1024)),
                (["/t"], settings()), (["/tx"], settings()), (["/T0"], settings()),
                (["/T-5"], settings()), (["f" * 200], settings("f" * 200)),
                (["/d", "Old Logs", "/T12 34"], settings("Old Logs", 12, True)),
                (["one", "two", "/t1", "/t99999999999"], settings("two", 999999999))]
        if windows():  # Linux refuses these as mistyped options
            rows += [(["/Dx"], settings("/Dx")), (["-d"], settings("-d")), (["/?"], settings("/?"))]
        for args, expected in rows:
            with self.subTest(args=args):
                result = self.q(["*.nothing"] + args)
                self.assertEqual((result.code, result.out), (5, expected))
        self.assertEqual(self.q(["/? "]).out, settings())  # only "/?" itself shows the usage
        if windows():  # Unix habits are patterns there
            for arg in ("--help", "-h", "--version"):
                self.fresh()
                result = self.q([arg])
                self.assertEqual((result.code, result.out), (5, settings()))
                self.assertEqual(os.listdir(self.dir), ["Archive"])
            result = self.q([], env={"QUILBO_FAULTY_EMPTY_COMMAND_LINE": "1"})
            self.assertEqual((result.code, result.out), (5, settings()))

    @unittest.skipIf(windows(), "Linux habits")
    def test_help_version_and_double_dash(self):
        for args in (["--help"], ["-h"], ["--version"]):
            result = self.q(args)
            self.assertEqual((result.code, result.err, os.listdir(self.dir)), (0, b"", []))
            if args == ["--version"]:
                self.assertEqual(result.out, b" Quilbo v1.1" + CRLF)
                continue
            self.assertTrue(result.out.startswith(
                b"Usage: quilbo [--] 'Filepattern' [ArchiveDir] [/D] [/Tn]\r\n"))
            self.assertTrue(result.out.endswith(CRLF))
            for words in (b"/T1000kb is 1000", b"Exit codes: 0", b"; 5 nothing matched",
                          b"example: quilbo '*.log' backup /d /t1000"):
                self.assertIn(words, result.out)
        for args in (["--help", "backup"], ["--version", "/d"], ["--", "--help"]):
            self.assertEqual(self.q(args).code, 5)  # patterns there
        self.files({"-x.log": b"x\n", "a.log": b"a\n", "--help": b"h\n"})
        result = self.q(["--", "-x*.log", "backup"])
        self.assertEqual(result.out, settings("backup") + file_line(1, "-x.log", 2))
        self.assertEqual((self.q(["./--help", "./-d", "/t5"]).code, read(self.p("-d/--help"))),
                         (0, b"h\r\n"))

    @unittest.skipIf(windows(), "only a Unix shell expands patterns and hands over empty words")
    def test_what_a_shell_hands_over(self):
        name = "quilbo-e2e-%s.log" % uuid.uuid4().hex  # an archive at the root would show
        rows = [(["*.log", ""], "Archive", False), (["", "*.log", "", "/d"], "Archive", True),
                (["*.log", "", "backup", ""], "backup", False), (["{n}", "old", "new"], "new", False),
                (["{n}", "b*", "c?"], "c?", False), (["{n}", "{d}/arch", "/T5"], "{d}/arch", False),
                (["{n}", "{d}/t/x"], "{d}/t/x", False), (["{n}", "/tmp", "/D"], "Archive", True)]
        for args, folder, delete in rows:
            with self.subTest(args=args):
                self.fresh()
                args, folder = [a.format(n=name, d=self.dir) for a in args], folder.format(d=self.dir)
                os.mkdir(self.p("t"))
                write(self.p(name), b"text\n")
                result = self.q(args)
                self.assertEqual(result.out, settings(folder, 5 if "/T5" in args else 0, delete) +
                                 file_line(1, name, 5))
                self.assertEqual(read(os.path.join(self.dir, folder, name)), b"text\r\n")
                self.assertEqual((result.code, os.path.exists(self.p(name))), (0, not delete))
                self.assertFalse(os.path.exists("/" + name), "archived to the root")
        self.fresh()
        self.files(LOGS)
        line = shlex.join(CONFIG["runner"] + [CONFIG["exe"]]) + " %s backup /d"
        done = subprocess.run(["sh", "-c", line % "*.log"], cwd=self.dir, stdout=subprocess.PIPE)
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn(b"(a.log b.log c.log)", done.stdout)
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(LOGS))
        done = subprocess.run(["sh", "-c", line % "'*.log'"], cwd=self.dir, stdout=subprocess.PIPE)
        self.assertEqual((done.returncode, os.listdir(self.dir)), (0, ["backup"]))

    def test_refused_before_anything_is_created(self):
        long_pattern = "d" * 250 + ("\\" if windows() else "/") + "app*.log"  # cut: d...d/app*
        rows = [([long_pattern, "/D"], b"Argument 1 is longer than 255 characters"),
                (["*.log", "x" * 256, "/D"], b"Argument 2 is longer than 255 characters")]
        if POSIX:
            expanded = b"(a.log b.log c.log)"
            rows += [(["a.log", "b.log", "c.log", "backup", "/d"], expanded),
                     (["a.log", "b.log", "c.log", "Archive", "Archive"], expanded),
                     (["/t5", "a.log", "b.log"], b"(a.log b.log)"),
                     (["logs/a.log", "logs/b.log", "Archive"], b"(logs/a.log logs/b.log)")]
            rows += [(["*.log", "backup", arg, "/d"], b"Unknown option " + arg.encode() +
                      b": the options are /D and /Txxxx")
                     for arg in ("-d", "--delete", "-T5", "-", "/X", "/backup", "/Dx", "/?")]
        for args, message in rows:
            with self.subTest(args=[a[:12] for a in args]):
                self.fresh()
                self.files(dict(LOGS, **{"Archive/a.log": b"old\r\n"}))
                self.files(LOGS, "logs/")
                self.files({"app.txt": b"not a log\r\n", "app1.log": b"log\r\n"}, "d" * 250 + "/")
                before = {f: read(os.path.join(f, n)) for f, _, ns in os.walk(self.dir) for n in ns}
                result = self.q(args)
                self.assertEqual(result.code, 1, result.out)
                self.assertRegex(result.out, report_re("Exception", None))  # the report alone
                self.assertIn(message, result.out)
                if b"option" in message:
                    self.assertRegex(result.err, note_re(re.escape(message) + b".*"))
                self.assertEqual({f: read(os.path.join(f, n)) for f, _, ns in os.walk(self.dir)
                                  for n in ns}, before)


class Ending(Case):
    def test_a_failed_console_write_ends_with_the_report(self):
        # The second line of the settings fails: the run ends before the
        # archive folder is made, its note in the system's words.
        for error, message in ((112, "I/O error 112"), (5, "File access denied"),
                               (2, "File not found"), (101, "Disk full"), (183, "I/O error 183")):
            with self.subTest(error=error):
                result = self.q(["*.log", "/D"], ("writeFile", 2, True, error))
                self.assertEqual(result.code, 1)
                self.assertReport(result.out, "EInOutError", message, settings())
                self.assertRegex(result.err, note_re(b"cannot write standard output: .+"))
                self.assertEqual(os.listdir(self.dir), [])
        # The report's own write fails too: nothing after the first line.
        result = self.q(["*.log", "/D"], ("writeFile", 2, False, 112))
        self.assertEqual((result.code, result.out), (1, settings()))

    def test_a_failure_before_the_report_is_installed(self):
        # No report can be written yet: the exit code and one line on
        # standard error tell what happened.
        for kind, fault, code in (("memory", ("allocate", 1, False, 8), 203), ("5", None, 5),
                                  ("112", None, 112)):
            with self.subTest(kind=kind):
                result = self.q(["*.log"], fault, env={"QUILBO_FAULTY_BEFORE_REPORTING": kind})
                self.assertEqual((result.code, result.out), (code, b""))
                self.assertRegex(result.err, rb"\ARuntime error %d at [0-9A-F]{8} TID=1\.\r\n\Z" % code)
