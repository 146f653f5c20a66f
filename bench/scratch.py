"""What the benchmark scripts share: a scratch folder that goes however a
script ends (normally, by an error, Ctrl-C, SIGTERM or SIGHUP), commands
that end with the script, and progress lines on standard error."""

import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

STOPS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


def note(text):
    """A progress line on standard error, shown at once."""
    print(text, file=sys.stderr, flush=True)


def _stop(number, _frame):
    raise SystemExit(128 + number)


@contextlib.contextmanager
def scratch_folder(prefix, where=None):
    """A new folder (under where, else the temporary folder), removed with
    everything in it when the block ends, however it ends."""
    previous = {number: signal.signal(number, _stop) for number in STOPS[1:]}
    folder = Path(tempfile.mkdtemp(prefix=prefix, dir=where))
    try:
        yield folder
    finally:
        # No second signal may cut the removal short.
        for number in STOPS:
            previous.setdefault(number, signal.getsignal(number))
            signal.signal(number, signal.SIG_IGN)
        shutil.rmtree(folder, ignore_errors=True)
        for number, handler in previous.items():
            signal.signal(number, handler)


def run(command, cwd=None, **options):
    """Runs command in a process group of its own and waits for it. When the
    script is stopped meanwhile, the whole group ends first, so nothing
    writes into a scratch folder while it is removed. Returns the exit code,
    the resource use (os.wait4) and the wall seconds."""
    start = time.perf_counter()
    child = subprocess.Popen([str(part) for part in command], cwd=cwd,
                             start_new_session=True, **options)
    try:
        _, status, usage = os.wait4(child.pid, 0)
    except BaseException:
        os.killpg(child.pid, signal.SIGKILL)
        child.wait()
        raise
    child.returncode = os.waitstatus_to_exitcode(status)
    return child.returncode, usage, time.perf_counter() - start


def run_checked(command, cwd=None, allowed=(0,), **options):
    """run(), ending the script when the exit code is not one of allowed."""
    code, usage, wall = run(command, cwd, **options)
    if code not in allowed:
        raise SystemExit(f"failed ({code}): {' '.join(str(p) for p in command)}")
    return usage, wall
