#!/usr/bin/env python3
"""Archiving speed, side by side with tools doing the same work.

Builds the release program (the linux preset's configuration, optimised,
in build/bench) and the plain 64 KiB copy loop (bench/plain_copy.cpp), then
times, in one run and in rotating order, each case against its yardsticks:

  crlf80     64 MiB of 80-byte CR LF lines: quilbo, sed 's/\\r*$/\\r/' >>,
             the plain loop
  crlf20     the same with 20-byte lines
  crlf1000   the same with 1,000-byte lines
  lonecr     64 MiB of 80-byte lines ended by a lone CR (one line in the
             archive): quilbo, the plain loop
  oneline    one 200 MB line without line end: time and peak memory
  cut        /T cutting a 64 MiB archive to 32 MiB: quilbo against
             tail -c + mv
  walk       20,000 small logs: quilbo against a short Python loop that
             does the same work

Every repetition starts from a fresh archive. Printed: the median wall time
of each command and the median of the pairwise ratios (quilbo's time over
the yardstick's, per repetition), and each run's time on standard error as
it goes. --strace also counts the system calls of the walk per archived
log. The scratch folder goes however the script ends.

  bench/archive_speed.py                  the whole run (a few minutes)
  bench/archive_speed.py --quick          a smoke run of seconds
  bench/archive_speed.py --exe build/linux/quilbo --cases crlf80,walk
  bench/archive_speed.py --before ../base/build/linux-release/quilbo --cases crlf80,cut

--before adds an earlier build of the program to every case, so the ratio
quilbo/before is measured side by side in the same run.
"""

import argparse
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from scratch import note, run_checked, scratch_folder  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
MIB = 1 << 20

# The walk's yardstick: the same rule over every *.log of the folder,
# appended to Archive/<name>, one file at a time.
PYTHON_WALK = r"""
import fnmatch, os, sys
os.chdir(sys.argv[1])
os.makedirs('Archive', exist_ok=True)
for name in sorted(os.listdir('.')):
    if not fnmatch.fnmatchcase(name, '*.log') or not os.path.isfile(name):
        continue
    with open(name, 'rb') as f:
        text = f.read().split(b'\x1a', 1)[0]
    lines = text.split(b'\n')
    if lines[-1] == b'':
        lines.pop()
    out = b''.join(line.replace(b'\r', b'') + b'\r\n' for line in lines)
    with open(os.path.join('Archive', name), 'ab') as f:
        f.write(out)
"""


def build(build_dir: Path) -> tuple[Path, Path]:
    """The optimised program and the plain loop."""
    note(f"building {build_dir}")
    run_checked(["cmake", "--preset", "linux", "-B", build_dir,
                 "-DCMAKE_BUILD_TYPE=Release", "-DQUILBO_TESTS=OFF"],
                ROOT, stdout=subprocess.DEVNULL)
    run_checked(["cmake", "--build", build_dir, "--target", "quilbo",
                 "plain_copy"], ROOT, stdout=subprocess.DEVNULL)
    return build_dir / "quilbo", build_dir / "plain_copy"


def run(command, cwd, shell=False):
    """Wall seconds, processor seconds (user and system) and peak resident
    memory (bytes) of one command.

    GNU time reports the peak (a child forked from Python would count
    Python's own pages as its own); the processor time comes from wait4,
    which counts GNU time with the command it waited for."""
    if shell:
        command = ["/bin/bash", "-c", command]
    with tempfile.NamedTemporaryFile("r") as report:
        usage, wall = run_checked(
            ["/usr/bin/time", "-f", "%M", "-o", report.name] + list(command),
            cwd, stdout=subprocess.DEVNULL)
        peak = int(report.read().split()[-1]) * 1024
        return wall, usage.ru_utime + usage.ru_stime, peak


def write_lines(path: Path, total: int, length: int, ending: bytes):
    """total bytes of lines of length bytes (ending included)."""
    body = bytes(32 + (i * 7) % 95 for i in range(length - len(ending)))
    line = body + ending
    block = line * max(1, (4 * MIB) // len(line))
    with open(path, "wb") as f:
        written = 0
        while written + len(block) <= total:
            f.write(block)
            written += len(block)
        rest = (total - written) // len(line)
        f.write(line * rest)


class Case:
    """One log archived by each contender, fresh archive per repetition."""

    def __init__(self, name, folder: Path, reps):
        self.name = name
        self.folder = folder
        self.reps = reps
        self.contenders = []  # (label, command, shell)
        self.reset = None
        self.times = {}
        self.cpu = {}
        self.memory = {}

    def add(self, label, command, shell=False):
        self.contenders.append((label, command, shell))

    def measure(self):
        n = len(self.contenders)
        for rep in range(self.reps):
            for k in range(n):  # rotate the order each repetition
                label, command, shell = self.contenders[(k + rep) % n]
                self.reset()
                wall, cpu, peak = run(command, self.folder, shell)
                note(f"  {self.name.split(':')[0]} rep {rep + 1}/{self.reps}: "
                     f"{label} {wall * 1000:.1f} ms")
                self.times.setdefault(label, []).append(wall)
                self.cpu.setdefault(label, []).append(cpu)
                self.memory.setdefault(label, []).append(peak)
        self.reset()

    def report(self, extra=""):
        print(f"\n{self.name}{extra}")
        first = self.contenders[0][0]
        for label, _, _ in self.contenders:
            t = statistics.median(self.times[label])
            c = statistics.median(self.cpu[label])
            m = max(self.memory[label]) / MIB
            line = (f"  {label:<8} wall {t * 1000:8.1f} ms  cpu {c * 1000:8.1f}"
                    f" ms  peak {m:7.1f} MiB")
            if label != first:
                line += (f"  {first}/{label}: wall "
                         f"{self.ratio(self.times, first, label):.3f}, cpu "
                         f"{self.ratio(self.cpu, first, label):.3f}")
            print(line, flush=True)

    @staticmethod
    def ratio(table, a, b):
        """Median over the repetitions of a's time over b's."""
        return statistics.median(x / max(y, 1e-3)
                                 for x, y in zip(table[a], table[b]))


def add_program(case, args, quilbo, arguments):
    """The program, and the earlier build when --before names one."""
    case.add("quilbo", [str(quilbo)] + arguments)
    if args.before:
        case.add("before", [str(args.before.resolve())] + arguments)


def append_case(name, args, quilbo, plain, work, size, length, ending,
                with_sed):
    folder = work / name
    folder.mkdir()
    write_lines(folder / "big.log", size, length, ending)
    (folder / "Archive").mkdir()
    archive = folder / "Archive" / "big.log"

    def reset():
        if archive.exists():
            archive.unlink()
    case = Case(f"{name}: {size / MIB:.0f} MiB of {length}-byte lines",
                folder, args.reps)
    case.reset = reset
    add_program(case, args, quilbo, ["big.log", "Archive"])
    if with_sed:
        case.add("sed", "sed 's/\\r*$/\\r/' big.log >> Archive/big.log",
                 shell=True)
    case.add("plain", [str(plain), "big.log", "Archive/big.log"])
    # The contenders must agree byte for byte before their times count.
    outputs = {}
    for label, command, shell in case.contenders:
        reset()
        run(command, folder, shell)
        outputs[label] = archive.read_bytes()
    if len(set(outputs.values())) != 1:
        raise SystemExit(f"{name}: the archives differ")
    case.measure()
    case.report()
    shutil.rmtree(folder)


def oneline_case(args, quilbo, plain, work, size):
    folder = work / "oneline"
    folder.mkdir()
    with open(folder / "big.log", "wb") as f:
        chunk = b"x" * MIB
        for _ in range(size // MIB):
            f.write(chunk)
        f.write(b"x" * (size % MIB))
    (folder / "Archive").mkdir()
    archive = folder / "Archive" / "big.log"

    def reset():
        if archive.exists():
            archive.unlink()
    case = Case(f"oneline: one line of {size / 1e6:.0f} MB", folder,
                max(1, args.reps // 2))
    case.reset = reset
    add_program(case, args, quilbo, ["big.log", "Archive"])
    case.add("plain", [str(plain), "big.log", "Archive/big.log"])
    case.measure()
    peak = max(case.memory["quilbo"])
    case.report(f"  (quilbo's peak memory / line = {peak / size:.3f})")
    shutil.rmtree(folder)


def cut_case(args, quilbo, work, size):
    folder = work / "cut"
    folder.mkdir()
    (folder / "Archive").mkdir()
    (folder / "big.log").write_bytes(b"one more line\r\n")
    keep_kb = size // 2 // 1024
    full = folder / "full.arc"
    write_lines(full, size, 80, b"\r\n")
    archive = folder / "Archive" / "big.log"

    def reset():
        for leftover in (archive, folder / "Archive" / "big.log.tmp"):
            if leftover.exists():
                leftover.unlink()
        shutil.copyfile(full, archive)
    case = Case(f"cut: {size / MIB:.0f} MiB archive to its last {keep_kb} KB",
                folder, args.reps)
    case.reset = reset
    add_program(case, args, quilbo, ["big.log", "Archive", f"/T{keep_kb}"])
    case.add("tail+mv",
             "sed 's/\\r*$/\\r/' big.log >> Archive/big.log && "
             f"tail -c {keep_kb * 1024} Archive/big.log > Archive/big.log.tmp"
             " && mv Archive/big.log.tmp Archive/big.log", shell=True)
    case.measure()
    case.report()
    shutil.rmtree(folder)


def walk_case(args, quilbo, work, count):
    folder = work / "walk"
    folder.mkdir()
    for i in range(count):
        (folder / f"app{i:05d}.log").write_bytes(
            b"2024-06-11 12:00:00 service started\r\n"
            b"2024-06-11 12:00:01 listening on port 8080\r\n")

    def reset():
        shutil.rmtree(folder / "Archive", ignore_errors=True)
    case = Case(f"walk: {count} logs of 2 lines", folder, args.reps)
    case.reset = reset
    add_program(case, args, quilbo, ["*.log", "Archive"])
    case.add("python", [sys.executable, "-c", PYTHON_WALK, str(folder)])
    case.measure()
    case.report()
    if args.strace and shutil.which("strace"):
        reset()
        summary = folder / "strace.txt"
        run_checked(["strace", "-f", "-c", "-o", summary, quilbo, "*.log",
                     "Archive"], folder, stdout=subprocess.DEVNULL)
        print(f"  system calls per archived log (strace -c, {count} logs):")
        for row in summary.read_text().splitlines():
            parts = row.split()
            if len(parts) >= 5 and parts[0][0].isdigit():
                calls = int(parts[3])
                errors = int(parts[4]) if len(parts) == 6 else 0
                if calls >= count:
                    print(f"    {parts[-1]:<12} {calls / count:6.2f}"
                          + (f"  ({errors / count:.2f} failing)"
                             if errors else ""))
            elif parts and parts[-1] == "total":
                print(f"    {'total':<12} {int(parts[2]) / count:6.2f}")
    reset()
    shutil.rmtree(folder)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true",
                        help="small sizes, one repetition: a smoke run")
    parser.add_argument("--exe", type=Path,
                        help="the program to time (default: build it)")
    parser.add_argument("--plain", type=Path,
                        help="the plain loop (default: build it)")
    parser.add_argument("--before", type=Path,
                        help="an earlier build of the program, timed beside it")
    parser.add_argument("--build-dir", type=Path, default=ROOT / "build/bench")
    parser.add_argument("--reps", type=int, default=7)
    parser.add_argument("--cases", default="crlf80,crlf20,crlf1000,lonecr,"
                        "oneline,cut,walk")
    parser.add_argument("--logs", type=int, default=20_000,
                        help="number of logs of the walk")
    parser.add_argument("--strace", action="store_true",
                        help="count the walk's system calls per log")
    parser.add_argument("--work", type=Path, help="scratch folder (default: "
                        "a temporary one, removed afterwards)")
    args = parser.parse_args()

    size, line_size, logs = 64 * MIB, 200_000_000, args.logs
    if args.quick:
        size, line_size, logs, args.reps = MIB, 2_000_000, 200, 1
    quilbo, plain = args.exe, args.plain
    if quilbo is None or plain is None:
        built_quilbo, built_plain = build(args.build_dir.resolve())
        quilbo = quilbo or built_quilbo
        plain = plain or built_plain
    quilbo, plain = quilbo.resolve(), plain.resolve()

    cases = args.cases.split(",")
    with scratch_folder("quilbo_bench_", args.work) as work:
        print(f"quilbo: {quilbo}\nmedians of {args.reps} repetitions")
        if "crlf80" in cases:
            append_case("crlf80", args, quilbo, plain, work, size, 80,
                        b"\r\n", True)
        if "crlf20" in cases:
            append_case("crlf20", args, quilbo, plain, work, size, 20,
                        b"\r\n", True)
        if "crlf1000" in cases:
            append_case("crlf1000", args, quilbo, plain, work, size, 1000,
                        b"\r\n", True)
        if "lonecr" in cases:
            append_case("lonecr", args, quilbo, plain, work, size, 80, b"\r",
                        False)
        if "oneline" in cases:
            oneline_case(args, quilbo, plain, work, line_size)
        if "cut" in cases:
            cut_case(args, quilbo, work, size)
        if "walk" in cases:
            walk_case(args, quilbo, work, logs)


if __name__ == "__main__":
    main()
