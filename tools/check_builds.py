#!/usr/bin/env python3
"""Builds Quilbo from a scratch copy of the sources the ways users and
packagers do, without the presets: other generators and build types,
Debian's build flags, clang, the Windows cross build with Makefiles, no
GoogleTest, a compiler too old. Each way must configure, build without a
single warning (warnings are not errors outside the presets, so they are
looked for here), and install.

  check_builds.py [--work build/routes] [--jobs 2]

Prints one line per check ("   ok    ..." or "   FAIL  ...") and exits
non-zero when a check failed. A way whose compiler is missing is skipped
with a note.
"""

import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FLAG_VARIABLES = ("CPPFLAGS", "CXXFLAGS", "LDFLAGS", "CFLAGS")
failures = []


def check(ok, what, detail=""):
    print(("   ok    " if ok else "   FAIL  ") + what + ("" if ok or not detail else ": " + detail),
          flush=True)
    if not ok:
        failures.append(what)
    return ok


def scratch_copy(work):
    """The files git knows (tracked, and new ones not ignored): what a fresh
    clone of this tree holds, uncommitted changes included."""
    source = work / "source"
    shutil.rmtree(work, ignore_errors=True)
    source.mkdir(parents=True)
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=ROOT, check=True, stdout=subprocess.PIPE).stdout
    for name in filter(None, listed.decode().split("\0")):
        if (ROOT / name).is_file():
            (source / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / name, source / name)
    return source


def run(command, env, log, cwd=None):
    """Runs a command, appending its output to the log; returns (exit code, output)."""
    done = subprocess.run(command, env=env, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    text = done.stdout.decode(errors="replace")
    with open(log, "a") as out:
        out.write("$ " + shlex.join(str(c) for c in command) + "\n" + text)
    return done.returncode, text


def clean_environment(flags=None):
    env = {k: v for k, v in os.environ.items() if k not in FLAG_VARIABLES}
    env.update(flags or {})
    env["LC_ALL"] = "C"
    return env


def compile_lines(build):
    return [entry["command"] for entry in json.loads((build / "compile_commands.json").read_text())]


def installed_program_runs(root, what, exe="bin/quilbo"):
    program = root / exe
    if not check(program.is_file(), what + ": installs " + exe):
        return
    if exe.endswith(".exe"):
        return
    done = subprocess.run([str(program), "--version"], stdout=subprocess.PIPE)
    check(done.returncode == 0 and re.match(rb"\s*quilbo v?\d", done.stdout, re.I) is not None,
          what + ": the installed program answers --version",
          "exit code %d, %r" % (done.returncode, done.stdout[:100]))


def build_way(name, source, work, jobs, configure, env, install="prefix", test=False):
    """Configures, builds (verbosely: the compile lines are checked), and
    installs one way; returns the build folder, or None when it failed."""
    build = work / name
    log = work / (name + ".log")
    started = time.monotonic()
    rc, text = run(["cmake", "-S", source, "-B", build] + configure, env, log)
    if not check(rc == 0, name + ": configures", "see " + str(log)):
        return None
    rc, text = run(["cmake", "--build", build, "-j", str(jobs), "-v"], env, log)
    if not check(rc == 0, name + ": builds", "see " + str(log)):
        return None
    warnings = [line for line in text.splitlines() if "warning:" in line]
    check(not warnings, name + ": builds without a warning", "; ".join(warnings[:3]))
    if test:
        rc, _ = run(["ctest", "--test-dir", build, "-j", str(jobs), "-E", "end_to_end",
                     "--output-on-failure"], env, log)
        check(rc == 0, name + ": its unit tests pass", "see " + str(log))
    if install == "prefix":
        root = work / (name + "-prefix")
        rc, _ = run(["cmake", "--install", build, "--prefix", root], env, log)
    else:
        # As packagers install: DESTDIR and the final prefix.
        root = work / (name + "-destdir")
        rc, _ = run(["cmake", "--install", build, "--prefix", "/usr"], dict(env, DESTDIR=str(root)), log)
        root = root / "usr"
    if check(rc == 0, name + ": cmake --install works", "see " + str(log)):
        installed_program_runs(root, name, "Quilbo/Quilbo.exe" if install == "windows" else "bin/quilbo")
    print("   time  %s: %.0f s" % (name, time.monotonic() - started))
    return build


def no_werror(build, name):
    lines = compile_lines(build)
    check(lines and not any("-Werror" in line.replace("-Werror=format-security", "")
                            for line in lines),
          name + ": warnings are not errors outside the presets")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--work", type=Path, default=ROOT / "build" / "routes")
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    work = args.work.resolve()
    source = scratch_copy(work)
    jobs = args.jobs

    # g++, optimized, the Makefile generator, the tests built and run: the
    # optimized build's checked calls (warn_unused_result) reach the tests.
    name = "g++ Release, Unix Makefiles, with tests"
    build = build_way(name, source, work, jobs,
                      ["-G", "Unix Makefiles", "-DCMAKE_BUILD_TYPE=Release"],
                      clean_environment(), test=True)
    if build:
        no_werror(build, name)
        check(all("-D_FORTIFY_SOURCE=2" in line for line in compile_lines(build)),
              name + ": optimized code is fortified")

    # A Debian package build: dpkg-buildflags in the environment, build type
    # None, no tests (dh passes -DCMAKE_BUILD_TYPE=None).
    name = "g++ None, Ninja, dpkg-buildflags, no tests"
    if shutil.which("dpkg-buildflags") and shutil.which("ninja"):
        flags = {v: subprocess.run(["dpkg-buildflags", "--get", v], cwd=source, check=True,
                                   stdout=subprocess.PIPE, text=True).stdout.strip()
                 for v in FLAG_VARIABLES}
        build = build_way(name, source, work, jobs,
                          ["-G", "Ninja", "-DCMAKE_BUILD_TYPE=None", "-DQUILBO_TESTS=OFF"],
                          clean_environment(flags), install="destdir")
        if build:
            no_werror(build, name)
            wanted = (flags["CPPFLAGS"] + " " + flags["CXXFLAGS"]).split()
            lines = compile_lines(build)
            missing = sorted({f for line in lines for f in wanted if f not in line.split()})
            check(lines and not missing, name + ": CPPFLAGS and CXXFLAGS on every compile line",
                  "missing " + " ".join(missing))
            link = (build / "build.ninja").read_text()
            check(all(f in link for f in flags["LDFLAGS"].split()),
                  name + ": LDFLAGS on the link line")
    else:
        print("   note  " + name + ": skipped (dpkg-buildflags or ninja missing)")

    # clang, no build type at all, no tests.
    name = "clang++-16, no build type, Ninja, no tests"
    if shutil.which("clang++-16") and shutil.which("ninja"):
        build_way(name, source, work, jobs,
                  ["-G", "Ninja", "-DCMAKE_CXX_COMPILER=clang++-16", "-DQUILBO_TESTS=OFF"],
                  clean_environment())
    else:
        print("   note  " + name + ": skipped (clang++-16 or ninja missing)")

    # The Windows cross build with Makefiles: the package's texts too.
    name = "mingw i686, Release, Unix Makefiles, no tests"
    if shutil.which("i686-w64-mingw32-g++-posix"):
        build = build_way(name, source, work, jobs,
                          ["-G", "Unix Makefiles", "-DCMAKE_BUILD_TYPE=Release", "-DQUILBO_TESTS=OFF",
                           "-DCMAKE_TOOLCHAIN_FILE=" + str(source / "cmake" / "mingw-i686.cmake")],
                          clean_environment(), install="windows")
        if build:
            check((build / "package-text" / "README.txt").is_file(), name + ": makes README.txt")
    else:
        print("   note  " + name + ": skipped (mingw-w64 missing)")

    # No GoogleTest: configure goes on without the tests and says how to get
    # them or to turn them off.
    name = "no GoogleTest"
    log = work / "no-googletest.log"
    rc, text = run(["cmake", "-S", source, "-B", work / "no-googletest",
                    "-DQUILBO_GTEST_SOURCE=" + str(work / "nowhere")], clean_environment(), log)
    check(rc == 0 and "googletest" in text and "-DQUILBO_TESTS=OFF" in text,
          name + ": configures without the tests and says why", text[-300:])

    # A compiler too old is refused at configure, saying which are enough.
    name = "clang++-14 (too old)"
    if shutil.which("clang++-14"):
        log = work / "clang-14.log"
        rc, text = run(["cmake", "-S", source, "-B", work / "clang-14", "-DQUILBO_TESTS=OFF",
                        "-DCMAKE_CXX_COMPILER=clang++-14"], clean_environment(), log)
        check(rc != 0 and "needs clang 15 or later" in text, name + ": refused with the minimum",
              text[-300:])

    print("build ways: %d checks failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
