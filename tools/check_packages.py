#!/usr/bin/env python3
"""Checks what tools/test.sh built for users: the .deb, the Windows .zip and
`cmake --install`, the manual page and README they carry (every program
message they quote is one the program prints: tools/doc_messages.py), the
scheduling examples, run as a scheduler would run them.

  check_packages.py --deb build/packages/quilbo_1.1-1_amd64.deb \
      --zip build/packages/quilbo-1.1-win32.zip --build build/linux-release

Prints one line per check and, last, each package's files and sizes. Exits
non-zero when a check failed.
"""

import argparse
import gzip
import fnmatch
import ntpath
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
import doc_messages  # noqa: E402
import readme_text  # noqa: E402

DOC = "share/doc/quilbo/"
EXAMPLES = (DOC + "examples/systemd/quilbo.service", DOC + "examples/systemd/quilbo.timer",
            DOC + "examples/cron.d/quilbo")

DEB_FILES = {
    "usr/bin/quilbo",
    "usr/share/man/man1/quilbo.1.gz",
    "usr/" + DOC + "README.md.gz",
    "usr/" + DOC + "copyright",
    "usr/" + DOC + "changelog.Debian.gz",
    "usr/share/lintian/overrides/quilbo",
} | {"usr/" + e for e in EXAMPLES}
ZIP_TOP = "Quilbo"       # unpacked into C:\Program Files
ZIP_FILES = {
    "Quilbo.exe", "README.txt", "quilbo.txt", "LICENSE.txt", "quilbo-task.cmd",
    "create-task.cmd",
}
INSTALL_FILES = {
    "bin/quilbo",
    "share/man/man1/quilbo.1",
    DOC + "README.md",
    DOC + "copyright",
} | set(EXAMPLES)
# The old placeholder, and the documentation domains.
PLACEHOLDER_MAINTAINER = re.compile(r"@example\.(org|com|net)>|<quilbo@", re.I)
# What the package may depend on: the C and C++ runtime, nothing else.
ALLOWED_DEPENDS = {"libc6", "libstdc++6", "libgcc-s1"}

USAGE_REST = (
    b"\r\n"
    b" All files matching Filepattern will be archived to files with the same\r\n"
    b" name in the Archive subdir (Archive Dir will be created if needed).\r\n"
    b" If ArchiveDir is not entered 'Archive' is used (don't use full path!)\r\n"
    b" Original files will be deleted if /d option is used\r\n"
    b" Archive will be truncated at xxxx Kb if /txxx is used\r\n"
    b"   example: quilbo '*.log' backup /d /t1000\r\n"
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
        check(done.returncode == 0 and done.stdout.startswith(b"quilbo 1.1\n") and b"\r" not in done.stdout,
              what + ": quilbo --version, exit code 0",
              "exit code %d, output %r" % (done.returncode, done.stdout[:100]))
        check(os.listdir(cwd) == [], what + ": neither created anything")


def cron_line(path):
    lines = [l for l in Path(path).read_text().splitlines() if l[:1].isdigit()]
    return lines[0] if len(lines) == 1 else None


def check_cron(example, bindir, exe):
    """The cron example: one line that cron runs as written (no unescaped
    %), guarded by test -x, naming the program under bindir; run with the
    packaged program, it keeps a run log outside its pattern with a time
    stamp before and a line end after each run, and prints only after a
    status other than 0 and 5."""
    line = cron_line(example)
    if not check(line is not None, "cron file: one job line"):
        return
    command = line.split(None, 6)[6]  # after the five time fields and the user
    check("%" not in command.replace("\\%", ""), "cron line: no % (cron cuts the line there)")
    program = "%s/quilbo" % bindir
    check(command.startswith("test -x %s || exit 0;" % program),
          "cron line: starts with the test -x guard for " + program, command[:60])
    pattern = re.search(r"'([^']*\*[^']*)'", command)
    runlog = re.search(r">>\s*(\S+)", command)
    if not check(pattern and runlog, "cron line: a quoted pattern and a run log (>>)"):
        return
    pattern, runlog = pattern.group(1), runlog.group(1)
    check(not fnmatch.fnmatchcase(runlog, pattern), "cron line: run log %s lies outside the "
          "pattern %s" % (runlog, pattern))
    with tempfile.TemporaryDirectory(prefix="quilbo-cron-") as scratch:
        logs, log_path = Path(scratch, "logs"), Path(scratch, "run.log")
        logs.mkdir()
        mine = (command.replace(program, str(exe))
                .replace(os.path.dirname(pattern), str(logs)).replace(runlog, str(log_path)))
        outputs, sizes = [], []
        for step in ("nothing to archive", "archived", "failed"):
            if step != "nothing to archive":
                Path(logs, "app.log").write_bytes(b"line\n")
            if step == "failed":
                os.chmod(Path(logs, "backup/app.log"), 0o444)  # read-only: refused
            done = run(["sh", "-c", mine])
            outputs.append(done.stdout)
            sizes.append(log_path.stat().st_size if log_path.exists() else 0)
        text = log_path.read_bytes() if log_path.exists() else b""
        check(outputs[0] == b"" and outputs[1] == b"", "cron line: silent after 0 and 5",
              repr(outputs[:2]))
        check(str(log_path).encode() in outputs[2],
              "cron line: names the run log after a failure", repr(outputs[2][:300]))
        stamps = re.findall(rb"(?m)^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d", text)
        check(len(stamps) == 3, "cron line: a time stamp before each of 3 runs", repr(text[:300]))
        check(b"File access denied.\n" in text and text.endswith(b"\n")
              and b"File access denied.\r" not in text,
              "cron line: the failure report in the run log, then a line end",
              repr(text[-200:]))
        # Without the program (removed package): silent, nothing logged.
        gone = mine.replace(str(exe), str(exe) + "-removed")
        done = run(["sh", "-c", gone])
        check(done.returncode == 0 and done.stdout == b"" and
              log_path.stat().st_size == sizes[-1],
              "cron line: silent and no run without the program")


def systemd_env(mandir):
    """systemd-analyze finds the manual page named by Documentation=."""
    return dict(os.environ, MANPATH=str(mandir))


def check_systemd_units(root, prefix, mandir):
    """The example units installed under root + prefix: ExecStart names
    prefix/bin/quilbo, systemd-analyze verify is silent (ExecStart pointed at
    the installed program, Documentation= found), and the service's
    sandbox rates better than 2 of 10 in systemd-analyze security."""
    if shutil.which("systemd-analyze") is None:
        check(False, "systemd units: systemd-analyze (package systemd) is missing")
        return
    exe = "%s/bin/quilbo" % prefix
    units = Path(root, prefix.lstrip("/"), DOC, "examples/systemd")
    service = (units / "quilbo.service").read_text()
    check(re.search(r"(?m)^ExecStart=%s " % re.escape(exe), service),
          "systemd units (%s): ExecStart names %s" % (prefix, exe))
    check(unit_values(service, "ConditionFileIsExecutable") == [exe],
          "systemd units (%s): the service runs only while %s is there" % (prefix, exe))
    with tempfile.TemporaryDirectory(prefix="quilbo-units-") as scratch:
        names = []
        for name in ("quilbo.service", "quilbo.timer"):
            text = (units / name).read_text().replace(exe, str(Path(root, exe.lstrip("/"))))
            Path(scratch, name).write_text(text)
            names.append(str(Path(scratch, name)))
        done = run(["systemd-analyze", "verify"] + names, env=systemd_env(mandir))
        check(done.returncode == 0 and not done.stderr,
              "systemd units (%s): systemd-analyze verify is silent" % prefix,
              done.stderr.decode(errors="replace")[:500])
        done = run(["systemd-analyze", "security", "--offline=yes", names[0]])
        level = re.search(rb"Overall exposure level for \S+: ([0-9.]+)", done.stdout)
        check(level and float(level.group(1)) <= 2.0,
              "systemd units (%s): systemd-analyze security rates the service 2.0 or "
              "better (%s)" % (prefix, level.group(1).decode() if level else "?"),
              done.stderr.decode(errors="replace")[:300])


def unit_values(text, key):
    return [m.group(1).strip() for m in re.finditer(r"(?m)^%s=(.*)$" % key, text)]


def syscall_group(name, cache={}):
    """The system calls of a systemd-analyze syscall-filter group, groups
    inside it expanded."""
    if name not in cache:
        done = run(["systemd-analyze", "syscall-filter", name])
        words = [w for line in done.stdout.decode().splitlines()[1:]
                 for w in line.split() if not line.lstrip().startswith("#")]
        cache[name] = set()
        for word in words:
            cache[name] |= syscall_group(word) if word.startswith("@") else {word}
    return cache[name]


def check_service_sandbox(service, exe):
    """The service keeps working in its sandbox: run as root with only the
    capabilities of its CapabilityBoundingSet= over another user's logs, the
    program archives and deletes them and the archives keep their log's owner
    and access; every system call it makes passes its SystemCallFilter=."""
    if os.geteuid() != 0 or not shutil.which("setpriv") or not shutil.which("strace"):
        print("   skip  service sandbox: needs root, setpriv and strace")
        return
    text = Path(service).read_text()
    caps = " ".join(unit_values(text, "CapabilityBoundingSet")).split()
    bounding = "-all," + ",".join("+" + c.lower().replace("cap_", "") for c in caps)
    with tempfile.TemporaryDirectory(prefix="quilbo-sandbox-") as scratch:
        os.chmod(scratch, 0o755)
        logs = Path(scratch, "logs")
        logs.mkdir(mode=0o750)
        os.chown(logs, 65534, 65534)
        os.chmod(logs, 0o750)           # another user's folder: root needs DAC_OVERRIDE
        log = logs / "app.log"
        log.write_bytes(b"one\ntwo\n")
        os.chown(log, 65534, 65534)
        os.chmod(log, 0o640)
        trace = Path(scratch, "trace")
        done = run(["setpriv", "--bounding-set=" + bounding, "--inh-caps=-all", "--",
                    "strace", "-f", "-qq", "-o", str(trace), str(exe),
                    str(logs) + "/*.log", "backup", "/D", "/T10"])
        archive = logs / "backup/app.log"
        info = archive.stat() if archive.exists() else None
        check(done.returncode == 0 and info is not None and not log.exists()
              and archive.read_bytes() == b"one\r\ntwo\r\n",
              "service sandbox: with only %s, root archives and deletes another "
              "user's log" % " ".join(caps),
              "exit code %d, %r %r" % (done.returncode, done.stdout[-300:], done.stderr[-300:]))
        check(info is not None and (info.st_uid, info.st_gid, info.st_mode & 0o777)
              == (65534, 65534, 0o640), "service sandbox: the archive keeps its log's owner, "
              "group and access", info and "%d:%d %o" % (info.st_uid, info.st_gid, info.st_mode))
        used = {m.group(1) for m in re.finditer(r"(?m)^\d+\s+([a-z0-9_]+)\(",
                                                trace.read_text() if trace.exists() else "")}
    allowed, denied = set(), set()
    for value in unit_values(text, "SystemCallFilter"):
        names = value.lstrip("~").split()
        target = denied if value.startswith("~") else allowed
        for name in names:
            target |= syscall_group(name) if name.startswith("@") else {name}
    outside = sorted(used - (allowed - denied))
    check(used and not outside, "service sandbox: its %d system calls pass SystemCallFilter="
          % len(used), "outside: %s" % outside)
    check("socket" not in used, "service sandbox: no socket (RestrictAddressFamilies=none)")


def changelog_signer():
    text = (ROOT / "contrib/debian/changelog").read_text()
    return re.search(r"(?m)^ -- (.*>)  ", text).group(1)


def start_lintian(deb):
    """lintian takes seconds: it runs beside all the other checks."""
    if shutil.which("lintian") is None:
        return None
    return subprocess.Popen(["lintian", "-I", "--pedantic", str(deb)],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


def check_lintian(lintian):
    """lintian -I --pedantic: no error or warning."""
    if lintian is None:
        check(False, "lintian (package lintian) is missing")
        return
    tags = lintian.communicate()[0].decode(errors="replace").splitlines()
    bad = [t for t in tags if t[:2] in ("E:", "W:")]
    check(not bad, "lintian -I --pedantic: no E or W tag (%d I, P tags)" % (len(tags) - len(bad)),
          "; ".join(bad)[:600])
    for tag in tags:
        print("         " + tag)


def check_hardening(exe):
    """What Debian's hardening flags leave in an executable."""
    dynamic = run(["readelf", "-dW", str(exe)]).stdout.decode()
    check("BIND_NOW" in dynamic or re.search(r"FLAGS_1.*\bNOW\b", dynamic),
          "usr/bin/quilbo: BIND_NOW (-z now)")
    check(re.search(r"FLAGS_1.*\bPIE\b", dynamic), "usr/bin/quilbo: a PIE")
    segments = run(["readelf", "-lW", str(exe)]).stdout.decode()
    check("GNU_RELRO" in segments, "usr/bin/quilbo: RELRO (-z relro)")
    symbols = run(["readelf", "--dyn-syms", "-W", str(exe)]).stdout.decode()
    check("__stack_chk_fail" in symbols, "usr/bin/quilbo: stack protector")
    fortified = sorted(set(re.findall(r"__\w+_chk\b", symbols)) - {"__stack_chk_fail"})
    check(fortified, "usr/bin/quilbo: fortified calls (%s)" % ", ".join(fortified))
    sections = run(["readelf", "-SW", str(exe)]).stdout.decode()
    check(".comment" not in sections, "usr/bin/quilbo: no .comment section")


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
    maintainer = fields.get("Maintainer", "")
    check(maintainer == changelog_signer() and not PLACEHOLDER_MAINTAINER.search(maintainer),
          "maintainer is the changelog's signer, not a placeholder", maintainer)
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
        check_hardening(exe)
        check_copyright(Path(scratch, "usr", DOC, "copyright"))
        changelog = Path(scratch, "usr", DOC, "changelog.Debian.gz")
        done = run(["dpkg-parsechangelog", "-l", "-", "-S", "Version"],
                   input=gzip.decompress(changelog.read_bytes()))
        check(done.stdout.decode().strip() == fields.get("Version"),
              "changelog.Debian.gz: its latest entry is this version",
              done.stdout.decode() + done.stderr.decode())
        check_program(exe, "from the scratch root")
        check_cron(Path(scratch, "usr", EXAMPLES[2]), "/usr/bin", exe)
        check_systemd_units(scratch, "/usr", Path(scratch, "usr/share/man"))
        check_service_sandbox(Path(scratch, "usr", EXAMPLES[0]), exe)
        check_man_page(Path(scratch, "usr/share/man/man1/quilbo.1.gz"), "manual page")
        return sorted((name, Path(scratch, name).stat().st_size) for name in files_under(scratch))


def check_copyright(path):
    """Debian's machine-readable copyright file, made from LICENSE: the same
    holders and the same licence text."""
    text = path.read_text() if path.exists() else ""
    licence = (ROOT / "LICENSE").read_text()
    holders = re.search(r"Copyright \(c\) (.+)", licence).group(1)
    body = licence.split(re.search(r"Copyright \(c\) .+", licence).group(0), 1)[1].strip()
    field = re.search(r"(?ms)^License: Expat\n((?: .*\n?)+)", text)
    unfolded = "\n".join("" if l == " ." else l[1:] for l in field.group(1).splitlines()) \
        if field else ""
    check(text.startswith("Format: https://www.debian.org/doc/packaging-manuals/"
                          "copyright-format/1.0/")
          and "Copyright: %s\n" % holders in text and unfolded.strip() == body,
          "copyright: LICENSE in Debian's machine-readable form")


def crlf_only(data):
    return b"\n" in data and data.count(b"\n") == data.count(b"\r\n") and data.count(b"\r") == data.count(b"\r\n")


SUPPORTED_OS = {  # Windows 7, 8, 8.1, 10 and 11
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}


def check_exe_resources(exe):
    """Quilbo.exe: an i386 program with ASLR and DEP, version information
    (1.1.0.0, product, description, original name, the licence's copyright)
    and an asInvoker manifest listing Windows 7 to 11."""
    try:
        import pefile
    except ImportError:
        check(False, "Quilbo.exe resources: python3-pefile is missing")
        return
    pe = pefile.PE(data=exe)
    check(pe.FILE_HEADER.Machine == 0x14C, "Quilbo.exe is a 32-bit (i386) Windows program",
          "machine %#x" % pe.FILE_HEADER.Machine)
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    check(flags & 0x40 and flags & 0x100, "Quilbo.exe: ASLR and DEP (dynamic base, NX)",
          "%#x" % flags)
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    check(fixed and (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS,
                     fixed.ProductVersionLS) == (0x10001, 0, 0x10001, 0),
          "Quilbo.exe: version information 1.1.0.0")
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0] if getattr(pe, "FileInfo", None) else []:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    copyright_line = re.search(r"(?m)^Copyright .+", (ROOT / "LICENSE").read_text()).group(0)
    check(strings.get("ProductName") == "Quilbo" and strings.get("FileDescription")
          and strings.get("OriginalFilename") == "Quilbo.exe"
          and strings.get("FileVersion") == "1.1.0.0"
          and copyright_line in strings.get("LegalCopyright", ""),
          "Quilbo.exe: ProductName, FileDescription, OriginalFilename, FileVersion, "
          "LegalCopyright from LICENSE", repr(strings))
    manifest = b""
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None).entries \
            if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []:
        if kind.id == 24:  # RT_MANIFEST
            for entry in kind.directory.entries:
                for language in entry.directory.entries:
                    data = language.data.struct
                    manifest = pe.get_data(data.OffsetToData, data.Size)
    level = re.search(rb'requestedExecutionLevel\s+level="(\w+)"', manifest)
    check(level and level.group(1) == b"asInvoker", "Quilbo.exe: manifest asks for asInvoker")
    ids = {m.decode().lower() for m in re.findall(rb'supportedOS\s+Id="([^"]+)"', manifest)}
    check(ids == SUPPORTED_OS, "Quilbo.exe: manifest lists Windows 7 to 11", str(sorted(ids)))


def check_text(name, data, ascii_width=None):
    check(crlf_only(data), name + " has CR LF line ends only")
    if ascii_width:
        check(not re.search(rb"[^\x20-\x7e\r\n]", data), name + " is plain ASCII")
        widest = max((len(l) for l in data.split(b"\r\n")), default=0)
        check(widest <= ascii_width, "%s: at most %d columns" % (name, ascii_width),
              "%d columns" % widest)


def check_task_script(text):
    """quilbo-task.cmd keeps its run log outside its own pattern, writes a
    time stamp before and a line end after each run, and finds Quilbo.exe
    beside itself."""
    runlog = re.search(r'(?im)^set "runlog=([^"]+)"', text)
    command = re.search(r'(?im)^"%~dp0Quilbo\.exe" (\S+).*>>"%runlog%"', text)
    if not check(runlog and command, "quilbo-task.cmd: runs %~dp0Quilbo.exe into %runlog%"):
        return
    path = runlog.group(1).replace("%ProgramData%", "C:\\ProgramData")
    pattern = command.group(1)
    check(not fnmatch.fnmatch(path.lower(), pattern.lower())
          and ntpath.dirname(path).lower() != ntpath.dirname(pattern).lower(),
          "quilbo-task.cmd: run log %s lies outside the pattern %s" % (runlog.group(1), pattern))
    lines = text.splitlines()
    at = next(i for i, l in enumerate(lines) if l.startswith('"%~dp0Quilbo.exe"'))
    stamp = any(re.match(r'>>"%runlog%" echo .*%DATE% %TIME%', l) for l in lines[:at])
    end = any(l.strip() == '>>"%runlog%" echo.' for l in lines[at + 1:])
    check(stamp and end, "quilbo-task.cmd: a time stamp before each run, a line end after")
    # 5 is a success only without a note: a missing C:\Logs ends with 5 too.
    notes = re.search(r'(?im)^set "notes=([^"]+)"', text)
    check(notes and re.search(r'(?m)^"%~dp0Quilbo\.exe" .*2>"%notes%"\s*$', text)
          and re.search(r"(?m)^if %status% EQU 5 if %noted% EQU 0 exit /b 0\s*$", text)
          and re.search(r"(?m)^exit /b %status%\s*$", text)
          and ntpath.dirname(notes.group(1)) == ntpath.dirname(runlog.group(1)),
          "quilbo-task.cmd: 5 becomes 0 only when Quilbo wrote nothing on standard error")
    check(not re.search(r"(?im)^\s*(if .*)?(mkdir|md) ", text),
          "quilbo-task.cmd: leaves making its run log's folder to create-task.cmd")


def check_create_task(text):
    """create-task.cmd makes the run log's folder before the task, owned by
    the Administrators and writable for them and SYSTEM alone, and takes an
    existing one only when the Administrators own it and it is no link."""
    lines = [l.strip() for l in text.splitlines()]
    at = lambda pattern: next((i for i, l in enumerate(lines) if re.search(pattern, l, re.I)), None)
    made, owner, access, task = (at(r'^mkdir "%folder%"'), at(r"^icacls .*/setowner \*S-1-5-32-544\b"),
                                 at(r"^icacls "), at(r"^schtasks /Create "))
    grants = re.findall(r"/grant:r((?: \*S-[\d-]+:\S+)+)", text)
    check(re.search(r'(?m)^set "folder=%ProgramData%\\Quilbo"', text) and None not in (made, owner, task)
          and made < owner < task and access < task
          and re.search(r"/inheritance:r\b", text)
          and [sorted(g.split()) for g in grants] == [["*S-1-5-18:(OI)(CI)F", "*S-1-5-32-544:(OI)(CI)F"]],
          "create-task.cmd: makes %ProgramData%\\Quilbo for the Administrators and SYSTEM alone "
          "before the task")
    check("ReparsePoint" in text and re.search(r'(?m)^if not "%owner%"=="S-1-5-32-544" goto refuse', text)
          and re.search(r"(?m)^:refuse\s*$", text) and re.search(r"(?m)^exit /b 1\s*$", text),
          "create-task.cmd: refuses a folder or link of that name it did not make")


def check_zip(path):
    print("== %s" % path)
    with zipfile.ZipFile(path) as archive:
        check(archive.testzip() is None, "zip is intact")
        infos = [i for i in archive.infolist() if not i.is_dir()]
        tops = {i.filename.split("/", 1)[0] for i in infos}
        check(tops == {ZIP_TOP}, "one top folder %s (unpacked into C:\\Program Files)"
              % ZIP_TOP, str(sorted(tops)))
        names = {i.filename.split("/", 1)[-1] for i in infos}
        check_set(names, ZIP_FILES, "file list")
        by_name = {i.filename.split("/", 1)[-1]: i for i in infos}
        data = {n: archive.read(by_name[n]) for n in names & ZIP_FILES}
    check_exe_resources(data.get("Quilbo.exe", b""))
    readme = data.get("README.txt", b"")
    check_text("README.txt", readme, 80)
    expected = readme_text.convert((ROOT / "README.md").read_text(encoding="utf-8"))
    check(readme == expected.encode("ascii"), "README.txt is made from README.md")
    check(b"C:\\Program Files\\Quilbo" in readme and b"C:\\Program Files." in readme,
          "README.txt: unpack into C:\\Program Files, files in C:\\Program Files\\Quilbo")
    installing = readme.split(b"\r\nInstalling\r\n", 1)[-1].split(b"\r\n\r\n", 2)[1:2]
    check(installing and installing[0].startswith(b"Windows:") and b"tools/" not in readme.split(b"Installing")[0],
          "README.txt: written for Windows first (its installing starts with Windows, no build tools before)")
    check(data.get("LICENSE.txt", b"").replace(b"\r\n", b"\n") == (ROOT / "LICENSE").read_bytes(),
          "LICENSE.txt is LICENSE")
    for name in ("LICENSE.txt", "quilbo-task.cmd", "create-task.cmd"):
        check_text(name, data.get(name, b""))
    check(b"%~dp0quilbo-task.cmd" in data.get("create-task.cmd", b""),
          "create-task.cmd: the task runs quilbo-task.cmd where it lies")
    check_create_task(data.get("create-task.cmd", b"").decode("ascii", "replace"))
    check_task_script(data.get("quilbo-task.cmd", b"").decode("ascii", "replace"))
    page = data.get("quilbo.txt", b"")
    check_text("quilbo.txt", page, 80)
    check(b"NAME" in page and b"EXIT STATUS" in page and b"SuccessExitStatus=5" in page,
          "quilbo.txt is the manual page")
    return sorted((n, len(d)) for n, d in data.items())


def check_install(build):
    """cmake --install --prefix /usr/local into a scratch root (DESTDIR): the
    files, the program, and examples that name /usr/local/bin/quilbo."""
    prefix = "/usr/local"
    print("== cmake --install %s --prefix %s" % (build, prefix))
    with tempfile.TemporaryDirectory(prefix="quilbo-prefix-") as root:
        done = run(["cmake", "--install", str(build), "--prefix", prefix],
                   env=dict(os.environ, DESTDIR=root))
        if not check(done.returncode == 0, "cmake --install with DESTDIR",
                     done.stderr.decode()):
            return
        installed = Path(root, prefix.lstrip("/"))
        check_set(files_under(installed), INSTALL_FILES, "installed files")
        exe = installed / "bin/quilbo"
        check_program(exe, "installed")
        check_cron(installed / EXAMPLES[2], prefix + "/bin", exe)
        check_systemd_units(root, prefix, installed / "share/man")
        check_man_page(installed / "share/man/man1/quilbo.1", "installed manual page")


def check_messages():
    """Every program message the README and the manual page quote is one the
    program prints (tools/doc_messages.py)."""
    found = doc_messages.check()
    bad = ["%s:%d: %s" % (name, line, quote) for name, line, quote, ok in found if not ok]
    check(len(found) >= 20 and not bad,
          "README.md and doc/quilbo.1: the %d program messages they quote are the "
          "program's own" % len(found), "; ".join(bad)[:800])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--deb")
    parser.add_argument("--zip")
    parser.add_argument("--build", help="a Linux build folder to install from")
    options = parser.parse_args()

    contents = {}
    lintian = start_lintian(options.deb) if options.deb else None
    check_man_page(ROOT / "doc/quilbo.1", "doc/quilbo.1")
    check_messages()
    if options.deb:
        contents[options.deb] = check_deb(options.deb)
    if options.zip:
        contents[options.zip] = check_zip(options.zip)
    if options.build:
        check_install(options.build)
    if options.deb:
        print("== lintian -I --pedantic %s" % options.deb)
        check_lintian(lintian)

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
