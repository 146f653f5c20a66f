"""What the end-to-end cases share: runs of the real program (natively or
through a runner: wine, qemu) in a fresh folder, files with exact bytes, the
console lines, report and notes as the program writes them. run_e2e.py
calls configure() before the cases are loaded."""

import contextlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

CONFIG = {"exe": None, "faulty": None, "runner": [], "platform": "posix"}
RUN_TIMEOUT = 300  # a run that blocks fails instead of hanging the suite
CRLF = b"\r\n"
CRASHED = 75  # the fault runner's exit code at a crash point
FAULT_LINE = re.compile(rb"faults: calls=(\d+) injected=\d+ flushes=([\d,]*) changes=([\d,]*)\r?\n")

def configure(exe, faulty, runner, platform):
    CONFIG.update(exe=str(Path(exe).resolve()), faulty=faulty and str(Path(faulty).resolve()), platform=platform,
                  runner=[str(Path(shutil.which(runner) or runner).resolve())] if runner else [])  # a path or a command

def windows():
    return CONFIG["platform"] == "windows"

def root():
    return hasattr(os, "geteuid") and os.geteuid() == 0

def command(args, faulty=False):  # the fault runner: tests/e2e/faulty_main.cpp
    return CONFIG["runner"] + [CONFIG["faulty" if faulty else "exe"]] + list(args)

def run(args, cwd, fault=None, env=None, **options):
    """A finished run (code, out, err). A fault plan (service, nth, once, error), () or an
    environment runs the fault runner, which also gives its calls, flushes and changes."""
    faulty = fault is not None or env is not None
    env = dict(os.environ, QUILBO_FAULTY_PLAN=",".join(map(str, fault or ())), **(env or {}))
    done = subprocess.run(command(args, faulty), cwd=str(cwd), env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **dict({"timeout": RUN_TIMEOUT}, **options))
    done.code, done.out, done.err = done.returncode, done.stdout, done.stderr
    found = FAULT_LINE.search(done.err)
    if found:
        done.err = done.err[:found.start()] + done.err[found.end():]
        done.calls = int(found.group(1))
        done.flushes, done.changes = ([int(n) for n in found.group(g).split(b",") if n] for g in (2, 3))
    return done

def write(path, data, mode=None):
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    if os.path.exists(path):
        os.chmod(path, 0o644)
    Path(path).write_bytes(data)
    os.chmod(path, mode) if mode is not None else None

def read(path):
    return Path(path).read_bytes()

def listing(path):
    return sorted(os.listdir(path))

def tree(folder):  # every file below folder with its bytes
    return {os.path.join(f, n): read(os.path.join(f, n)) for f, _, ns in os.walk(folder) for n in ns}

def typed(path):  # a path as a user of the platform types it
    return path.replace("/", "\\") if windows() else path

def copied(source):
    """What one copy appends: the text before the first 0x1A, CRs dropped, each line (a last one too) CR LF ended."""
    pieces = source.split(b"\x1a", 1)[0].split(b"\n")
    return b"".join(piece.replace(b"\r", b"") + CRLF for piece in pieces[:-1] + [pieces[-1]] * bool(pieces[-1]))

def numbered(tag, count, width=20):  # distinct LF-ended lines: a lost or garbled one shows
    return b"".join(b"%s %05d %s\n" % (tag, i, b"." * width) for i in range(count))

def as_bytes(text):
    return text if isinstance(text, bytes) else text.encode()

def settings(folder="Archive", kb=0, delete=False):
    return (b"Archive folder : " + as_bytes(folder) + CRLF + (b"Archives will be truncated at %d Kb.\r\n" % kb) * bool(kb)
            + b"Original files will be deleted after archiving\r\n" * delete)

def file_line(n, shown, size):
    return b"File %d %s (%d bytes)\r\n" % (n, as_bytes(shown), size)

def report_re(class_name, message):
    """The whole failure report; a message of None stands for any."""
    body = rb".*" if message is None else re.escape(as_bytes(message) + b"." * (not as_bytes(message).endswith(b".")))
    return re.compile(rb"Exception " + class_name.encode() + rb" in module (?:quilbo|Quilbo\.exe|quilbo_faulty"
                      rb"(?:\.exe)?) at [0-9A-F]{8}\.\r\n(?:File: \S+ Line#: \d+\r\n)?" + body + rb"\Z", re.S)

def note_re(text):
    """Exactly one note on standard error whose text matches the regex text."""
    return re.compile((rb"\AQuilbo: " if windows() else rb"\Aquilbo: ") + text + (rb"\r\n\Z" if windows() else rb"\n\Z"))


class Case(unittest.TestCase):
    """A case with a fresh folder, self.dir, and runs in it."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quilbo-e2e-")

    def tearDown(self):  # read-only files and folders must not stop the clean-up
        for path in (os.path.join(f, n) for f, folders, files in os.walk(self.dir) for n in folders + files):
            os.chmod(path, 0o755) if not os.path.islink(path) else None
        shutil.rmtree(self.dir, ignore_errors=True)

    def fresh(self):  # an empty folder again
        self.tearDown()
        self.setUp()

    def row(self, **params):  # a table's next row: a sub-test in an empty folder
        self.fresh()
        return self.subTest(**params)

    @contextlib.contextmanager
    def on(self, mount):  # self.dir on the file system mount() gives (None: here), left before it unmounts
        with mount() if mount else contextlib.nullcontext() as point:
            home, self.dir = self.dir, tempfile.mkdtemp(dir=point) if point else self.dir
            try:
                yield
            finally:
                self.tearDown() if point else None
                self.dir = home

    def p(self, relative=""):
        return os.path.join(self.dir, *relative.split("/"))

    def files(self, files, folder=""):
        for name, data in files.items():
            write(self.p(folder + name), data)

    def q(self, args, fault=None, env=None, **options):
        return run(args, self.dir, fault, env, **options)

    def assertReport(self, out, class_name, message, head=None):
        at = out.find(b"Exception ")
        self.assertRegex(out[at:] if at >= 0 else out, report_re(class_name, message))
        self.assertEqual(out[:at], head if head is not None else out[:at])
