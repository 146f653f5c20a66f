"""What users of a Unix shell type out of habit: --help, -h and --version,
"--", options written -d or mistyped, and a pattern left unquoted, which
the shell turns into the names it matches. Windows keeps /? alone and takes such arguments as it always has."""

import os
import re
import subprocess
import unittest

import harness
from e2e_case import CRLF, E2ECase, note_line, report_regex
from test_driver import usage_screen

BANNER = b" Quilbo v1.1" + CRLF
LOGS = {"a.log": b"one\n", "b.log": b"two\n", "c.log": b"three\n"}


def settings(folder, delete=False):
    text = b"Archive folder : " + folder.encode() + CRLF
    if delete:
        text += b"Original files will be deleted after archiving" + CRLF
    return text


@unittest.skipIf(harness.is_windows(), "Linux habits")
class HelpAndVersion(E2ECase):
    def test_sole_argument_answers_with_exit_code_0_and_creates_nothing(self):
        for args in (["--help"], ["-h"], ["--version"]):
            with self.subTest(args=args):
                code, out, err = self.run_quilbo(args)
                self.assertEqual((code, err), (0, b""))
                self.assertEqual(os.listdir(self.dir), [])
                if args == ["--version"]:
                    self.assertEqual(out, BANNER)
                    continue
                help_lines = out.split(CRLF)
                self.assertEqual(help_lines[0],
                                 b"Usage: quilbo [--] 'Filepattern' [ArchiveDir] [/D] [/Tn]")
                self.assertEqual(help_lines[-1], b"")  # every line ends with CR LF
                for words in (b"/T1000kb is 1000", b"--version", b"Exit codes: 0",
                              b"; 5 nothing matched", b"; 1 a", b"man quilbo",
                              b"example: quilbo '*.log' backup /d /t1000"):
                    self.assertIn(words, out)

    def test_usage_screen_stays_for_question_mark_and_lone_double_dash(self):
        for args in (["/?"], ["--"]):
            with self.subTest(args=args):
                code, out, _ = self.run_quilbo(args)
                self.assertEqual((code, out), (5, usage_screen()))

    def test_double_dash_ends_the_options(self):
        harness.make_files(self.dir, {"-x.log": b"x\n", "a.log": b"a\n"})
        code, out, _ = self.run_quilbo(["--", "-x*.log", "backup"])
        self.assertEqual(code, 0, out)
        self.assertEqual(out, settings("backup") + b"File 1 -x.log (2 bytes)" + CRLF)
        self.assertEqual(harness.read_file(self.path("backup/-x.log")), b"x" + CRLF)
        # After it even --help is a pattern.
        code, out, _ = self.run_quilbo(["--", "--help"])
        self.assertEqual((code, out), (5, settings("Archive")))

    def test_next_to_other_arguments_they_are_patterns(self):
        for args in (["--help", "backup"], ["--version", "/d"], ["-h", "x", "/t5"]):
            with self.subTest(args=args):
                self.fresh()
                code, out, _ = self.run_quilbo(args)
                self.assertEqual(code, 5)
                self.assertTrue(out.startswith(b"Archive folder : "), out)

    def test_a_file_named_like_an_option_is_reached_with_a_path(self):
        harness.write_file(self.path("--help"), b"text\n")
        code, out, _ = self.run_quilbo(["./--help"])
        self.assertEqual(code, 0)
        self.assertEqual(harness.read_file(self.path("Archive/--help")), b"text" + CRLF)


@unittest.skipIf(harness.is_windows(), "only a Unix shell expands patterns")
class ExpandedPattern(E2ECase):
    def assertRefused(self, args, names):
        before = harness.snapshot(self.dir)
        code, out, err = self.run_quilbo(args)
        self.assertEqual(code, 1, out)
        # The report alone: not even the settings, and nothing created.
        self.assertRegex(out, report_regex("Exception", None))
        self.assertIn(b"(" + b" ".join(n.encode() for n in names) + b")", out)
        self.assertIn(b"quote the pattern", out)
        self.assertEqual(harness.snapshot(self.dir), before)

    def test_refused_before_anything_is_created(self):
        cases = [
            (["a.log", "b.log", "c.log", "backup", "/d"], ["a.log", "b.log", "c.log"]),
            (["a.log", "b.log", "c.log", "/t5"], ["a.log", "b.log", "c.log"]),
            (["a.log", "b.log"], ["a.log", "b.log"]),
            (["/t5", "a.log", "b.log"], ["a.log", "b.log"]),
            (["logs/a.log", "logs/b.log", "Archive"], ["logs/a.log", "logs/b.log"]),
            # An existing archive folder among the names changes nothing.
            (["a.log", "b.log", "c.log", "Archive", "Archive"], ["a.log", "b.log", "c.log"]),
        ]
        for args, names in cases:
            with self.subTest(args=args):
                self.fresh()
                harness.make_files(self.dir, LOGS)
                harness.make_files(self.dir, {"logs/" + k: v for k, v in LOGS.items()})
                harness.make_files(self.dir, {"Archive/a.log": b"old\r\n"})
                self.assertRefused(args, names)

    def test_what_the_shell_really_does(self):
        harness.make_files(self.dir, LOGS)
        command = " ".join("'%s'" % p for p in harness.CONFIG.runner + [str(harness.CONFIG.exe)]) + " *.log backup /d"
        before = harness.snapshot(self.dir)
        done = subprocess.run(["sh", "-c", command], cwd=self.dir,
                              stdout=subprocess.PIPE, timeout=harness.RUN_TIMEOUT)
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn(b"(a.log b.log c.log)", done.stdout)
        self.assertEqual(harness.snapshot(self.dir), before)
        # Quoted, the same line archives and deletes all three.
        done = subprocess.run(["sh", "-c", command.replace("*.log", "'*.log'")],
                              cwd=self.dir, stdout=subprocess.PIPE,
                              timeout=harness.RUN_TIMEOUT)
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertEqual(harness.snapshot(self.dir), {
            "backup/": None, "backup/a.log": b"one\r\n",
            "backup/b.log": b"two\r\n", "backup/c.log": b"three\r\n"})

    def test_legitimate_command_lines_run(self):
        cases = [
            # One log and its folder: what an expansion of one match gives.
            (["a.log", "backup", "/d"], "backup", True, ["a.log"]),
            # Several folder names, none of them a file: the last one holds.
            (["a.log", "old", "new"], "new", False, ["a.log"]),
            # A quoted pattern next to a folder name.
            (["*.log", "backup"], "backup", False, ["a.log", "b.log", "c.log"]),
            # Wildcards in a folder name are never looked up as a pattern.
            (["a.log", "b*", "c?"], "c?", False, ["a.log"]),
        ]
        for args, folder, delete, archived in cases:
            with self.subTest(args=args):
                self.fresh()
                harness.make_files(self.dir, LOGS)
                code, out, _ = self.run_quilbo(args)
                self.assertEqual(code, 0, out)
                self.assertTrue(out.startswith(settings(folder, delete)), out)
                for name in archived:
                    self.assertEqual(harness.read_file(self.path(folder + "/" + name)),
                                     LOGS[name].replace(b"\n", CRLF))
                self.assertEqual(os.path.exists(self.path("a.log")), not delete)

    def test_a_missing_pattern_next_to_a_file_keeps_its_exit_code(self):
        harness.make_files(self.dir, {"notes.txt": b"x\n"})
        code, out, _ = self.run_quilbo(["*.log", "notes.txt"])
        self.assertEqual((code, out), (5, settings("notes.txt")))


@unittest.skipIf(harness.is_windows(), "there /X is the folder \\X, as it always was")
class MistypedOptions(E2ECase):
    def test_refused_before_anything_is_created(self):
        for arg in ("-d", "--delete", "-T5", "-", "/X", "/backup", "/Dx", "/?"):
            with self.subTest(arg=arg):
                self.fresh()
                harness.make_files(self.dir, LOGS)
                before = harness.snapshot(self.dir)
                code, out, err = self.run_quilbo(["*.log", "backup", arg, "/d"])
                self.assertEqual(code, 1, out)
                # The report alone: not even the settings.
                self.assertRegex(out, report_regex("Exception", None))
                message = b"Unknown option " + arg.encode() + b": the options are /D and /Txxxx"
                self.assertIn(message, out)
                self.assertRegex(err, note_line(re.escape(message) + b".*"))
                self.assertEqual(harness.snapshot(self.dir), before)

    def test_such_folders_are_written_with_a_path(self):
        harness.make_files(self.dir, {"a.log": b"a\n"})
        code, out, _ = self.run_quilbo(["a.log", "./-d", "/t5"])
        self.assertEqual(code, 0, out)
        self.assertEqual(harness.read_file(self.path("-d/a.log")), b"a" + CRLF)


@unittest.skipUnless(harness.is_windows(), "Windows keeps its own command line")
class WindowsKeepsItsCommandLine(E2ECase):
    def test_help_and_version_are_patterns(self):
        for arg in ("--help", "-h", "--version"):
            with self.subTest(arg=arg):
                self.fresh()
                code, out, _ = self.run_quilbo([arg])
                self.assertEqual((code, out), (5, settings("Archive")))
                self.assertEqual(os.listdir(self.dir), ["Archive"])

    def test_later_folder_names_replace_earlier_ones(self):
        harness.make_files(self.dir, LOGS)
        code, out, _ = self.run_quilbo(["a.log", "b.log", "backup"])
        self.assertEqual(code, 0, out)
        self.assertTrue(out.startswith(settings("backup")), out)
        self.assertEqual(harness.read_file(self.path("backup/a.log")), b"one\r\n")


if __name__ == "__main__":
    unittest.main()
