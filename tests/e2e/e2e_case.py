"""A test case for whole runs of the program: a fresh folder, runs in it,
and the failure report of any class."""

import os
import re
import shutil
import tempfile

import harness

CRLF = b"\r\n"


def exe_full_path():
    """What the program reports as its own full path."""
    path = os.path.realpath(str(harness.CONFIG.exe))
    if harness.is_windows():
        return ("Z:" + path.replace("/", "\\")).encode()
    return path.encode()


def report_regex(class_name, message, module_names=rb"(?:quilbo|Quilbo\.exe|quilbo_faulty|quilbo_faulty\.exe)"):
    body = rb".*" if message is None else re.escape(message.encode("latin-1"))
    return re.compile(
        rb"Exception " + re.escape(class_name.encode()) + rb" in module " + module_names +
        rb" at [0-9A-F]{8}\.\r\n(?:File: \S+ Line#: \d+\r\n)?" + body + rb"\Z", re.DOTALL)


def note_line(text):
    """Exactly one note on standard error whose text matches the regex text
    (bytes): the program's name, the text, the platform's line end."""
    if harness.is_windows():
        return re.compile(rb"\AQuilbo: " + text + rb"\r\n\Z")
    return re.compile(rb"\Aquilbo: " + text + rb"\n\Z")


class E2ECase(harness.Case):
    def setUp(self):
        super().setUp()
        self.dir = str(self.dir)

    def path(self, relative):
        return os.path.join(self.dir, *relative.split("/"))

    def fresh(self):
        """An empty folder again, for the next row of a table."""
        self.tearDown()
        self.dir = tempfile.mkdtemp(prefix="quilbo-e2e-")

    def tearDown(self):
        for root, folders, files in os.walk(self.dir):
            for name in folders + files:
                try:
                    os.chmod(os.path.join(root, name), 0o755)
                except OSError:
                    pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_quilbo(self, args, faults=None, empty_command_line=False):
        if empty_command_line:
            return harness.run(list(args), self.dir, faults, empty_command_line=True)
        return harness.run(list(args), self.dir, faults)

    def assertReport(self, data, class_name, message):
        """data is exactly one failure report of class_name; message None
        accepts any message."""
        self.assertRegex(data, report_regex(class_name, message))
