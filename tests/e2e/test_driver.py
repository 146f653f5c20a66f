"""The usage screen and the settings report, byte for byte, through the real
executable."""

import os
import unittest

import harness
from e2e_case import E2ECase, exe_full_path

CRLF = b"\r\n"

USAGE_REST = [
    b"",
    b" All files matching Filepattern will be archived to files with the same",
    b" name in the Archive subdir (Archive Dir will be created if needed).",
    b" If ArchiveDir is not entered 'Archive' is used (don't use full path!)",
    b" Original files will be deleted if /d option is used",
    b" Archive will be truncated at xxxx Kb if /txxx is used",
    b"   example: Quilbo *.log backup /d /t1000",
    b" DO NOT USE on binary files !",
    b"",
    b" Quilbo v1.1",
]


def usage_screen():
    first = (b"Usage: " + exe_full_path() + b" Filepattern [ArchiveDir] [/D] [/Txxxx]")[:255]
    return b"".join(line + CRLF for line in [first] + USAGE_REST)


class Usage(E2ECase):
    def test_usage_screen(self):
        for args in ([], ["/?"], ["/?", "backup", "/d"]):
            with self.subTest(args=args):
                code, out, _ = self.run_quilbo(args)
                self.assertEqual(code, 5)
                self.assertEqual(out, usage_screen())
        # Nothing is created by the usage screen.
        self.assertEqual(os.listdir(self.dir), [])

    @unittest.skipUnless(harness.is_windows(), "Linux refuses it as a mistyped option")
    def test_question_mark_later_is_the_folder_name(self):
        code, out, _ = self.run_quilbo(["*.none", "/?"])
        self.assertEqual(code, 5)
        self.assertEqual(out, b"Archive folder : /?" + CRLF)

    def test_case_and_spacing_of_the_question_mark_matter(self):
        # Only the exact two characters show the usage screen.
        code, out, _ = self.run_quilbo(["/? "])
        self.assertEqual(code, 5)
        self.assertEqual(out, b"Archive folder : Archive" + CRLF)


class SettingsReport(E2ECase):
    def test_option_cases(self):
        trunc = b"Archives will be truncated at %d Kb." + CRLF
        delete = b"Original files will be deleted after archiving" + CRLF
        folder = b"Archive folder : %s" + CRLF
        cases = [
            (["/t1000kb"], folder % b"Archive" + trunc % 1000),
            (["/T$400"], folder % b"Archive" + trunc % 1024),
            (["/t"], folder % b"Archive"),
            (["/tx"], folder % b"Archive"),
            (["/T0"], folder % b"Archive"),
            (["/T-5"], folder % b"Archive"),
        ]
        if harness.is_windows():  # Linux refuses them as mistyped options
            cases += [(["/Dx"], folder % b"/Dx"), (["-d"], folder % b"-d")]
        cases += [
            (["/d", "Old Logs", "/T12 34"], folder % b"Old Logs" + trunc % 12 + delete),
            (["one", "two", "/t1", "/t99999999999"], folder % b"two" + trunc % 999999999),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                self.fresh()
                code, out, _ = self.run_quilbo(["*.nothing"] + args)
                self.assertEqual(code, 5)
                self.assertEqual(out, expected)

    def test_long_folder_name_is_printed_whole(self):
        name = "f" * 200
        code, out, _ = self.run_quilbo(["*.nothing", name])
        self.assertEqual((code, out), (5, b"Archive folder : " + name.encode() + CRLF))


    @unittest.skipUnless(harness.is_windows(), "only Windows hands over one command line")
    def test_empty_command_line_runs_with_an_empty_pattern(self):
        code, out, _ = self.run_quilbo([], faults=harness.Faults(), empty_command_line=True)
        self.assertEqual(code, 5)
        self.assertEqual(out, b"Archive folder : Archive" + CRLF)
        self.assertTrue(os.path.isdir(self.path("Archive")))


if __name__ == "__main__":
    unittest.main()
