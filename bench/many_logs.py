#!/usr/bin/env python3
"""Many tiny logs, with and without /D, side by side in one run.

Times whole runs over a folder of tiny logs (two lines each), in rotating
order, each repetition from the same fresh folder:

  quilbo   this tree's program (the linux preset, optimised, in build/bench)
  before   another build, for before/after figures (--before, optional)
  python   a plain Python loop that reads each log, converts its lines,
           appends them to Archive/<name> and, for /D, unlinks the log
           (without flushing anything)

Printed: the median wall time of each and the medians of the pairwise
ratios (quilbo over python, before over python), then, with strace, the
system calls per log of a /D run (strace -c -f); each run's wall and CPU
time on standard error as it goes. The scratch folders (every repetition's,
kept to the end of its part: see make_logs) are removed however the script ends.

  bench/many_logs.py                                   20,000 logs, 5 reps
  bench/many_logs.py --before /tmp/main/build/quilbo   with a build of main
  bench/many_logs.py --logs 2000 --reps 1              a smoke run
  bench/many_logs.py --existing --work /mnt/ext4       archives from earlier runs, on
                                                       another file system
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from archive_speed import PYTHON_WALK, ROOT, build  # noqa: E402
from scratch import note, run_checked, scratch_folder  # noqa: E402

PYTHON_DELETE = PYTHON_WALK + "    os.unlink(name)\n"
LOG = b"2024-06-11 12:00:00 service started\n2024-06-11 12:00:01 listening on 8080\n"


def call(command, cwd):
    """The wall seconds of a run (exit code 0, or 5: nothing matched) and
    its CPU seconds (user + system), which a busy machine disturbs less."""
    usage, wall = run_checked(command, cwd, allowed=(0, 5), stdout=subprocess.DEVNULL)
    return wall, usage.ru_utime + usage.ru_stime


def make_logs(folder: Path, count: int, existing: bool = False):
    # The last run's folder is set aside, not deleted: ext4 skips inodes
    # freed in the last minute when it allocates (most of all without a
    # journal), so deleting 40,000 files before each run makes every file
    # the next contender creates cost what that scan costs, a cost of the
    # file system and of this script's own deletions, not of either program.
    # Everything goes when the script ends.
    if folder.exists():
        folder.rename(folder.parent / f"{folder.name}.{time.monotonic_ns()}")
    folder.mkdir()
    if existing:
        (folder / "Archive").mkdir()
    for i in range(count):
        (folder / f"app{i:05d}.log").write_bytes(LOG)
        if existing:  # what earlier runs archived: a few KB each
            (folder / "Archive" / f"app{i:05d}.log").write_bytes(LOG.replace(b"\n", b"\r\n") * 40)
    # Logs a scheduler finds were written long ago: they are on the disk,
    # not waiting in memory for a flush that the first one to flush pays.
    os.sync()


def measure(label, contenders, folder, count, reps, existing):
    times = {name: [] for name, _ in contenders}
    cpus = {name: [] for name, _ in contenders}
    for rep in range(reps):
        for k in range(len(contenders)):  # rotate the order each repetition
            name, command = contenders[(k + rep) % len(contenders)]
            make_logs(folder, count, existing)
            wall, cpu = call(command, folder)
            times[name].append(wall)
            cpus[name].append(cpu)
            note(f"  {label} rep {rep + 1}/{reps}: {name} {wall:.2f} s, cpu {cpu:.2f} s")
    print(f"{label}, {count} logs{', archives exist' if existing else ''}, medians of {reps}:")
    for name, _ in contenders:
        line = (f"  {name:<7} {statistics.median(times[name]):7.2f} s"
                f"  cpu {statistics.median(cpus[name]):6.2f} s")
        if name != "python":
            for what, of in (("", times), ("cpu ", cpus)):
                ratio = statistics.median(a / b for a, b in zip(of[name], of["python"]))
                line += f"   {what}{name}/python {ratio:.2f}"
        print(line, flush=True)


def syscalls_per_log(exe, folder, count, existing):
    make_logs(folder, count, existing)
    summary = folder.parent / "strace.txt"
    call(["strace", "-f", "-c", "-o", summary, exe, "*.log", "/D"], folder)
    for row in summary.read_text().splitlines():
        parts = row.split()
        if parts and parts[-1] == "total":
            return int(parts[3]) / count
    return float("nan")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", type=Path, help="the program (default: build it)")
    parser.add_argument("--before", type=Path, help="a second build to compare")
    parser.add_argument("--logs", type=int, default=20_000)
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--work", type=Path, help="where the scratch folder goes")
    parser.add_argument("--only", choices=("/D", "no /D"), help="time one of the two runs")
    parser.add_argument("--existing", action="store_true",
                        help="every log's archive already holds a few KB, as after earlier runs")
    args = parser.parse_args()
    exe = args.exe or build((ROOT / "build/bench").resolve())[0]
    with scratch_folder("quilbo_many_", args.work) as work:
        folder = work / "logs"
        for label, flag, loop in (("/D", ["/D"], PYTHON_DELETE), ("no /D", [], PYTHON_WALK)):
            if args.only not in (None, label):
                continue
            # Each part starts from the same file system: what the part
            # before left (hundreds of thousands of files) makes every file
            # created later cost more, for every contender alike, which
            # would tie one part's ratios to the other's having run.
            with scratch_folder("part_", work) as part:
                logs = part / "logs"
                contenders = [("quilbo", [exe.resolve(), "*.log"] + flag)]
                if args.before:
                    contenders.append(("before", [args.before.resolve(), "*.log"] + flag))
                contenders.append(("python", [sys.executable, "-c", loop, str(logs)]))
                measure(label, contenders, logs, args.logs, args.reps, args.existing)
            os.sync()
        if shutil.which("strace"):
            print("system calls per log with /D (strace -c -f):")
            for name, path in (("quilbo", exe), ("before", args.before)):
                if path:
                    print(f"  {name:<7} {syscalls_per_log(path.resolve(), folder, args.logs, args.existing):6.2f}",
                          flush=True)


if __name__ == "__main__":
    main()
