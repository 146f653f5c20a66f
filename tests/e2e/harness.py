"""What the end-to-end tests share: running the real program, natively or
under wine, in a fresh folder; files with exact bytes; the failure report.

run_e2e.py calls configure() before the tests are loaded.
"""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
from dataclasses import dataclass
from pathlib import Path


@dataclass
class Config:
    exe: Path = None      # the real program
    faulty: Path = None   # the program with a fault plan (tests/e2e/faulty_main.cpp)
    runner: list = None   # [] natively, [wine-run.sh] for Windows builds
    platform: str = "posix"  # or "windows"


CONFIG = Config(runner=[])
PLATFORM = "posix"  # "windows" for the Windows builds; set by configure()

# Seconds one run may take; wine's first start in a prefix is the slow one.
RUN_TIMEOUT = 120


def configure(exe, faulty, runner, platform):
    CONFIG.exe = Path(exe).resolve()
    CONFIG.faulty = Path(faulty).resolve() if faulty else None
    CONFIG.runner = [str(Path(runner).resolve())] if runner else []
    CONFIG.platform = platform
    global PLATFORM
    PLATFORM = platform


def is_windows():
    return CONFIG.platform == "windows"


def module_name(faulty=False):
    """The module name the failure report gives for the executable."""
    exe = CONFIG.faulty if faulty else CONFIG.exe
    return exe.name


@dataclass
class Faults:
    """A fault plan for the fault runner (see faulty_main.cpp)."""
    fail_call: int = 0        # fail the call with this number, over all services
    service: str = "-"        # ...and/or every call of this service
    from_nth: int = 1         # from its Nth call on
    once: bool = False        # ...or only that Nth call
    error: int = 5            # the Windows error number the failure leaves
    call: int = None          # another name for fail_call
    nth: int = None           # another name for from_nth

    def __post_init__(self):
        if self.call is not None:
            self.fail_call = self.call
        if self.nth is not None:
            self.from_nth = self.nth

    def arguments(self):
        return [str(self.fail_call), self.service, str(self.from_nth),
                "1" if self.once else "0", str(self.error), "--"]


@dataclass
class Result:
    code: int
    stdout: bytes
    stderr: bytes         # without the fault runner's "faults:" line
    calls: int = None     # fault runs: the failable calls the run made
    injected: int = None  # fault runs: the failures injected
    raw_stderr: bytes = b""

    def __iter__(self):  # code, stdout, stderr = run(...)
        return iter((self.code, self.stdout, self.stderr))


_FAULT_LINE = re.compile(
    rb"faults: calls=(\d+) injected=(\d+) flushes=([\d,]*) changes=([\d,]*)\r?\n")


def run(args, cwd, faults=None, stdin=b"", empty_command_line=False):
    """Runs the program with args (a list, passed exactly) in folder cwd.

    With faults, runs the fault runner with that plan instead; its own
    "faults:" line is taken out of stderr into calls and injected.
    Returns a Result that unpacks as (exit code, stdout bytes, stderr bytes).
    empty_command_line (fault runs on Windows): the program is handed a
    command line without any token, not even its own name.
    """
    env = dict(os.environ)
    env.pop("QUILBO_FAULTY_EMPTY_COMMAND_LINE", None)
    if empty_command_line:
        env["QUILBO_FAULTY_EMPTY_COMMAND_LINE"] = "1"
    if faults is None:
        command = CONFIG.runner + [str(CONFIG.exe)] + list(args)
    else:
        command = (CONFIG.runner + [str(CONFIG.faulty)] + faults.arguments()
                   + list(args))
    done = subprocess.run(command, cwd=str(cwd), input=stdin, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=RUN_TIMEOUT)
    result = Result(done.returncode, done.stdout, done.stderr,
                    raw_stderr=done.stderr)
    if faults is not None:
        match = _FAULT_LINE.search(done.stderr)
        if match:
            result.calls = int(match.group(1))
            result.injected = int(match.group(2))
            result.stderr = done.stderr[:match.start()] + done.stderr[match.end():]
    return result


# ---- Files ---------------------------------------------------------------

def write_file(path, data):
    """Creates path (and its folders) holding exactly the bytes data."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    return path


def read_file(path):
    return Path(path).read_bytes()


def make_files(root, files):
    """Creates {relative name: bytes} under root; None makes a folder."""
    for name, data in files.items():
        target = Path(root) / name
        if data is None:
            target.mkdir(parents=True, exist_ok=True)
        else:
            write_file(target, data)


def snapshot(root):
    """{relative name: bytes} of every file under root (folders end in /)."""
    root = Path(root)
    result = {}
    for path in sorted(root.rglob("*")):
        name = path.relative_to(root).as_posix()
        result[name + "/" if path.is_dir() else name] = (
            None if path.is_dir() else path.read_bytes())
    return result


def lines(*texts):
    """Console or archive lines as bytes, each ended by CR LF."""
    return b"".join(
        (t.encode("latin-1") if isinstance(t, str) else t) + b"\r\n"
        for t in texts)


# ---- The failure report --------------------------------------------------

def report_pattern(message, module=None, class_name="EInOutError"):
    """The failure report for message as a regex over bytes: the header
    with any 8 hex digits, an optional source position, the message and
    "." unless it already ends in one, and nothing after it. A message of
    None stands for any message; a module of None for the program or the
    fault runner."""
    if message is None:
        text = rb"[^\r\n]*"
    else:
        if isinstance(message, str):
            message = message.encode("latin-1")
        suffix = b"" if message.endswith(b".") or not message else b"."
        text = re.escape(message + suffix)
    modules = (re.escape(module.encode()) if module is not None
               else rb"(?:quilbo|Quilbo\.exe|quilbo_faulty(?:\.exe)?)")
    return re.compile(
        rb"Exception " + re.escape(class_name.encode()) + rb" in module " +
        modules + rb" at [0-9A-F]{8}\.\r\n"
        rb"(?:File: \S+ Line#: \d+\r\n)?" + text + rb"\Z", re.DOTALL)


def split_report(stdout):
    """(console output before the report, the report) or (stdout, None)."""
    at = stdout.find(b"Exception ")
    if at < 0:
        return stdout, None
    return stdout[:at], stdout[at:]


class Case(unittest.TestCase):
    """A test case with a fresh temporary folder, self.dir, per test."""

    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="quilbo-e2e-"))

    def tearDown(self):
        # Read-only files and folders must not stop the clean-up.
        for path in self.dir.rglob("*"):
            try:
                os.chmod(path, 0o755 if path.is_dir() else 0o644)
            except OSError:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_program(self, args, faults=None, cwd=None):
        return run(args, cwd if cwd is not None else self.dir, faults)

    def assertReport(self, stdout, message, module=None, before=None):
        """stdout ends with the failure report for message; the console
        output before it is before, when given."""
        head, report = split_report(stdout)
        self.assertIsNotNone(report, f"no failure report in {stdout!r}")
        self.assertRegex(report, report_pattern(message, module))
        if before is not None:
            self.assertEqual(head, before)


# ---- Helpers in the style of the archive and driver cases ------------------

def exe_full_path():
    """Argument 0 as the real program reports it: its full path."""
    path = os.path.realpath(CONFIG.exe)
    if is_windows():
        # wine maps the Linux root to drive Z:
        return ("Z:" + path.replace("/", "\\")).encode("latin-1")
    return path.encode("latin-1")


def fault_calls(stderr):
    """The number of failable calls from a fault run's raw stderr."""
    match = _FAULT_LINE.search(stderr)
    if match is None:
        raise AssertionError(f"no 'faults:' line in {stderr!r}")
    return int(match.group(1))


def note(text):
    """A line of information in the end-to-end output."""
    print(f"note: {text}", flush=True)


class E2ECase(Case):
    """Case with path names as strings and (code, out, raw err) results."""

    def path(self, relative):
        return str(self.dir / relative)

    def fresh(self):
        """Empties the test's folder."""
        self.tearDown()
        self.dir.mkdir(parents=True, exist_ok=True)

    def run_quilbo(self, args, faults=None, empty_command_line=False):
        result = run(args, self.dir, faults,
                     empty_command_line=empty_command_line)
        return result.code, result.stdout, result.raw_stderr

    def assertReport(self, report, class_name, message):
        """report is exactly the failure report of class_name with message
        (None: any message)."""
        self.assertRegex(report, report_pattern(message, None, class_name))
