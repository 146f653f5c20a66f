#!/usr/bin/env python3
"""What flushing archives to the disk costs a run with /D.

  bench/flush_cost.py --exe build/linux/quilbo [--logs 20000] [--rounds 3]

Runs the same executable over the same set of small logs with /D, once as
it is and once with the system's flush calls made empty (a preloaded
library whose fsync and syncfs return at once), alternating, in a folder
on the local disk. Two cases: every archive new, and every archive
existing (a group of logs shares one flush either way). Prints the median
times and their ratio, and each run's time on standard error as it goes.
The scratch folder goes however the script ends. Linux only.

  bench/flush_cost.py --exe build/linux/quilbo --logs 500 --rounds 1   a smoke run
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from scratch import note, run_checked, scratch_folder  # noqa: E402

NO_FLUSH = r"""
int fsync(int fd) { (void)fd; return 0; }
int fdatasync(int fd) { (void)fd; return 0; }
int syncfs(int fd) { (void)fd; return 0; }
"""


def build_preload(folder):
    source = folder / "noflush.c"
    source.write_text(NO_FLUSH)
    library = folder / "noflush.so"
    run_checked(["cc", "-shared", "-fPIC", "-O2", "-o", library, source])
    return library


def make_logs(folder, count, archives):
    if folder.exists():
        shutil.rmtree(folder)
    (folder / "Archive").mkdir(parents=True)
    line = b"2026-12-07 09:00:00 service started, all well\n"
    for i in range(count):
        name = "log%05d.log" % i
        (folder / name).write_bytes(line * 2)
        if archives:
            (folder / "Archive" / name).write_bytes(line.replace(b"\n", b"\r\n") * 20)


def timed_run(exe, folder, env):
    _, took = run_checked([exe, "*.log", "/D"], folder, env=env, stdout=subprocess.DEVNULL)
    if any(name.endswith(".log") for name in os.listdir(folder)):
        sys.exit("a log was not deleted")
    return took


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--logs", type=int, default=20000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--dir", default=None,
                        help="where to make the logs (default: a temporary folder)")
    options = parser.parse_args()
    exe = Path(options.exe).resolve()
    with scratch_folder("quilbo-flush-", options.dir) as scratch:
        preload = build_preload(scratch)
        modes = {"flushed": dict(os.environ),
                 "not flushed": dict(os.environ, LD_PRELOAD=str(preload))}
        for archives in (False, True):
            times = {mode: [] for mode in modes}
            kind = "existing" if archives else "new"
            for round_ in range(options.rounds):
                for mode, env in modes.items():
                    folder = scratch / "run"
                    make_logs(folder, options.logs, archives)
                    os.sync()
                    times[mode].append(timed_run(exe, folder, env))
                    note("  %s archives, round %d/%d, %s: %.2f s" % (
                        kind, round_ + 1, options.rounds, mode, times[mode][-1]))
            flushed = statistics.median(times["flushed"])
            bare = statistics.median(times["not flushed"])
            print("%d logs with /D, %s archives: flushed %.2f s, not flushed %.2f s, "
                  "ratio %.2f (medians of %d)" % (
                      options.logs, kind, flushed, bare, flushed / bare, options.rounds),
                  flush=True)


if __name__ == "__main__":
    main()
