"""The schedules in contrib/ as a scheduler runs them: the Windows task script
(under wine's cmd, with the pattern and the run log moved into the case's
folder) and what the systemd service checks before it starts."""

import os
import re
import subprocess
import unittest
from pathlib import Path

from harness import CONFIG, RUN_TIMEOUT, Case, read, windows, write

CONTRIB = Path(__file__).resolve().parents[2] / "contrib"


class Schedules(Case):
    @unittest.skipUnless(windows() and CONFIG["runner"], "the Windows task script runs under wine")
    def test_task_script_fails_when_the_folder_is_missing(self):
        # "Nothing matched" is a success; a missing C:\Logs (a typo in the
        # script) also ends with 5, with a note, and fails the task.
        here = "Z:" + self.dir.replace("/", "\\")
        script = read(CONTRIB / "windows/quilbo-task.cmd").replace(b"C:\\Logs", here.encode() + b"\\Logs")
        write(self.p("quilbo-task.cmd"), script.replace(b"%ProgramData%", here.encode() + b"\\pd"))
        write(self.p("Quilbo.exe"), read(CONFIG["exe"]))
        os.makedirs(self.p("pd/Quilbo"))
        env = dict(os.environ, QUILBO_WINEPREFIX=os.environ.get(
            "QUILBO_WINEPREFIX", os.path.join(os.path.dirname(CONFIG["exe"]), "wineprefix")))
        for logs, code, shown in ((None, 5, b"cannot read the folder"), ({}, 0, b"Archive folder : backup"),
                                  ({"a.log": b"a\n"}, 0, b"File 1 ")):
            if logs is not None:
                os.makedirs(self.p("Logs"), exist_ok=True)
                self.files(logs, "Logs/")
            done = subprocess.run(CONFIG["runner"] + ["cmd", "/c", here + "\\quilbo-task.cmd"], env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
            runlog = read(self.p("pd/Quilbo/quilbo-task.log"))
            self.assertEqual(done.returncode, code, runlog)
            self.assertIn(shown, runlog.split(b"== ")[-1])
            self.assertEqual(os.listdir(self.p("pd/Quilbo")), ["quilbo-task.log"])  # its notes went into the log
        self.assertEqual(read(self.p("Logs/backup/a.log")), b"a\r\n")

    def test_systemd_service_checks_the_program(self):
        # A unit copied to /etc/systemd/system outlives the package: without
        # the program it is skipped, not failed every night.
        service = (CONTRIB / "systemd/quilbo.service").read_text()
        program = re.search(r"(?m)^ExecStart=(\S+) ", service).group(1)
        self.assertEqual(re.findall(r"(?m)^ConditionFileIsExecutable=(.*)$", service), [program])
