#!/usr/bin/env python3
"""Checks what tools/test.sh built for users: the .deb, the Windows .zip and
`cmake --install`, and the manual page they carry.

  check_packages.py --deb build/packages/quilbo_1.1-1_amd64.deb \
      --zip build/packages/quilbo-1.1-win32.zip --build build/linux-release

Prints one line per check and, last, each package's files and sizes. Exits
non-zero when a check failed.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

DEB_FILES = {
    "usr/bin/quilbo",
    "usr/share/man/man1/quilbo.1.gz",
    "usr/share/doc/quilbo/README.md",
    "usr/share/doc/quilbo/examples/quilbo.service",
    "usr/share/doc/quilbo/examples/quilbo.timer",
    "usr/share/doc/quilbo/examples/quilbo.cron",
}
ZIP_FILES = {
    "Quilbo.exe", "README.txt", "quilbo.txt", "quilbo-task.cmd", "create-task.cmd",
}
INSTALL_FILES = {
    "bin/quilbo",
    "share/man/man1/quilbo.1",
    "share/doc/quilbo/README.md",
    "share/doc/quilbo/examples/quilbo.service",
    "share/doc/quilbo/examples/quilbo.timer",
    "share/doc/quilbo/examples/quilbo.cron",
}
# What the package may depend on: the C and C++ runtime, nothing else.
ALLOWED_DEPENDS = {"libc6", "libstdc++6", "libgcc-s1"}

USAGE_REST = (
    b"\r\n"
    b" All files matching Filepattern will be archived to files with the same\r\n"
    b" name in the Archive subdir (Archive Dir will be created if needed).\r\n"
    b" If ArchiveDir is not entered 'Archive' is used (don't use full path!)\r\n"
    b" Original files will be deleted if /d option is used\r\n"
    b" Archive will be truncated at xxxx Kb if /txxx is used\r\n"
    b"   example: Quilbo *.log backup /d /t1000\r\n"
    b" DO NOT USE on binary files !\r\n"
    b"\r\n"
    b" Quilbo v1.1\r\n"
)

failures = []


def check(ok, what, detail=""):
    print(("   ok    " if ok else "   FAIL  ") + what + ("" if ok or not detail else ": " + detail))
    if not ok:
        failures.append(what)
    return ok


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def files_under(root):
    return {p.relative_to(root).as_posix() for p in Path(root).rglob("*")
            if p.is_file() or p.is_symlink()}


def check_set(found, expected, what):
    extra, missing = sorted(found - expected), sorted(expected - found)
    check(not extra and not missing, what,
          "extra %s, missing %s" % (extra or "none", missing or "none"))


def check_man_page(page, what):
    """Renders without a single warning under man and groff."""
    env = dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0")
    done = run(["man", "--warnings", "-l", str(page)], env=env)
    check(done.returncode == 0 and not done.stderr, what + ": man --warnings -l is silent",
          done.stderr.decode(errors="replace")[:500])
    if str(page).endswith(".1"):
        done = run(["groff", "-ww", "-man", "-z", str(page)])
        check(done.returncode == 0 and not done.stderr, what + ": groff -ww -man -z is silent",
              done.stderr.decode(errors="replace")[:500])


def check_program(exe, what):
    """The installed program answers: the usage screen with 5, --version with 0."""
    with tempfile.TemporaryDirectory(prefix="quilbo-pkg-run-") as cwd:
        done = run([str(exe), "/?"], cwd=cwd)
        expected = (b"Usage: " + os.path.realpath(exe).encode()
                    + b" Filepattern [ArchiveDir] [/D] [/Txxxx]\r\n" + USAGE_REST)
        check(done.returncode == 5 and done.stdout == expected,
              what + ": quilbo /? shows the usage screen, exit code 5",
              "exit code %d, output %r" % (done.returncode, done.stdout[:300]))
        done = run([str(exe), "--version"], cwd=cwd)
        check((done.returncode, done.stdout) == (0, b" Quilbo v1.1\r\n"),
              what + ": quilbo --version, exit code 0",
              "exit code %d, output %r" % (done.returncode, done.stdout[:100]))
        check(os.listdir(cwd) == [], what + ": neither created anything")


def check_cron_line(exe):
    """The example cron line is silent after exit codes 0 and 5 and passes
    the output on after a failure, run with the packaged program."""
    line = next(l for l in (ROOT / "contrib/cron/quilbo").read_text().splitlines()
                if l[:1].isdigit())
    command = line.split(None, 6)[6]  # after the five time fields and the user
    with tempfile.TemporaryDirectory(prefix="quilbo-cron-") as logs:
        command = command.replace("/var/log/myapp", logs)
        env = dict(os.environ, PATH="%s:%s" % (Path(exe).parent, os.environ["PATH"]))
        outputs = []
        for step in ("nothing to archive", "archived", "failed"):
            if step == "archived":
                Path(logs, "app.log").write_bytes(b"line\n")
            if step == "failed":
                Path(logs, "app.log").write_bytes(b"line\n")
                os.chmod(Path(logs, "backup/app.log"), 0o444)  # read-only: refused
            done = run(["sh", "-c", command], env=env)
            outputs.append(done.stdout)
        check(outputs[0] == b"" and outputs[1] == b"",
              "cron line: silent after 0 and 5", repr(outputs[:2]))
        check(b"File access denied" in outputs[2],
              "cron line: prints the failure report", repr(outputs[2][:300]))


def check_systemd_units(exe):
    """systemd reads the example units without a complaint (where
    systemd-analyze exists), with ExecStart pointing at the packaged program."""
    if shutil.which("systemd-analyze") is None:
        print("   skip  systemd units: no systemd-analyze here")
        return
    with tempfile.TemporaryDirectory(prefix="quilbo-units-") as units:
        names = []
        for name in ("quilbo.service", "quilbo.timer"):
            text = (ROOT / "contrib/systemd" / name).read_text()
            text = text.replace("/usr/bin/quilbo", str(exe))
            # The manual page is not installed on this machine.
            text = re.sub(r"(?m)^Documentation=.*\n", "", text)
            Path(units, name).write_text(text)
            names.append(str(Path(units, name)))
        done = run(["systemd-analyze", "verify"] + names)
        check(done.returncode == 0 and not done.stderr,
              "systemd units: systemd-analyze verify is silent",
              done.stderr.decode(errors="replace")[:500])


def check_deb(deb):
    print("== %s" % deb)
    fields = {}
    done = run(["dpkg-deb", "-f", str(deb)])
    for line in done.stdout.decode().splitlines():
        if ":" in line and not line.startswith(" "):
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    check(fields.get("Package") == "quilbo", "package name quilbo", fields.get("Package", ""))
    check(fields.get("Section") == "utils", "section utils", fields.get("Section", ""))
    check(fields.get("Version", "").startswith("1.1"), "version 1.1", fields.get("Version", ""))
    depends = {re.sub(r"\s*\(.*\)", "", d).strip()
               for d in fields.get("Depends", "").split(",") if d.strip()}
    check(depends and depends <= ALLOWED_DEPENDS,
          "depends only on %s" % ", ".join(sorted(ALLOWED_DEPENDS)), fields.get("Depends", ""))

    with tempfile.TemporaryDirectory(prefix="quilbo-deb-") as scratch:
        done = run(["dpkg", "-x", str(deb), scratch])
        if not check(done.returncode == 0, "dpkg -x into a scratch root", done.stderr.decode()):
            return []
        check_set(files_under(scratch), DEB_FILES, "file list")
        listing = run(["dpkg-deb", "-c", str(deb)]).stdout.decode()
        check(all(" root/root " in line for line in listing.splitlines()),
              "every file owned by root")
        exe = Path(scratch, "usr/bin/quilbo")
        check(os.access(exe, os.X_OK), "usr/bin/quilbo is executable")
        check_program(exe, "from the scratch root")
        check_cron_line(exe)
        check_systemd_units(exe)
        check_man_page(Path(scratch, "usr/share/man/man1/quilbo.1.gz"), "manual page")
        return sorted((name, Path(scratch, name).stat().st_size) for name in files_under(scratch))


def crlf_only(data):
    return b"\n" in data and data.count(b"\n") == data.count(b"\r\n") and data.count(b"\r") == data.count(b"\r\n")


def check_zip(path):
    print("== %s" % path)
    with zipfile.ZipFile(path) as archive:
        check(archive.testzip() is None, "zip is intact")
        infos = [i for i in archive.infolist() if not i.is_dir()]
        tops = {i.filename.split("/", 1)[0] for i in infos}
        check(len(tops) == 1, "one top folder", str(sorted(tops)))
        names = {i.filename.split("/", 1)[-1] for i in infos}
        check_set(names, ZIP_FILES, "file list")
        by_name = {i.filename.split("/", 1)[-1]: i for i in infos}
        data = {n: archive.read(by_name[n]) for n in names & ZIP_FILES}
    exe = data.get("Quilbo.exe", b"")
    machine = None
    if exe[:2] == b"MZ" and len(exe) > 0x40:
        pe = struct.unpack_from("<I", exe, 0x3C)[0]
        if exe[pe:pe + 4] == b"PE\0\0":
            machine = struct.unpack_from("<H", exe, pe + 4)[0]
    check(machine == 0x14C, "Quilbo.exe is a 32-bit (i386) Windows program",
          "machine %r" % machine)
    for name in ("README.txt", "quilbo.txt", "quilbo-task.cmd", "create-task.cmd"):
        check(crlf_only(data.get(name, b"")), name + " has CR LF line ends only")
    readme = data.get("README.txt", b"")
    source = (ROOT / "README.md").read_bytes()
    check(readme.replace(b"\r\n", b"\n") == source.replace(b"\r\n", b"\n"),
          "README.txt is the README")
    page = data.get("quilbo.txt", b"")
    check(b"NAME" in page and b"EXIT STATUS" in page and b"SuccessExitStatus=5" in page,
          "quilbo.txt is the manual page")
    check(not re.search(rb"[\x00-\x09\x0b\x0c\x0e-\x1f\x7f-\xff]", page),
          "quilbo.txt is plain ASCII (no overstrike or escape sequences)")
    return sorted((n, len(d)) for n, d in data.items())


def check_install(build):
    print("== cmake --install %s" % build)
    with tempfile.TemporaryDirectory(prefix="quilbo-prefix-") as prefix:
        done = run(["cmake", "--install", str(build), "--prefix", prefix])
        if not check(done.returncode == 0, "cmake --install into a scratch prefix",
                     done.stderr.decode()):
            return
        check_set(files_under(prefix), INSTALL_FILES, "installed files")
        check_program(Path(prefix, "bin/quilbo"), "installed")
        check_man_page(Path(prefix, "share/man/man1/quilbo.1"), "installed manual page")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--deb")
    parser.add_argument("--zip")
    parser.add_argument("--build", help="a Linux build folder to install from")
    options = parser.parse_args()

    contents = {}
    check_man_page(ROOT / "doc/quilbo.1", "doc/quilbo.1")
    if options.deb:
        contents[options.deb] = check_deb(options.deb)
    if options.zip:
        contents[options.zip] = check_zip(options.zip)
    if options.build:
        check_install(options.build)

    for package, files in contents.items():
        print("== %s (%d bytes)" % (os.path.basename(package), os.path.getsize(package)))
        for name, size in files:
            print("   %9d  %s" % (size, name))
    if failures:
        print("package checks: %d failed" % len(failures))
        return 1
    print("package checks: all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
