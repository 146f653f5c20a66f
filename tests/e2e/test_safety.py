"""Runs that meet what a server's log folders hold: links planted by other
users, links that lead nowhere, FIFOs and sockets, a log that a service
keeps writing, a file-size limit and a disk that fills up."""

import os
import socket
import subprocess
import sys
import time
import unittest

import harness
from e2e_case import E2ECase
from test_archive import read, write

CRLF = b"\r\n"
WINDOWS = harness.is_windows()
POSIX = not WINDOWS
ROOT = hasattr(os, "geteuid") and os.geteuid() == 0


def other_user():
    """(uid, gid) of an unprivileged user to own planted links, or None."""
    try:
        import pwd
        entry = pwd.getpwnam("nobody")
        return entry.pw_uid, entry.pw_gid
    except (ImportError, KeyError):
        return None


OTHER = other_user()
needs_root = unittest.skipUnless(POSIX and ROOT and OTHER,
                                 "needs root on Linux and a second user")
posix_only = unittest.skipUnless(POSIX, "Linux behaviour")


def tree(root):
    """{relative path: bytes, link text or None for a folder} under root."""
    result = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            key = os.path.relpath(path, root)
            if os.path.islink(path):
                result[key] = "-> " + os.readlink(path)
            elif os.path.isdir(path):
                result[key] = None
            else:
                result[key] = read(path)
    return result


def typed(path):
    """A path as a user of this platform types it."""
    return path.replace("/", "\\") if WINDOWS else path


def plant_link(target, at):
    """A link made by the other user."""
    os.symlink(target, at)
    os.lchown(at, OTHER[0], OTHER[1])


class OtherUsersLinks(E2ECase):
    """A root run over a folder that another user can write."""

    def setUp(self):
        super().setUp()
        self.logs = self.path("logs")
        os.makedirs(self.logs)
        os.chmod(self.logs, 0o1777)
        # Stands for /etc: what a root run must never write or read out.
        self.outside = self.path("outside")
        write(os.path.join(self.outside, "passwd"), b"root:x:0:0:root:/root:/bin/sh\n")
        write(os.path.join(self.outside, "shadow"), b"root:$6$secret:19000::::::\n")
        os.chmod(os.path.join(self.outside, "shadow"), 0o600)

    def plant_log(self, name, data):
        path = os.path.join(self.logs, name)
        write(path, data)
        os.chown(path, *OTHER)
        return path

    @needs_root
    def test_archive_folder_link_cannot_send_lines_outside(self):
        line = b"evil::0:0::/root:/bin/sh\n"
        for args in (["/D"], ["/D", "/T1"]):
            with self.subTest(args=args):
                plant_link(self.outside, os.path.join(self.logs, "Archive"))
                log = self.plant_log("passwd", line)
                before = tree(self.outside)
                code, out, _ = self.run_quilbo(["logs/passwd"] + args)
                self.assertEqual(code, 1, out)
                report = out[out.index(b"Exception"):]
                self.assertReport(report, "Exception", None)
                self.assertIn(b"Archive", report)
                self.assertIn(b"passwd lies behind a link of another user", report)
                self.assertEqual(tree(self.outside), before)
                self.assertEqual(read(log), line)
                os.remove(os.path.join(self.logs, "Archive"))

    @needs_root
    def test_archive_or_tmp_link_cannot_send_lines_outside(self):
        archive = os.path.join(self.logs, "Archive")
        os.makedirs(archive)
        cases = [
            # (planted in the archive folder, arguments, refused)
            ({"app.log": "passwd"}, [], True),
            ({"app.log": "passwd"}, ["/T1"], True),
            # Not the cut's file: it takes another name and leaves the link.
            ({"app.log.tmp": "passwd"}, ["/T1"], False),
        ]
        for links, args, refused in cases:
            with self.subTest(links=links, args=args):
                for name in os.listdir(archive):
                    os.remove(os.path.join(archive, name))
                if "app.log" not in links:
                    write(os.path.join(archive, "app.log"), b"old\r\n" * 400)
                for name, target in links.items():
                    plant_link(os.path.join(self.outside, target),
                               os.path.join(archive, name))
                log = self.plant_log("app.log", b"evil\n" * 300)
                before = tree(self.outside)
                code, out, _ = self.run_quilbo(["logs/app.log", "/D"] + args)
                self.assertEqual(code, 1 if refused else 0, out)
                self.assertEqual(tree(self.outside), before)
                self.assertEqual(os.path.exists(log), refused)
                if not refused:
                    self.assertTrue(os.path.islink(os.path.join(archive, "app.log.tmp")))

    @needs_root
    def test_link_to_a_secret_is_not_archived(self):
        plant_link(os.path.join(self.outside, "shadow"), os.path.join(self.logs, "x.log"))
        self.plant_log("a.log", b"ordinary\n")
        code, out, _ = self.run_quilbo(["logs/*.log", "/D"])
        self.assertEqual(code, 0, out)
        self.assertNotIn(b"x.log", out)
        self.assertEqual(os.listdir(self.path("logs/Archive")), ["a.log"])
        self.assertTrue(os.path.islink(self.path("logs/x.log")))
        # Named alone, it is not there at all.
        code, out, _ = self.run_quilbo(["logs/x.log", "/D"])
        self.assertEqual(code, 5, out)
        self.assertEqual(os.listdir(self.path("logs/Archive")), ["a.log"])
        self.assertEqual(read(os.path.join(self.outside, "shadow")),
                         b"root:$6$secret:19000::::::\n")

    @posix_only
    def test_own_link_to_an_archive_disk_still_works(self):
        # Made by the user running the program: root in a scheduled run.
        disk = self.path("mnt/big/archive")
        os.makedirs(disk)
        os.symlink(disk, os.path.join(self.logs, "Archive"))
        write(os.path.join(self.logs, "a.log"), b"kept\n")
        code, out, _ = self.run_quilbo(["logs/a.log", "/D"])
        self.assertEqual(code, 0, out)
        self.assertEqual(read(os.path.join(disk, "a.log")), b"kept\r\n")
        self.assertFalse(os.path.exists(os.path.join(self.logs, "a.log")))

    @posix_only
    def test_archives_are_no_more_open_than_their_logs(self):
        own = (os.getuid(), os.getgid())
        for mode in (0o600, 0o640, 0o644, 0o666):  # 0o666: beyond the umask
            for args in ([], ["/T1"]):
                with self.subTest(mode=oct(mode), args=args):
                    self.fresh()
                    log = self.path("a.log")
                    write(log, b"x" * 2000 + b"\n")
                    os.chmod(log, mode)
                    owner = OTHER if ROOT and OTHER and mode != 0o644 else own
                    os.chown(log, *owner)
                    code, out, _ = self.run_quilbo(["a.log"] + args)
                    self.assertEqual(code, 0, out)
                    info = os.stat(self.path("Archive/a.log"))
                    self.assertEqual(info.st_mode & 0o7777, mode)
                    self.assertEqual((info.st_uid, info.st_gid), owner)
        # A read-only log still gets an archive that later runs can append
        # to: its owner may write it, nobody else gains anything.
        for mode in (0o444, 0o400):
            with self.subTest(mode=oct(mode)):
                self.fresh()
                log = self.path("a.log")
                write(log, b"x" * 700 + b"\n")
                os.chmod(log, mode)
                for args in ([], ["/T1"]):
                    code, out, _ = self.run_quilbo(["a.log"] + args)
                    self.assertEqual(code, 0, out)
                info = os.stat(self.path("Archive/a.log"))
                self.assertEqual(info.st_mode & 0o7777, mode | 0o200)
                self.assertEqual(read(self.path("Archive/a.log")),
                                 (b"x" * 700 + b"\r\n" + b"x" * 700 + b"\r\n")[-1024:])
        # An archive that exists keeps its own access, also through a cut.
        self.fresh()
        write(self.path("Archive/a.log"), b"old\r\n" * 300)
        os.chmod(self.path("Archive/a.log"), 0o604)
        write(self.path("a.log"), b"new\n")
        os.chmod(self.path("a.log"), 0o600)
        for args in ([], ["/T1"]):
            code, out, _ = self.run_quilbo(["a.log"] + args)
            self.assertEqual(code, 0, out)
            info = os.stat(self.path("Archive/a.log"))
            self.assertEqual(info.st_mode & 0o7777, 0o604)
            self.assertEqual(info.st_uid, os.getuid())


class Unreachable(E2ECase):
    def test_dangling_link_and_loop_are_missing_sources(self):
        write(self.path("logs/good.log"), b"good\n")
        os.symlink("nowhere.txt", self.path("logs/dangling.log"))
        os.symlink("loop2.log", self.path("logs/loop1.log"))
        os.symlink("loop1.log", self.path("logs/loop2.log"))
        for _ in range(2):  # and so on every later run
            code, out, _ = self.run_quilbo([typed("logs/*.log"), "/D"])
            self.assertEqual(code, 0, out)
            self.assertNotIn(b"Exception", out)
            self.assertEqual(sorted(os.listdir(self.path("logs/Archive"))), ["good.log"])
            for name in ("dangling.log", "loop1.log", "loop2.log"):
                self.assertTrue(os.path.islink(self.path("logs/" + name)), name)
            self.assertFalse(os.path.exists(self.path("logs/nowhere.txt")))
            write(self.path("logs/good.log"), b"good\n")
        self.assertEqual(read(self.path("logs/Archive/good.log")), b"good\r\n" * 2)

    def test_link_to_a_log_is_archived_and_delete_removes_only_the_link(self):
        write(self.path("data/real.txt"), b"through the link\n")
        os.mkdir(self.path("logs"))
        os.symlink(os.path.join("..", "data", "real.txt"), self.path("logs/r.log"))
        # wine shows a Unix link as the file itself, and its DeleteFileA
        # removes the target; Windows removes a symbolic link itself.
        args = ["/D"] if POSIX else []
        code, out, _ = self.run_quilbo([typed("logs/r.log")] + args)
        self.assertEqual(code, 0, out)
        self.assertEqual(read(self.path("logs/Archive/r.log")), b"through the link\r\n")
        self.assertEqual(os.path.lexists(self.path("logs/r.log")), WINDOWS)
        self.assertEqual(read(self.path("data/real.txt")), b"through the link\n")

    def test_log_that_cannot_be_opened_creates_no_archive(self):
        # The log's open is the run's first file open; the errors stand for
        # a log gone since the search, a folder gone, a link loop and
        # another user's link.
        for error in (2, 3, 1921, 448):
            with self.subTest(error=error):
                self.fresh()
                write(self.path("a.log"), b"text\n")
                code, out, _ = self.run_quilbo(
                    ["a.log", "/D"],
                    faults=harness.Faults(service="createFileAt", nth=1, once=True, error=error))
                self.assertEqual(code, 0, out)
                self.assertNotIn(b"Exception", out)
                self.assertFalse(os.path.exists(self.path("Archive/a.log")))
                self.assertEqual(read(self.path("a.log")), b"text\n")
        # Any other failure is reported, still before an archive exists.
        self.fresh()
        write(self.path("a.log"), b"text\n")
        code, out, _ = self.run_quilbo(
            ["a.log"], faults=harness.Faults(service="createFileAt", nth=1, once=True, error=32))
        self.assertEqual(code, 1, out)
        self.assertReport(out[out.index(b"Exception"):], "EInOutError", "I/O error 32.")
        self.assertFalse(os.path.exists(self.path("Archive/a.log")))

    def test_archive_behind_an_untrusted_link_is_refused_by_name(self):
        # The archive's creation meets a link it may not follow: Linux for another user's link, Windows for an untrusted
        # mount point.
        for args in ([], ["/D", "/T1"]):
            with self.subTest(args=args):
                self.fresh()
                write(self.path("a.log"), b"text\n")
                code, out, _ = self.run_quilbo(
                    ["a.log"] + args,
                    faults=harness.Faults(service="createFileAsAt", error=448))
                self.assertEqual(code, 1, out)
                report = out[out.index(b"Exception"):]
                self.assertReport(report, "Exception", None)
                self.assertRegex(report, rb"\nArchive Archive[/\\]a\.log lies behind a link "
                                 rb"of another user; not followed\.\Z")
                self.assertFalse(os.path.exists(self.path("Archive/a.log")))
                self.assertEqual(read(self.path("a.log")), b"text\n")


@posix_only
class SpecialFiles(E2ECase):
    def setUp(self):
        super().setUp()
        self.saved_timeout = harness.RUN_TIMEOUT
        harness.RUN_TIMEOUT = 20  # a run that blocks fails, it does not hang
        self.sockets = []

    def tearDown(self):
        harness.RUN_TIMEOUT = self.saved_timeout
        for s in self.sockets:
            s.close()
        super().tearDown()

    def make_socket(self, path):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.bind(path)
        self.sockets.append(s)

    def test_fifo_and_socket_are_skipped(self):
        write(self.path("a.log"), b"text\n")
        os.mkfifo(self.path("p.log"))
        self.make_socket(self.path("s.log"))
        os.symlink("p.log", self.path("l.log"))
        for _ in range(2):
            code, out, _ = self.run_quilbo(["*.log"])
            self.assertEqual(code, 0, out)
            self.assertEqual(out.count(b"File "), 1, out)
            self.assertEqual(os.listdir(self.path("Archive")), ["a.log"])
        for name in ("p.log", "s.log", "l.log"):
            code, out, _ = self.run_quilbo([name, "/D"])
            self.assertEqual(code, 5, out)
            self.assertEqual(os.listdir(self.path("Archive")), ["a.log"])

    def test_fifo_under_an_archive_name_does_not_block(self):
        write(self.path("a.log"), b"text\n")
        os.makedirs(self.path("Archive"))
        os.mkfifo(self.path("Archive/a.log"))
        code, out, _ = self.run_quilbo(["a.log", "/D"])
        self.assertEqual(code, 1, out)
        self.assertReport(out[out.index(b"Exception"):], "EInOutError", None)
        self.assertEqual(read(self.path("a.log")), b"text\n")


WRITER = r"""
import sys, time
path, count, closed, reopen = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4] == "1"
log = open(path, "a", buffering=1)
print("open", flush=True)
for i in range(count):
    if reopen:  # a service that opens its log anew for every line
        log.close()
        log = open(path, "a", buffering=1)
    log.write("line %06d of a service writing its log\n" % i)
    time.sleep(0.0005)
log.close()
open(closed, "w").close()
"""


@posix_only
class HeldLog(E2ECase):
    def test_writers_lose_no_line(self):
        count = 4000
        for reopen in (False, True):
            with self.subTest(reopen=reopen):
                self.fresh()
                log = self.path("app.log")
                write(log, b"")
                closed = self.path("closed")
                writer = subprocess.Popen(
                    [sys.executable, "-c", WRITER, log, str(count), closed, "1" if reopen else "0"],
                    stdout=subprocess.PIPE)
                writer.stdout.readline()  # the log is open
                held_runs = 0
                while not os.path.exists(closed):
                    code, out, _ = self.run_quilbo(["app.log", "/D"])
                    self.assertIn(code, (0, 5), out)
                    if not reopen and not os.path.exists(closed):
                        # The whole run saw the writer holding the log.
                        held_runs += 1
                        self.assertTrue(os.path.exists(log), "deleted while held open")
                writer.wait()
                writer.stdout.close()
                code, out, _ = self.run_quilbo(["app.log", "/D"])
                self.assertIn(code, (0, 5), out)
                self.assertEqual(sorted(os.listdir(self.dir)), ["Archive", "closed"])
                archived = set(read(self.path("Archive/app.log")).split(CRLF))
                missing = [i for i in range(count)
                           if b"line %06d of a service writing its log" % i not in archived]
                self.assertEqual(missing, [], "%d of %d lines lost" % (len(missing), count))
                if not reopen:
                    self.assertGreater(held_runs, 0)


def mount_tmpfs(path, size):
    """A small file system at path; False where mounting is not allowed."""
    os.makedirs(path, exist_ok=True)
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", path],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return done.returncode == 0


@posix_only
class Limits(E2ECase):
    def run_limited(self, args, kilobytes):
        """The program under `ulimit -f kilobytes`."""
        command = ["bash", "-c", 'ulimit -f %d && exec "$0" "$@"' % kilobytes,
                   *harness.CONFIG.runner, str(harness.CONFIG.exe)] + args
        done = subprocess.run(command, cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=harness.RUN_TIMEOUT)
        return done.returncode, done.stdout

    def test_file_size_limit_ends_with_the_report(self):
        source = b"".join(b"line %05d\n" % i for i in range(3000))
        write(self.path("a.log"), source)
        code, out = self.run_limited(["a.log", "/D"], 16)
        self.assertEqual(code, 1, out)
        self.assertReport(out[out.index(b"Exception"):], "EInOutError", "I/O error 223.")
        self.assertEqual(read(self.path("a.log")), source)
        self.assertEqual(os.path.getsize(self.path("Archive/a.log")), 16 * 1024)

    def test_full_disk_reports_the_system_error(self):
        if not ROOT:
            self.skipTest("mounting needs root")
        disk = self.path("disk")
        if not mount_tmpfs(disk, 32 * 1024):
            self.skipTest("cannot mount a small file system here")
        try:
            cases = [
                # (archive before or None, log, arguments)
                (None, b"z" * 40000 + b"\n", []),
                # The cut's new file finds half the room it needs.
                (b"o" * 21000, b"n" * 1000 + b"\n", ["/T16"]),
            ]
            for before, source, args in cases:
                with self.subTest(args=args):
                    for name in os.listdir(disk):
                        os.remove(os.path.join(disk, name))
                    if before is not None:
                        write(os.path.join(disk, "a.log"), before)
                    write(self.path("a.log"), source)
                    code, out, _ = self.run_quilbo(["a.log", "disk", "/D"] + args)
                    self.assertEqual(code, 1, out)
                    self.assertReport(out[out.index(b"Exception"):], "EInOutError", "I/O error 112.")
                    self.assertEqual(read(self.path("a.log")), source)
                    if before is not None:
                        # The cut failed before its file had a name.
                        self.assertEqual(os.listdir(disk), ["a.log"])
                        self.assertEqual(read(os.path.join(disk, "a.log")), before)
        finally:
            subprocess.run(["umount", disk])


if __name__ == "__main__":
    unittest.main()
