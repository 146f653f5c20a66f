#!/usr/bin/env python3
"""Runs the end-to-end tests (tests/e2e/test_*.py) against a built program.

  run_e2e.py --exe build/linux/quilbo --faulty build/linux/quilbo_faulty \
             --runner "" --platform posix [unittest name filters...]

--runner is empty for a native build, else the program that runs a Windows
executable here (cmake/wine-run.sh). The last line gives the counts as
"e2e: N passed, N failed, N skipped".
"""

import argparse
import sys
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--faulty", default="")
    parser.add_argument("--runner", default="")
    parser.add_argument("--platform", choices=["posix", "windows"],
                        default="posix")
    parser.add_argument("-v", "--verbose", action="store_true")
    parser.add_argument("names", nargs="*",
                        help="only tests whose name holds one of these")
    options = parser.parse_args()

    sys.path.insert(0, str(HERE))
    import harness  # noqa: E402  (after the path is set)
    harness.configure(options.exe, options.faulty, options.runner,
                      options.platform)
    for path, what in ((harness.CONFIG.exe, "--exe"),
                       (harness.CONFIG.faulty, "--faulty")):
        if path is not None and not path.is_file():
            print(f"run_e2e: {what} {path} does not exist", file=sys.stderr)
            return 2

    loader = unittest.TestLoader()
    if options.names:
        loader.testNamePatterns = [f"*{n}*" for n in options.names]
    suite = loader.discover(str(HERE), pattern="test_*.py",
                            top_level_dir=str(HERE))
    started = time.monotonic()
    result = unittest.TextTestRunner(
        stream=sys.stdout, verbosity=2 if options.verbose else 1).run(suite)
    failed = len({test.id() for test, _ in result.failures + result.errors}
                 | {test.id() for test in result.unexpectedSuccesses})
    skipped = len(result.skipped)
    passed = result.testsRun - failed - skipped
    print(f"e2e on {options.platform}: {result.testsRun} tests in "
          f"{time.monotonic() - started:.1f} s")
    print(f"e2e: {passed} passed, {failed} failed, {skipped} skipped")
    if result.testsRun == 0:
        print("run_e2e: no test ran", file=sys.stderr)
        return 1
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
