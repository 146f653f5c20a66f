#!/usr/bin/env python3
"""A /T cut of a big log, side by side with the program from before.

Builds the optimised program of this tree (in build/bench) and the one of
an earlier commit (--before, default 8d475fa; from `git archive`, in a
scratch folder outside the tree),
then times whole runs of both, in rotating order, each from the same
start: a 512 MiB log of 80-byte lines appended to a 1 MiB archive with
/T1024, so the archive ends as the last MiB of the log. Printed per
program: the median wall time, the median bytes the run wrote (the
kernel's count of bytes it gave to files), and the ratios. Both programs
must leave the same archive. Progress on standard error as it goes. Every
scratch file goes, however the script ends.

  bench/cut_speed.py                        512 MiB, 3 repetitions
  bench/cut_speed.py --log-mib 64 --reps 5 --before c5d121f
  bench/cut_speed.py --log-mib 64 --exe build/linux-release/quilbo \
      --before-exe ../base/build/linux-release/quilbo
"""

import argparse
import statistics
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from scratch import note, run_checked, scratch_folder  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
BEFORE = "8d475fa"
MIB = 1 << 20


def build(source: Path, build_dir: Path) -> Path:
    note(f"building {build_dir}")
    run_checked(["cmake", "--preset", "linux", "-B", build_dir,
                 "-DCMAKE_BUILD_TYPE=Release", "-DQUILBO_TESTS=OFF"],
                source, stdout=subprocess.DEVNULL)
    run_checked(["cmake", "--build", build_dir, "--target", "quilbo"],
                stdout=subprocess.DEVNULL)
    return build_dir / "quilbo"


def timed(command, cwd):
    """Wall seconds and bytes written to files by one run."""
    usage, wall = run_checked(command, cwd, stdout=subprocess.DEVNULL)
    return wall, usage.ru_oublock * 512


def make_log(path: Path, size: int):
    line = b"x" * 60
    with open(path, "wb") as f:
        written, n = 0, 0
        while written < size:
            chunk = b"".join(b"%012d %s\r\n" % (n + i, line) for i in range(8192))
            f.write(chunk)
            written += len(chunk)
            n += 8192


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--log-mib", type=int, default=512)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--before", default=BEFORE, help="the commit to compare with")
    parser.add_argument("--exe", type=Path, help="the program to time (default: build it)")
    parser.add_argument("--before-exe", type=Path,
                        help="an earlier build to compare with, instead of building --before")
    parser.add_argument("--work", type=Path, help="where the scratch folder goes")
    args = parser.parse_args()

    with scratch_folder("quilbo_cut_bench_", args.work) as work:
        if args.before_exe:
            before = args.before_exe.resolve()
        else:
            source = work / "before-src"
            source.mkdir()
            archive = subprocess.run(["git", "archive", args.before], cwd=ROOT, check=True,
                                     stdout=subprocess.PIPE).stdout
            subprocess.run(["tar", "-x", "-C", str(source)], input=archive, check=True)
            before = build(source, work / "before-build")
        after = args.exe.resolve() if args.exe else build(ROOT, ROOT / "build/bench")
        programs = {"before": before, "after": after}
        run_dir = work / "run"
        (run_dir / "Archive").mkdir(parents=True)
        log = run_dir / "a.log"
        note(f"making a {args.log_mib} MiB log")
        make_log(log, args.log_mib * MIB)
        start = b"".join(b"old line %06d\r\n" % i for i in range(MIB // 17 + 1))[:MIB]
        results = {name: [] for name in programs}
        kept = {}
        order = list(programs)
        print(f"{args.log_mib} MiB log, 1 MiB archive, /T1024; medians of {args.reps}")
        for rep in range(args.reps):
            for name in order[rep % 2:] + order[:rep % 2]:
                target = run_dir / "Archive" / "a.log"
                target.write_bytes(start)
                for extra in (run_dir / "Archive").iterdir():
                    if extra.name != "a.log":
                        extra.unlink()
                run_checked(["sync"])
                results[name].append(timed([programs[name], "a.log", "/T1024"], run_dir))
                kept[name] = target.read_bytes()
                note(f"  rep {rep + 1}/{args.reps}: {name} {results[name][-1][0]:.3f} s")
        if kept["before"] != kept["after"]:
            raise SystemExit("the two programs left different archives")
        for name, runs in results.items():
            wall = statistics.median(r[0] for r in runs)
            written = statistics.median(r[1] for r in runs)
            print(f"  {name:<7} {wall:8.3f} s  {written / MIB:9.1f} MiB written")
        ratio = statistics.median(a[0] / b[0] for a, b in zip(results["after"], results["before"]))
        print(f"  after / before: time {ratio:.3f}, bytes written "
              f"{statistics.median(r[1] for r in results['after']) / max(1, statistics.median(r[1] for r in results['before'])):.4f}")


if __name__ == "__main__":
    main()
