"""The command line and the console: the usage screen, the settings report,
what a Unix shell hands over, and how a run ends (exit codes, the report)."""

import os
import re
import unittest
import uuid

from harness import CONFIG, CRLF, Case, file_line, note_re, read, report_re, settings, tree, typed, windows

POSIX = not windows()


def usage_screen():
    path = os.path.realpath(CONFIG["exe"])
    path = ("Z:" + path.replace("/", "\\")) if windows() else path
    return CRLF.join([(b"Usage: " + path.encode() + b" Filepattern [ArchiveDir] [/D] [/Txxxx]")[:255], b"",
                      b" All files matching Filepattern will be archived to files with the same",
                      b" name in the Archive subdir (Archive Dir will be created if needed).",
                      b" If ArchiveDir is not entered 'Archive' is used (don't use full path!)",
                      b" Original files will be deleted if /d option is used", b" Archive will be truncated "
                      b"at xxxx Kb if /txxx is used", b"   example: " + (b"Quilbo *.log" if windows() else
                                                                         b"quilbo '*.log'") + b" backup /d /t1000",
                      b" DO NOT USE on binary files !", b"", b" Quilbo v1.1", b""])


class CommandLine(Case):
    def test_usage_screen_and_settings_report(self):
        for args in [[], ["/?"], ["/?", "backup", "/d"]] + ([["--"], ["", ""]] if POSIX else []):
            result = self.q(args)
            self.assertEqual((result.code, result.out, os.listdir(self.dir)), (5, usage_screen(), []))
            # Linux users are pointed to the help that fits their shell.
            self.assertRegex(result.err, note_re(rb"quilbo --help .*'\*\.log'.*") if POSIX else rb"\A\Z")
        rows = [(["x", "/tx"], settings()), (["x", "/d", "Old Logs", "/T12 34"], settings("Old Logs", 12, True)),
                (["x", "one", "two", "/t1", "/t99999999999", "f" * 200], settings("f" * 200, 999999999)),
                (["x", "/T5", "/T" + "0" * 252 + "7"], settings())]  # only 250 characters after /T are read
        if windows():  # what Linux refuses as mistyped options, or takes as its habits
            rows += [(["x", "-d"], settings("-d")), (["x", "/?"], settings("/?")), (["--help"], settings())]
        for args, expected in rows:
            result = self.q(args)
            self.assertEqual((result.code, result.out, os.path.isdir(self.p("Archive"))), (5, expected, True))

    @unittest.skipIf(windows(), "Linux habits")
    def test_what_a_unix_shell_hands_over(self):
        for args in (["--help"], ["-h"], ["--version"]):
            result = self.q(args)
            self.assertEqual((result.code, result.err, os.listdir(self.dir)), (0, b"", []))
            if args != ["--version"]:
                self.assertRegex(result.out, rb"\AUsage: quilbo \[--\] 'Filepattern' \[ArchiveDir\] \[/D\] \[/Tn\]"
                                 rb"\r\n(.*\r\n)*.*/T1000kb is 1000(.*\r\n)*Exit codes: 0.*; 5 nothing matched"
                                 rb"(.*\r\n)*.*example: quilbo '\*\.log' backup /d /t1000.*\r\n(.*\r\n)*\Z")
        self.assertRegex(result.out, rb"\Aquilbo 1\.1\n(.+\n)*License MIT.*\n\Z")  # as GNU tools give it
        self.assertEqual(self.q(["--", "--help"]).out[:17], b"Archive folder : ")  # a pattern there
        self.files({"-x.log": b"x\n", "a.log": b"a\n", "--help": b"h\n"})
        self.assertEqual(self.q(["--", "-x*.log", "bk"]).out, settings("bk") + file_line(1, "-x.log", 2))
        self.assertEqual((self.q(["./--help", "./-d", "/t5"]).code, read(self.p("-d/--help"))), (0, b"h\r\n"))
        # Empty words and absolute folders as a script hands them over.
        name = "quilbo-e2e-%s.log" % uuid.uuid4().hex  # an archive at the root would show
        for args, folder, delete in [(["", "*.log", "", "/d"], "Archive", True), (["*.log", "", "bk", ""], "bk", False),
                                     (["{n}", "old", "b*", "c?"], "c?", False), (["{n}", "/tmp", "/D"], "Archive", True),
                                     (["{n}", "{d}/t/x", "/T5"], "{d}/t/x", False)]:
            with self.row(args=args):
                args, folder = [a.format(n=name, d=self.dir) for a in args], folder.format(d=self.dir)
                self.files({name: b"text\n", "t/x/.keep": b""})
                result = self.q(args)
                self.assertEqual(result.out, settings(folder, 5 * ("/T5" in args), delete) + file_line(1, name, 5))
                self.assertEqual(read(os.path.join(self.dir, folder, name)), b"text\r\n")
                self.assertEqual((result.code, os.path.exists(self.p(name))), (0, not delete))
                self.assertFalse(os.path.exists("/" + name), "archived to the root")

    def test_refused_before_anything_is_created(self):
        rows = [(["d" * 250 + ("\\" if windows() else "/") + "app*.log", "/D"], b"Argument 1 is longer than 255"),
                (["*.log", "x" * 256, "/D"], b"Argument 2 is longer than 255 characters"),
                (["*.log", "ж" * 256], b"Argument 2 is longer than 255 characters"),  # characters, not bytes
                (["*.log", "/d", "", "x" * 256], b"Argument 3 is longer than 255 characters")]  # the last, after ""
        if POSIX:  # a pattern the shell expanded; a mistyped option
            rows += [(["a.log", "b.log", "c.log", "Archive", "/d"], b"(a.log b.log c.log)"),
                     (["/t5", "logs/a.log", "logs/b.log"], b"(logs/a.log logs/b.log): quote the pattern")]
            rows += [(["*.log", "bk", arg, "/d"], b"Unknown option %s: the options are /D and /Txxxx" % arg.encode())
                     for arg in ("-d", "--delete", "-", "/X", "/?")]
            # An option before the pattern: the right order is shown.
            rows += [(["-d", "*.log", "backup"], b"Unknown option -d: the pattern comes first"),
                     (["--help", "x"], b"--help takes no other argument"),
                     (["/T5", "logs/*.log"], b"The option /T5 comes after the pattern: quilbo 'logs/*.log' /T5")]
        self.files({n: b"one\n" for n in ("a.log", "b.log", "c.log", "logs/a.log", "logs/b.log", "Archive/a.log",
                                          "d" * 250 + "/app.txt")})  # the cut pattern d...d/app* matches app.txt
        before = tree(self.dir)
        for args, message in rows:
            result = self.q(args)
            self.assertEqual(result.code, 1, result.out)
            self.assertRegex(result.out, report_re("Exception", None))  # the report alone
            self.assertIn(message, result.out)
            if b"option" in message or b"argument" in message:
                self.assertRegex(result.err, note_re(re.escape(message) + b".*"))
            self.assertEqual(tree(self.dir), before)
        if POSIX:  # a typed option makes nothing at the root of the file system
            name = "quilbo-e2e-%s" % uuid.uuid4().hex
            for option in ("/d", "/t5", "/X"):
                result = self.q([option, name])
                created = os.path.isdir("/" + name)
                os.rmdir("/" + name) if created else None
                self.assertEqual((result.code, created), (1, False), option)


    def test_notes_for_a_person(self):
        # Standard output and the exit code as ever; standard error says
        # what went unnoticed.
        example = rb"logs\\\*\.log" if windows() else rb"'logs/\*\.log'"
        rows = [(["logs", "bk"], 5, settings("bk"), rb"logs is a folder, and the pattern names files: for its logs "
                 rb"write " + example),
                ([typed("logs/"), "bk"], 5, settings("bk"), rb"logs is a folder.*"),
                (["*.log", "a", "b"], 0, settings("b") + file_line(1, "x.log", 2),
                 rb"the archive folder is b: the folder a before it was replaced.*"),
                (["*.log", "a", "/d", "b", "c"], 0, settings("c", delete=True) + file_line(1, "x.log", 2),
                 rb"the archive folder is c: the folders a b before it were replaced.*")]
        if POSIX:  # the reason of the call that failed: a folder name that is a file
            rows += [(["*.log", "bk"], 1, None, rb"cannot create bk/x\.log: Not a directory")]
        for args, code, out, note in rows:
            with self.row(args=args):
                self.files({"x.log": b"x\n", "logs/a.log": b"a\n", "bk": b""})
                result = self.q(args)
                self.assertEqual(result.code, code, result.out)
                self.assertEqual(result.out, out if out is not None else result.out)
                self.assertRegex(result.err, note_re(note))


class Ending(Case):
    def test_failures_of_the_report_itself(self):
        # The second line of the settings fails: the run ends before the
        # archive folder is made; the note gives the system's words.
        for error, message in ((112, "I/O error 112"), (5, "File access denied"), (101, "Disk full")):
            result = self.q(["*.log", "/D"], ("writeFile", 2, 1, error))
            self.assertReport(result.out, "EInOutError", message, settings())
            self.assertRegex(result.err, note_re(b"cannot write standard output: .+"))
            self.assertEqual((result.code, os.listdir(self.dir)), (1, []))
        result = self.q(["*.log", "/D"], ("writeFile", 2, 0, 112))  # the report's write fails too
        self.assertEqual((result.code, result.out), (1, settings()))
        # Before the report is installed: the exit code and a line on
        # standard error tell what happened.
        for kind, fault, code in (("memory", ("allocate", 1, 0, 8), 203), ("5", (), 5), ("112", (), 112)):
            result = self.q(["*.log"], fault, env={"QUILBO_FAULTY_BEFORE_REPORTING": kind})
            self.assertEqual((result.code, result.out), (code, b""))
            self.assertRegex(result.err, rb"\ARuntime error %d at [0-9A-F]{8} TID=1\.\r\n\Z" % code)
