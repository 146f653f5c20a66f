"""Runs that die or meet. A run ended before each call that may change files
(a kill) or after each flush or change (a power loss): a cut's new file it
left is whole, and the next run leaves all as if nothing died (no byte lost,
no line cut, no leftover, no refusal, no archive with other access than its
log's). One run at a time per archive folder."""

import concurrent.futures
import fcntl
import os
import re
import resource
import select
import signal
import shutil
import subprocess
import tempfile

import filesystems

from harness import (CRASHED, RUN_TIMEOUT, Case, command, copied, listing, note_re, numbered, read, run, tree,
                     typed, windows, write)

WORKLOADS = [  # (what, logs, archives before, other files in the archive folder, arguments)
    ("new archives", {"a.log": numbered(b"a", 3), "b.log": numbered(b"b", 2)}, {}, {}, []),
    ("existing archive, /D", {"a.log": numbered(b"a", 4), "b.log": b""},
     {"a.log": copied(numbered(b"old", 3))}, {}, ["/D"]),
    # Three transfers of 64 KiB: a kill between them leaves whole lines.
    ("long append", {"a.log": numbered(b"a", 4000, 30)}, {"a.log": b"old\r\n"}, {}, []),
    # a.log.tmp is a log too; its archive lies where a.log's cut writes first.
    ("cut beside another log's archive, /D", {"a.log": numbered(b"a", 20), "a.log.tmp": numbered(b"t", 2)},
     {"a.log": copied(numbered(b"old", 30)), "a.log.tmp": copied(numbered(b"tmp", 2))}, {}, ["/T1", "/D"]),
    ("new archive over the limit, a user's .tmp", {"a.log": numbered(b"a", 60)}, {},
     {"a.log.tmp": b"a user's file\r\n"}, ["/T1"]),
]
PATTERN = typed("logs/*.log*")


def after_a_dead_run(now, old, copy, limit):
    """Whether now is old, whole lines from copy's start (the dead run's), then copy, cut to limit."""
    if limit is None or len(now) < limit:
        middle = now[len(old):len(now) - len(copy)]
        return (len(now) >= len(old) + len(copy) and now.startswith(old) and now.endswith(copy)
                and copy.startswith(middle) and middle[-1:] in (b"", b"\n"))
    ends = [0] + [i + 1 for i, byte in enumerate(copy) if byte == 0x0A]
    return any((old + copy[:end] + copy)[-limit:] == now for end in ends)


def left_aside(logs, name, text, archived):
    """name, holding text, as a /D run leaves it in the folder logs when it dies deleting it (archived bytes done)."""
    write(os.path.join(logs, name), text)
    os.makedirs(os.path.join(logs, "Archive"), exist_ok=True)
    aside = ".quilbo-%d-%x-%x-%s" % (archived, os.stat(os.path.join(logs, name)).st_ino,
                                     os.stat(os.path.join(logs, "Archive")).st_ino, name)
    os.rename(os.path.join(logs, name), os.path.join(logs, aside))
    return aside


class CrashPoints(Case):
    def setup(self, folder, logs, archives, others):
        for name, data in logs.items():
            write(os.path.join(folder, "logs", name), data, None if windows() else 0o640)
        for name, data in list(archives.items()) + list(others.items()):
            write(os.path.join(folder, "logs", "Archive", name), data)

    def check(self, folder, label, logs, archives, others, args):
        at = lambda *parts: os.path.join(folder, "logs", *parts)  # noqa: E731
        for name in set(logs) - set(archives):
            if not windows() and os.path.exists(at("Archive", name)):
                self.assertEqual(os.stat(at("Archive", name)).st_mode & 0o777, 0o640, label)
        left, result = any(os.path.exists(at(n)) for n in logs), run([PATTERN] + args, folder)
        self.assertEqual(result.code, 0 if left else 5, "%s: refused: %r" % (label, result.out))
        self.assertEqual(listing(at()), ["Archive"] + ([] if "/D" in args else sorted(logs)), label)
        self.assertEqual(listing(at("Archive")), sorted(set(logs) | set(archives) | set(others)), label)
        limit = next((int(a[2:]) * 1024 for a in args if a.startswith("/T")), None)
        for name, data in others.items():
            self.assertEqual(read(at("Archive", name)), data, label)
        for name, data in logs.items():
            self.assertEqual(read(at(name)) if "/D" not in args else data, data, label)
            now = read(at("Archive", name))
            self.assertTrue(after_a_dead_run(now, archives.get(name, b""), copied(data), limit),
                            "%s: archive %s: %r" % (label, name, now[-200:]))

    def visit(self, workload, label, env, cuts):
        folder = tempfile.mkdtemp(prefix="quilbo-crash-")
        try:
            self.setup(folder, *workload[1:4])
            self.assertEqual(run([PATTERN] + workload[4], folder, env=env).code, CRASHED, workload[0] + label)
            # A cut's new file left behind holds the whole cut, as the clean run made it.
            archive = os.path.join(folder, "logs", "Archive")
            for name in set(listing(archive) if os.path.isdir(archive) else ()) - set().union(*workload[1:4]):
                self.assertEqual(read(os.path.join(archive, name)), cuts.get(re.sub(r"(\.\d+)?\.tmp$", "", name)),
                                 "%s: %s: %s" % (workload[0], label, name))
            self.check(folder, "%s: %s" % (workload[0], label), *workload[1:])
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def test_every_crash_point(self):
        states = []
        for workload in WORKLOADS:
            what, logs, archives, others, args = workload
            self.fresh()
            self.setup(self.dir, logs, archives, others)
            clean = run([PATTERN] + args, self.dir, env={})
            self.assertEqual(clean.code, 0, (what, clean.out))
            cuts = {name: read(self.p("logs/Archive/" + name)) for name in logs}
            # Between two calls that may change files a crash leaves the same
            # files: one crash per such call covers every state.
            states += [(workload, "crash before call %d" % k, {"QUILBO_FAULTY_CRASH_BEFORE": str(k)}, cuts)
                       for k in [1] + [n + 1 for n in clean.changes if n < clean.calls]]
            # Windows has no unnamed files: a power loss right after a cut's
            # new file got its name may leave it empty there.
            losses = sorted(set(clean.flushes) | set(clean.changes if not windows() else ()))
            states += [(workload, "power loss after call %d" % k, {"QUILBO_FAULTY_POWER_LOSS_AFTER": str(k)}, cuts)
                       for k in losses]
            self.check(self.dir, what + ": clean run", *workload[1:])
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            for done in [pool.submit(self.visit, *state) for state in states]:
                done.result()

    def test_every_crash_point_of_a_leftover(self):
        # A leftover finished by a /D run that dies at any step: the next
        # run leaves nothing but the archive, which holds the added lines
        # (whole, twice at most).
        if windows():
            self.skipTest("Windows deletes without a move aside")
        archived, added, log = numbered(b"a", 3), numbered(b"w", 5), numbered(b"b", 2)

        def setup(folder):
            write(os.path.join(folder, "logs", "Archive", "app.log"), copied(archived))
            write(os.path.join(folder, "logs", "b.log"), log)
            left_aside(os.path.join(folder, "logs"), "app.log", archived + added, len(archived))

        def check(folder, label):
            self.assertIn(run([PATTERN, "/D"], folder).code, (0, 5), label)
            self.assertEqual(listing(os.path.join(folder, "logs")), ["Archive"], label)
            now = read(os.path.join(folder, "logs", "Archive", "app.log"))
            self.assertTrue(after_a_dead_run(now, copied(archived), copied(added), None), (label, now))
            self.assertIn(read(os.path.join(folder, "logs", "Archive", "b.log")), (copied(log), copied(log) * 2), label)

        setup(self.dir)
        clean = run([PATTERN, "/D"], self.dir, env={})
        self.assertEqual(clean.code, 0)
        check(self.dir, "clean run")
        for k in [1] + [n + 1 for n in clean.changes if n < clean.calls]:
            with self.row(crash_before=k):
                setup(self.dir)
                self.assertEqual(run([PATTERN, "/D"], self.dir, env={"QUILBO_FAULTY_CRASH_BEFORE": str(k)}).code, CRASHED)
                check(self.dir, "crash before call %d" % k)

    def test_a_run_killed_while_deleting_many_logs(self):
        # A /D run over three groups of logs (the open-file limit makes them
        # 100 logs each; one is flushed while the next is copied) dies at
        # chosen calls, or inside a group's deletion: the next run leaves only
        # the archive folder, and every log's text is archived, twice at most.
        limit = {} if windows() else {"preexec_fn": lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (264, 264))}
        logs = {"log%04d.log" % n: numbered(b"n%04d" % n, 1 + n % 3) for n in range(300)}
        self.files(logs)
        clean = self.q(["*.log", "/D"], env={}, **limit)
        self.assertGreaterEqual(len(clean.flushes), 1 if windows() else 3)
        self.assertEqual((clean.code, listing(self.dir)), (0, ["Archive"]))
        points = [("QUILBO_FAULTY_CRASH_BEFORE", k) for k in [clean.changes[len(clean.changes) * i // 4] + 1
                                                              for i in range(4)] + [f + d for f in clean.flushes for d in (0, 1)]]
        points += [("QUILBO_FAULTY_POWER_LOSS_AFTER", f) for f in clean.flushes]
        # Inside the first group's deletion: half its logs gone aside, or all
        # aside and half of them removed.
        deleting = [n for n in clean.changes if n > clean.flushes[0]]
        inside = [] if windows() else [deleting[50], deleting[150]]
        points += [("QUILBO_FAULTY_CRASH_BEFORE", k) for k in inside]
        for name, value in points:
            with self.row(name=name, value=value):
                self.files(logs)
                self.assertEqual(self.q(["*.log", "/D"], env={name: str(value)}, **limit).code, CRASHED)
                asides = [n for n in os.listdir(self.dir) if n.startswith(".quilbo-")]
                self.assertTrue(asides or value not in inside, "no log went aside")
                self.assertIn(self.q(["*.log", "/D"]).code, (0, 5))
                self.assertEqual(listing(self.dir), ["Archive"])
                for name, text in logs.items():
                    self.assertIn(read(self.p("Archive/" + name)), (copied(text), copied(text) * 2), name)

    def test_a_run_killed_for_real_while_deleting_many_logs(self):
        # The real program, its flushes and deletions on their own thread
        # (groups of 100 logs), killed after the nth log's line: the next
        # run leaves only the archive folder, every log archived.
        if windows():
            self.skipTest("a kill under wine ends wine's own process, not the program's")
        limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (264, 264))
        logs = {"log%04d.log" % n: numbered(b"n%04d" % n, 1 + n % 3) for n in range(1200)}
        # Here, on tmpfs, and on a FUSE mount without RENAME_NOREPLACE.
        for nth, mount in ((150, None), (520, None), (1000, None), (520, lambda: filesystems.mount_tmpfs(64 << 20)),
                           (520, filesystems.mount_bindfs)):
            with self.row(killed_after=nth, mounted=mount is not None), self.on(mount):
                self.files(logs)
                # A one-page pipe: the program runs at most about 120 lines ahead.
                reader, writer = os.pipe()
                fcntl.fcntl(writer, fcntl.F_SETPIPE_SZ, 4096)
                with os.fdopen(reader, "rb") as lines, subprocess.Popen(
                        command(["*.log", "/D"]), cwd=self.dir, stdout=writer, preexec_fn=limit) as killed:
                    os.close(writer)
                    for _ in range(nth + 2):  # the settings' two lines, then the logs'
                        lines.readline()
                    killed.kill()
                # More lines were left than the pipe holds: the kill came before the end.
                self.assertEqual(killed.returncode, -signal.SIGKILL)
                self.assertIn(self.q(["*.log", "/D"]).code, (0, 5))
                self.assertEqual(filesystems.settled(self.dir), ["Archive"])
                for name, text in logs.items():
                    self.assertIn(read(self.p("Archive/" + name)), (copied(text), copied(text) * 2), name)

    def test_leftovers_of_a_dead_run_are_proven_by_their_names(self):
        if windows():
            self.skipTest("Windows deletes without a move aside")
        archived, added = b"first line\nsecond line\n", b"a writer's line\n" * 80

        # Finished only by a run with /D into its own archive folder, /T applied.
        for args, code, archive, stays in ((["*.log"], 5, copied(archived), True),
                                           (["*.log", "other", "/D"], 5, copied(archived), True),
                                           (["*.log", "/D"], 5, copied(archived + added), False),
                                           (["*.log", "/D", "/T1"], 5, copied(archived + added)[-1024:], False)):
            with self.row(args=args):
                self.files({"Archive/app.log": copied(archived)})
                aside = left_aside(self.dir, "app.log", archived + added, len(archived))
                os.mkdir(self.p("other"))
                result = self.q(args)
                self.assertEqual((result.code, result.out.count(b"File ")), (code, 0), result.out)
                self.assertEqual(read(self.p("Archive/app.log")), archive)
                self.assertEqual(os.path.exists(self.p(aside)), stays)
                self.assertEqual(os.listdir(self.p("other")), [])
                self.assertRegex(result.err, note_re(rb".+ holds app\.log, left aside by a run with /D that stopped; "
                                                     rb"the next run with /D finishes it") if args == ["*.log"] else b"\\A\\Z")
        # What only looks like one is a log like any other: never cut short,
        # never deleted without /D; a link is archived as the log it leads to.
        self.fresh()
        self.files({".quilbo-12-x.log": b"user line one\nuser line two\n", "x.log": b"real log\n", "t.txt": b"t\n"})
        os.symlink("t.txt", self.p(".quilbo-1-%x-%x-l.log" % (os.stat(self.p("t.txt")).st_ino, os.stat(self.dir).st_ino)))
        self.assertEqual(self.q(["x.log"]).code, 0)
        self.assertEqual((read(self.p("Archive/x.log")), read(self.p(".quilbo-12-x.log"))),
                         (b"real log\r\n", b"user line one\nuser line two\n"))
        self.assertEqual(self.q(["*.log", "/D"]).code, 0)
        self.assertEqual((listing(self.dir), read(self.p("Archive/.quilbo-12-x.log"))),
                         (["Archive", "t.txt"], b"user line one\r\nuser line two\r\n"))
        self.assertEqual(sorted(set(tree(self.p("Archive")).values())),
                         sorted({b"real log\r\nreal log\r\n", b"t\r\n", b"user line one\r\nuser line two\r\n"}))


class Lock(Case):
    def test_a_second_run_waits_for_the_first(self):
        logs = {"%s%03d.log" % ("n" * 150, i): b"line %03d\n" % i for i in range(600)}  # output over a pipe's room
        for other, delete in (("alias", False), ("keep", True)):
            self.fresh()  # a second name of the folder is the same lock: wine's Z: drive, a link
            other = "Z:" + self.p("keep").replace("/", "\\") if windows() and not delete else other
            self.files(logs)
            os.mkdir(self.p("keep"))
            os.symlink("keep", self.p("alias")) if not windows() else None
            runs = [subprocess.Popen(command(["*.log", folder] + ["/D"] * delete), cwd=self.dir, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE) for folder in ("keep",)]
            while not os.listdir(self.p("keep")):  # the first run has the lock, its unread output fills the pipe
                self.assertIsNone(runs[0].poll(), "the first run ended before it blocked")
                select.select([], [], [], 0.01)
            runs.append(subprocess.Popen(command(["*.log", other] + ["/D"] * delete), cwd=self.dir,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE))
            ready = select.select([runs[1].stderr], [], [], RUN_TIMEOUT)[0]
            self.assertRegex(runs[1].stderr.readline() if ready else b"", note_re(
                b"waiting for another run that archives into " + other.encode().replace(b"\\", b"\\\\")))
            self.assertIsNone(runs[0].poll(), "the first run ended: nothing was waited for")
            (out, _), (rest, err) = (run.communicate(timeout=RUN_TIMEOUT) for run in runs)
            # Whole copies in turn; with /D the second run finds nothing left.
            self.assertEqual((runs[0].returncode, out.count(b"\r\n")), (0, 601 + delete))
            self.assertEqual((runs[1].returncode, err, rest.count(b"\r\n")), (5, b"", 2) if delete else (0, b"", 601))
            for name, text in logs.items():
                self.assertEqual(read(self.p("keep/" + name)), copied(text) * (2 - delete))
