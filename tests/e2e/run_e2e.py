#!/usr/bin/env python3
"""Runs the end-to-end cases (tests/e2e/test_*.py) against a built program.

  run_e2e.py --exe build/linux/quilbo --faulty build/linux/quilbo_faulty \
             [--runner cmake/wine-run.sh] [--platform windows] [name filters...]

--runner runs the executable (wine for a Windows build, qemu for a foreign
one); empty for a native build. The last line gives the counts as
"e2e: N passed, N failed, N skipped", which always add up to the cases run
plus the errors outside any case.
"""

import argparse
import sys
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent


class Counting(unittest.TextTestResult):
    """Also records which cases started."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.started = set()

    def startTest(self, test):
        super().startTest(test)
        self.started.add(test.id())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--faulty", default="")
    parser.add_argument("--runner", default="")
    parser.add_argument("--platform", choices=["posix", "windows"], default="posix")
    parser.add_argument("-v", "--verbose", action="store_true")
    parser.add_argument("names", nargs="*", help="only cases whose name holds one of these")
    options = parser.parse_args()
    sys.path.insert(0, str(HERE))
    import harness  # noqa: E402  (after the path is set)
    harness.configure(options.exe, options.faulty, options.runner, options.platform)
    for what in ("exe", "faulty"):
        if harness.CONFIG[what] and not Path(harness.CONFIG[what]).is_file():
            print(f"run_e2e: --{what} {harness.CONFIG[what]} does not exist", file=sys.stderr)
            return 2
    loader = unittest.TestLoader()
    if options.names:
        loader.testNamePatterns = [f"*{n}*" for n in options.names]
    suite = loader.discover(str(HERE), pattern="test_*.py", top_level_dir=str(HERE))
    started = time.monotonic()
    result = unittest.TextTestRunner(stream=sys.stdout, resultclass=Counting,
                                     verbosity=2 if options.verbose else 1).run(suite)
    # One outcome per case: its sub-tests count with it, and an error outside
    # any case (a module that does not load, a setUpClass) counts as failed.
    key = lambda test: getattr(test, "test_case", test).id()  # noqa: E731
    failed = {key(t) for t, _ in result.failures + result.errors}
    failed |= {key(t) for t in result.unexpectedSuccesses}
    skipped = {key(t) for t, _ in result.skipped} - failed
    cases = result.started | failed
    print(f"e2e on {options.platform}: {len(cases)} cases in "
          f"{time.monotonic() - started:.1f} s")
    print(f"e2e: {len(cases - failed - skipped)} passed, {len(failed)} failed, "
          f"{len(skipped)} skipped")
    if result.testsRun == 0:
        print("run_e2e: no case ran", file=sys.stderr)
        return 1
    return 0 if not failed else 1


if __name__ == "__main__":
    sys.exit(main())
