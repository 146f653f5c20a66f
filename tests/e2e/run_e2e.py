#!/usr/bin/env python3
"""Runs the end-to-end cases (tests/e2e/test_*.py) against a built program:
  run_e2e.py --exe build/linux/quilbo --faulty build/linux/quilbo_faulty \
             [--runner cmake/wine-run.sh] [--platform windows] [name filters...]
--runner runs the executables (wine, qemu). The last line, "e2e: N passed, N failed,
N skipped", counts each case once; an error outside any case counts as failed."""

import argparse
import sys
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent


class Counting(unittest.TextTestResult):
    def startTest(self, test):
        super().startTest(test)
        self.__dict__.setdefault("started", set()).add(test.id())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--exe", "--faulty", "--runner"):
        parser.add_argument(option, default="", required=option == "--exe")
    parser.add_argument("--platform", choices=["posix", "windows"], default="posix")
    parser.add_argument("-v", "--verbose", action="store_true")
    parser.add_argument("names", nargs="*", help="only cases whose name holds one of these")
    options = parser.parse_args()
    sys.path.insert(0, str(HERE))
    import harness  # noqa: E402  (after the path is set)
    harness.configure(options.exe, options.faulty, options.runner, options.platform)
    missing = [p for p in (harness.CONFIG["exe"], harness.CONFIG["faulty"]) if p and not Path(p).is_file()]
    if missing:
        return print(f"run_e2e: {missing[0]} does not exist", file=sys.stderr) or 2
    loader = unittest.TestLoader()
    loader.testNamePatterns = [f"*{n}*" for n in options.names] or None
    suite = loader.discover(str(HERE), pattern="test_*.py", top_level_dir=str(HERE))
    started = time.monotonic()
    result = unittest.TextTestRunner(stream=sys.stdout, resultclass=Counting,
                                     verbosity=2 if options.verbose else 1).run(suite)
    case = lambda test: getattr(test, "test_case", test).id()  # noqa: E731  (a sub-test's case)
    failed = {case(t) for t, _ in result.failures + result.errors} | set(map(case, result.unexpectedSuccesses))
    skipped = {case(t) for t, _ in result.skipped} - failed
    cases = getattr(result, "started", set()) | failed
    print(f"e2e on {options.platform}: {len(cases)} cases in {time.monotonic() - started:.1f} s")
    print(f"e2e: {len(cases - failed - skipped)} passed, {len(failed)} failed, {len(skipped)} skipped")
    if not cases:
        print("run_e2e: no case ran", file=sys.stderr)
    return 0 if cases and not failed else 1


if __name__ == "__main__":
    sys.exit(main())
