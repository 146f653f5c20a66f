"""The end of the process, end to end: exit codes, the console output that
precedes the end, and the failure report."""

import harness
from e2e_case import note_line
from harness import Faults, lines


class FailedConsoleWrite(harness.Case):
    # The settings report with /D is two lines; the second one's write
    # fails. The run ends there, before the archive folder is made.
    ARGS = ["*.log", "/D"]
    FIRST_LINE = lines("Archive folder : Archive")

    def test_report_follows_the_written_lines(self):
        cases = [
            (112, "I/O error 112"),       # the platform's disk-full number
            (5, "File access denied"),
            (2, "File not found"),
            (3, "Invalid filename"),
            (101, "Disk full"),
            (258, "I/O error 258"),
            (183, "I/O error 183"),
        ]
        for error, message in cases:
            with self.subTest(error=error):
                result = self.run_program(
                    self.ARGS, Faults(service="writeFile", from_nth=2,
                                      once=True, error=error))
                self.assertEqual(result.code, 1, result.stdout)
                self.assertReport(result.stdout, message,
                                  module=harness.module_name(faulty=True),
                                  before=self.FIRST_LINE)
                self.assertTrue(result.stdout.endswith(
                    message.encode() + b"."), "no line end after the report")
                self.assertEqual(result.injected, 1)
                # The note names what failed, with the system's words.
                self.assertRegex(result.stderr,
                                 note_line(b"cannot write standard output: .+"))
                self.assertEqual(harness.snapshot(self.dir), {})

    def test_failed_report_write_still_exits_1(self):
        # Every write from the second on fails, the report's own included:
        # nothing after the first line, and the exit code stays 1.
        result = self.run_program(
            self.ARGS, Faults(service="writeFile", from_nth=2, error=112))
        self.assertEqual(result.code, 1)
        self.assertEqual(result.stdout, self.FIRST_LINE)
        self.assertGreaterEqual(result.injected, 2)

    def test_run_without_faults_counts_its_calls(self):
        # The same run with an empty plan: nothing is injected, the run
        # goes on to its normal end (nothing matched), and the calls it
        # made are counted, the console writes among them.
        result = self.run_program(self.ARGS, Faults())
        self.assertEqual(result.code, 5, result.stdout)
        self.assertEqual(result.injected, 0)
        self.assertEqual(
            result.stdout,
            lines("Archive folder : Archive",
                  "Original files will be deleted after archiving"))
        self.assertGreaterEqual(result.calls, 2)
