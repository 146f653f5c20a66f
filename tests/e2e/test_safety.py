"""What a server's log folders hold: other users' links, links that lead
nowhere, FIFOs and sockets, logs held or written by services, access, limits."""

import os
import re
import shutil
import socket
import subprocess
import sys
import unittest

from harness import (CONFIG, CRLF, Case, command, copied, file_line, listing, note_re, read, root, run, settings, tree,
                     typed, windows, write)

POSIX = not windows()
posix_only = unittest.skipUnless(POSIX, "Linux behaviour")
try:
    import pwd
    OTHER = pwd.getpwnam("nobody")[2:4]
except (ImportError, KeyError):
    OTHER = None


class Links(Case):
    @unittest.skipUnless(POSIX and root() and OTHER, "needs root on Linux and a second user")
    def test_another_users_links_lead_nowhere_for_a_root_run(self):
        for link, target, args, refused in [  # the last is not the cut's own name: it takes another
                ("Archive", "outside", ["/D"], True), ("Archive", "outside", ["/D", "/T1"], True),
                ("Archive/app.log", "outside/passwd", [], True), ("Archive/app.log", "outside/passwd", ["/T1"], True),
                ("Archive/app.log.tmp", "outside/passwd", ["/T1"], False), ("x.log", "outside/shadow", ["/D"], False)]:
            with self.row(link=link, args=args):
                self.files({"outside/passwd": b"root:x:0:0::/root:/bin/sh\n", "outside/shadow": b"secret\n",
                            "logs/app.log": b"evil\n" * 300, "logs/Archive/app.log": b"old\r\n" * 400})
                outside = tree(self.p("outside"))
                os.chmod(self.p("logs"), 0o1777)
                os.chown(self.p("logs/app.log"), *OTHER)
                os.remove(self.p("logs/Archive/app.log")) if not link.endswith(".tmp") else None
                os.rmdir(self.p("logs/Archive")) if link == "Archive" else None
                os.symlink(self.p(target), self.p("logs/" + link))
                os.lchown(self.p("logs/" + link), *OTHER)
                result = self.q([typed("logs/*.log")] + args)
                self.assertEqual((result.code, tree(self.p("outside"))), (int(refused), outside))
                self.assertEqual(os.path.exists(self.p("logs/app.log")), refused or "/D" not in args)
                self.assertEqual(b"lies behind a link of another user" in result.out, refused)
                if link == "x.log":  # a link to a secret is no log; named alone, not there at all
                    self.assertEqual(result.out, settings(delete=True) + file_line(1, "logs/app.log", 1500))
                    self.assertEqual((self.q(["logs/x.log", "/D"]).code, os.path.islink(self.p("logs/x.log"))), (5, True))

    def test_links_that_lead_nowhere_and_own_links(self):
        self.files({"logs/good.log": b"good\n", "data/real.txt": b"through the link\n"})
        for name, target in (("dangling.log", "nowhere.txt"), ("loop1.log", "loop2.log"), ("loop2.log", "loop1.log"),
                             ("r.log", "../data/real.txt")):
            os.symlink(target, self.p("logs/" + name))
        args = ["/D"] if POSIX else []  # wine shows a Unix link as the file itself and deletes the target
        for _ in range(2):
            self.files({"logs/good.log": b"good\n"})
            result = self.q([typed("logs/*.log")] + args, timeout=20)
            self.assertEqual((result.code, listing(self.p("logs/Archive"))), (0, ["good.log", "r.log"]))
        self.assertEqual(read(self.p("logs/Archive/good.log")), b"good\r\n" * 2)
        self.assertEqual(read(self.p("logs/Archive/r.log")), b"through the link\r\n" * (1 + windows()))
        self.assertEqual(listing(self.p("logs")), ["Archive", "dangling.log"] + ["good.log"] * windows() +
                         ["loop1.log", "loop2.log"] + ["r.log"] * windows())
        self.assertEqual(listing(self.p("data")), ["real.txt"])

    @posix_only
    def test_archives_are_no_more_open_than_their_logs(self):
        # 0o666 goes beyond the umask; the run's own log is made in one call.
        for i, (mode, args) in enumerate((m, a) for m in (0o600, 0o640, 0o644, 0o666, 0o444, 0o400) for a in ([], ["/T1"])):
            own = (os.getuid(), os.getgid())
            owner = (OTHER, (own[0], OTHER[1]), own)[i % 3] if root() and OTHER else own
            with self.row(mode=oct(mode), args=args, owner=owner):  # a read-only log's archive still grows
                write(self.p("a.log"), b"x" * 2000 + b"\n", mode)
                os.chown(self.p("a.log"), *owner)
                os.utime(self.p("a.log"), (1000, 2000))
                self.assertEqual([self.q(["a.log"] + args).code for _ in "12"], [0, 0])
                self.assertEqual(os.stat(self.p("a.log")).st_atime, 1000)  # archiving a log is no use of it
                info = os.stat(self.p("Archive/a.log"))
                self.assertEqual((info.st_mode & 0o7777, info.st_uid, info.st_gid), (mode | 0o200,) + tuple(owner))
                self.assertEqual(read(self.p("Archive/a.log")), (copied(b"x" * 2000 + b"\n") * 2)[-1024 if args else 0:])
        self.files({"Archive/a.log": b"old\r\n" * 300, "a.log": b"new\n"})
        os.chmod(self.p("Archive/a.log"), 0o604)
        for args in ([], ["/T1"]):  # an existing archive keeps its own access, also through a cut
            self.assertEqual((self.q(["a.log"] + args).code, os.stat(self.p("Archive/a.log")).st_mode & 0o7777), (0, 0o604))
        if POSIX and root() and OTHER:  # another user reads root's logs, though it may not leave their access time
            self.files({"r.log": b"root's\n"})
            for folder in ("", "Archive"):
                os.chmod(self.p(folder), 0o777)
            user = lambda: (os.setgroups([]), os.setgid(OTHER[1]), os.setuid(OTHER[0]))
            done = subprocess.run(CONFIG["runner"] + [shutil.copy(CONFIG["exe"], self.p("q")), "r.log"], cwd=self.dir,
                                  preexec_fn=user, capture_output=True, timeout=60)
            self.assertEqual((done.returncode, read(self.p("Archive/r.log"))), (0, b"root's\r\n"))


@posix_only
class Services(Case):
    def test_fifos_sockets_and_a_log_held_open(self):
        self.files({"a-log-with-a-long-name.log": b"a\n"})  # a note naming it reads no freed name
        os.mkfifo(self.p("p.log"))
        os.symlink("p.log", self.p("l.log"))
        with socket.socket(socket.AF_UNIX) as s, open(self.p("a-log-with-a-long-name.log"), "ab"):
            s.bind(self.p("s.log"))
            result = self.q(["*.log", "/d"], timeout=20)  # blocks nowhere
            self.assertEqual((result.code, result.out), (0, settings(delete=True) + file_line(1, "a-log-with-a-long-name.log", 2)))
            self.assertRegex(result.err, note_re(rb"/D kept a-log-with-a-long-name\.log \(another program holds it open or was still writing "
                                                 rb"to it\): its text will be archived again next run"))
            self.assertEqual([self.q([name, "/D"], timeout=20).code for name in ("p.log", "s.log", "l.log")], [5] * 3)
        self.assertEqual((listing(self.p("Archive")), read(self.p("a-log-with-a-long-name.log"))), (["a-log-with-a-long-name.log"], b"a\n"))

    def test_writers_lose_no_line(self):
        # Here, on tmpfs, and on FUSE mounts, which have no RENAME_NOREPLACE
        # (bindfs) and no hard links either (exFAT). The writer holds the log
        # through the first run, then writes while runs with /D go on; one
        # writer reopens the log for every line.
        import filesystems
        # A passthrough FUSE mount (bindfs) resolves an open by its path once
        # more: an open that found the name just before it went aside fails
        # (ENOENT) there, as against a plain deletion; such a writer opens again.
        writer = ("import sys, time\ndef reopen():\n    while True:\n        try: return open(sys.argv[1], 'a', buffering=1)\n"
                  "        except FileNotFoundError: time.sleep(0.0001)\n"
                  "log = reopen()\nprint(flush=True)\nsys.stdin.readline()\n"
                  "for i in range(2000):\n    if sys.argv[2] == '1': log.close(); log = reopen()\n"
                  "    log.write('line %06d of a service writing its log\\n' % i); time.sleep(0.0005)\n"
                  "log.close()\nopen(sys.argv[1] + '.closed', 'w').close()\n")
        places = (("here", None), ("tmpfs", lambda: filesystems.mount_tmpfs(64 << 20)), ("bindfs", filesystems.mount_bindfs),
                  ("exfat", lambda: filesystems.mount_exfat(256 << 20)))
        for (kind, mount), reopen in ((place, reopen) for place in places for reopen in "01"):
            with self.row(fs=kind, reopen=reopen), self.on(mount):
                log, closed = self.p("app.log"), self.p("app.log.closed")
                process = subprocess.Popen([sys.executable, "-c", writer, log, reopen], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE)
                process.stdout.readline()
                self.assertEqual((self.q(["app.log", "/D"]).code, os.path.exists(log)), (0, True))
                process.stdin.close()
                while not os.path.exists(closed):
                    self.assertIn(self.q(["app.log", "/D"]).code, (0, 5))
                    # A run that ended leaves no aside name, whatever the writer did.
                    self.assertEqual([n for n in os.listdir(self.dir) if n.startswith(".quilbo-")], [])
                    if reopen == "0" and not os.path.exists(closed):  # held the whole run
                        self.assertTrue(os.path.exists(log), "deleted while held open")
                process.wait()
                process.stdout.close()
                self.assertIn(self.q(["app.log", "/D"]).code, (0, 5))
                self.assertEqual(filesystems.settled(self.dir), ["Archive", "app.log.closed"])
                archived = set(read(self.p("Archive/app.log")).split(CRLF))
                self.assertEqual([i for i in range(2000) if b"line %06d of a service writing its log" % i not in archived], [])

    def test_a_file_size_limit_ends_with_the_report(self):
        # 100 KiB: the first 64 KiB transfer fits, the second is taken back to its line end.
        lines = b"".join(b"line %05d\n" % i for i in range(20000))
        self.files({"a.log": lines})
        done = subprocess.run(["bash", "-c", 'ulimit -f 100 && exec "$@"', "-"] + command(["a.log", "/D"]),
                              cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertReport(done.stdout, "EInOutError", "I/O error 223.")
        archived = read(self.p("Archive/a.log"))
        self.assertEqual((read(self.p("a.log")), archived), (lines, copied(lines)[:len(archived)]))
        self.assertEqual((len(archived) > 60 * 1024, archived[-2:]), (True, CRLF))

    @unittest.skipUnless(POSIX and root(), "needs root on Linux to mount")
    def test_a_log_on_a_read_only_file_system_is_kept_with_the_system_reason(self):
        self.files({"ro/a.log": b"a\n"})
        os.mkdir(self.p("mnt"))
        subprocess.run(["mount", "--bind", "-o", "ro", self.p("ro"), self.p("mnt")], check=True)
        try:
            result = run(["a.log", self.p("Archive"), "/D"], self.p("mnt"))
            self.assertEqual((result.code, read(self.p("Archive/a.log")), read(self.p("ro/a.log"))), (0, b"a\r\n", b"a\n"))
            self.assertRegex(result.err, note_re(rb"/D kept a\.log \(Read-only file system\): its text will be archived "
                                                 rb"again next run"))
        finally:
            subprocess.run(["umount", self.p("mnt")], check=True)


class Stops(Case):
    def test_a_stop_deletes_what_it_archived_and_ends_as_the_signal(self):
        # Stopped amid a /D run (Ctrl-C, a systemd timeout, a closed
        # terminal; on Windows Ctrl-C): the logs it printed are archived and
        # gone, the rest untouched, so the next run archives each log once.
        logs = {"log%04d.log" % n: b"line of log %04d\n" % n for n in range(2000 if POSIX else 300)}
        stops = [("QUILBO_FAULTY_STOP_AFTER", "40", None)]
        if POSIX:
            import signal
            import filesystems
            # Each signal here; SIGTERM on tmpfs and on a FUSE mount too.
            stops = [(signal.SIGINT, 200, None), (signal.SIGTERM, 200, None), (signal.SIGHUP, 200, None),
                     (signal.SIGTERM, 200, lambda: filesystems.mount_tmpfs(64 << 20)),
                     (signal.SIGTERM, 200, filesystems.mount_bindfs)] + stops
        for stop, after, mount in stops:
            with self.row(stop=stop, mounted=mount is not None), self.on(mount):
                self.files(logs)
                if isinstance(stop, str):
                    result = self.q(["*.log", "/D"], env={stop: after})
                    code, out, err = result.code, result.out, result.err
                    self.assertIn(code, (-15, 0xC000013A, 0x3A), err)  # wine keeps the low byte
                else:
                    # Unbuffered: what readline reads ahead communicate would not see.
                    with subprocess.Popen(command(["*.log", "/D"]), cwd=self.dir, stdout=subprocess.PIPE,
                                          stderr=subprocess.PIPE, bufsize=0) as run:
                        head = b"".join(run.stdout.readline() for _ in range(after))
                        run.send_signal(stop)
                        out, err = run.communicate()
                        out, code = head + out, run.returncode
                    self.assertEqual(code, -stop, err)
                printed = re.findall(rb"File \d+ (log\d+\.log) ", out)
                self.assertLess(len(printed), len(logs))
                self.assertRegex(err, note_re(rb"stopped by \S.* after %d logs; what they held is archived and they are "
                                              rb"deleted, the rest waits for the next run" % len(printed)))
                self.assertEqual(sorted(listing(self.p("Archive"))), sorted(n.decode() for n in printed))
                self.assertEqual(len((filesystems.settled if mount else listing)(self.dir)), 1 + len(logs) - len(printed))
                self.assertEqual(self.q(["*.log", "/D"]).code, 0)
                names = filesystems.settled(self.dir) if mount else listing(self.dir)
                self.assertEqual((names, tree(self.p("Archive"))),
                                 (["Archive"], {self.p("Archive/" + n): copied(t) for n, t in logs.items()}))
