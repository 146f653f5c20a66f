"""The job itself: the walk, the append, the cut, and every failure that ends a
run with the report while nothing archived or logged is lost."""

import os
import re

from filesystems import mount_tmpfs
from harness import Case, copied, file_line, listing, note_re, numbered, read, root, settings, typed, windows, write

POSIX, WINDOWS = not windows(), windows()


class Archive(Case):
    def test_walk_and_append(self):
        self.files({"logs/a.log": b"one\r\n", "logs/b.log": b"two\ntwo\n", "logs/old.log/c.log": b"in\n"})
        lines = self.q([typed("logs/*.log"), "bk"]).out.split(b"\r\n")
        self.assertEqual((lines[0], lines[-1]), (b"Archive folder : bk", b""))
        names = [re.fullmatch(rb"File %d logs[\\/](\w\.log) \((\d+) bytes\)" % i, line).groups()
                 for i, line in enumerate(lines[1:-1], 1)]
        self.assertEqual(sorted(names), [(b"a.log", b"5"), (b"b.log", b"8")])  # no folder
        self.assertEqual((listing(self.p("logs/bk")), read(self.p("logs/bk/b.log"))), (["a.log", "b.log"], b"two\r\n" * 2))
        for pattern, note in (("*.none", None), (typed("logs/old.*"), None), ("nosuch/*.log", b"nosuch: .+"),
                              ("nosuch/app.log", b"nosuch: .+"), ("logs/b.log/*.log", rb"logs[/\\]b\.log: .+")):
            result = self.q([pattern, "/t5", "/d"])  # nothing matched, only folders, or a folder not read
            self.assertEqual((result.code, result.out), (5, settings(kb=5, delete=True)))
            self.assertRegex(result.err, note_re(b"cannot read the folder " + note) if note else b"\\A\\Z")
        marker = b"x" * 200 + b"\x1aold junk"
        rows = [(b"a\nb", b"old\r\n", b"old\r\na\r\nb\r\n"), (b"", None, b""), (b"new\r\n", marker, b"x" * 200 + b"new\r\n"),
                (b"", marker, b"x" * 200)]
        for log, before, after in rows:
            with self.row(log=log[:20], before=before and before[:20]):
                self.files({"a.log": log, **({"Archive/a.log": before} if before is not None else {})})
                result = self.q(["a.log"])
                self.assertEqual(result.out, settings() + file_line(1, "a.log", len(log)))
                self.assertEqual((result.code, read(self.p("Archive/a.log")), read(self.p("a.log"))), (0, after, log))
        # /D deletes only what it archived: a log with more than end markers
        # after its first one (a compressed file the pattern matched) stays.
        self.files({"a.log": b"a\n", "b.log": b"b\x1alost\n", "c.log": b"ro\n", "d.log": b"dos\r\n\x1a\x1a"})
        os.chmod(self.p("c.log"), 0o444)
        result = self.q(["*.log", "/D"])
        self.assertEqual((result.code, listing(self.dir)), (0, ["Archive", "b.log", "c.log"]))
        notes = sorted(result.err.splitlines(keepends=True))
        self.assertEqual(len(notes), 2, result.err)
        self.assertRegex(notes[0], note_re(rb"/D kept b\.log: it holds bytes after its end-of-text mark \(0x1A\), "
                                           rb"which are not archived \(a binary or compressed file\?\)"))
        self.assertRegex(notes[1], note_re(rb"/D kept c\.log \(it is read-only\): its text will be archived again next run"))
        self.assertEqual([read(self.p("Archive/" + n)) for n in ("b.log", "c.log", "d.log")], [b"b\r\n", b"ro\r\n", b"dos\r\n"])

    def test_failures_keep_the_log_and_the_archive(self):
        many = b"".join(b"%07d a line of the log\n" % i for i in range(10000))
        first, old = copied(many)[:65536], b"old\r\n"
        lies = b"a.log lies behind a link of another user; not followed."
        deeper = rb"missing[/\\]deeper"
        rows = [  # (log, archive before, arguments, fault, exit code, report class, message or a part, archive after)
            (b"k\n", None, [typed("missing/deeper")], None, 1, "EInOutError", "Invalid filename.", None,
             b"cannot create " + deeper + rb"[/\\]a\.log: .+ \(the folder " + deeper + b" could not be made: .+\\)"),
            # An archive that looks missing is created, never emptied.
            (b"k\n", old, [], ("createFileAt", 1, 1, 2), 1, "EInOutError", "I/O error 80.", old),
            (b"k\n", old, [], ("allocate", 1, 0, 8), 1, "EOutOfMemory", "Out of memory.", old),
            # The second 64 KiB transfer finds the disk full: the first ended at a line end.
            (many, old, [], ("writeFile", 5, 1, 112), 1, "EInOutError", "I/O error 112.",
             old + first[:first.rindex(b"\n") + 1]),
            (b"k\n", lambda p: os.chmod(p.replace("Archive" + os.sep, ""), 0o444), ["."], None, 1, "Exception",
             b"is the log file itself", None),  # also when it cannot be opened for writing
            (b"k\n", None, ["{up}"], None, 1, "Exception", b"is the log file itself", None),
            (b"k\n", None, ["/T1"], ("createFileAsAt", 1, 0, 448), 1, "Exception", lies, None),
            (b"k\n", None, [], ("createFileAsAt", 1, 0, 448), 1, "Exception", lies, None),
            (b"k\n", os.makedirs, [], None, 1, "EInOutError", "File access denied.", None),
            # The log's open comes first: gone, its folder gone, a link loop,
            # another user's link: no archive, no word; anything else ends.
            *[(b"k\n", None, [], ("openFoundAt", 1, 1, error), 0, None, None, None) for error in (2, 3, 1921, 448)],
            (b"k\n", None, [], ("openFoundAt", 1, 1, 32), 1, "EInOutError", "I/O error 32.", None),
            (b"k\n", None, [], ("lockFolder", 1, 0, 5), 0, None, None, b"k\r\n"),  # used unlocked
            (b"k\n", None, [], ("openToDeleteAt" if WINDOWS else "takeLease", 1, 1, 32), 0, None, None, b"k\r\n",
             rb"/D kept a\.log \(another program holds it open or was still writing to it\): .+")]
        if POSIX:  # a FIFO never blocks the run
            rows.append((b"k\n", os.mkfifo, [], None, 1, "EInOutError", None, None))
        if not (WINDOWS and root()):  # wine run by root opens read-only files for writing
            rows.append((b"k\n", lambda p: write(p, old, 0o444), [], None, 1, "EInOutError", "File access denied.", old,
                         rb"cannot append to Archive[/\\]a\.log: .+"))
        for log, before, args, fault, code, class_name, message, after, note in (r + (None,) * (9 - len(r)) for r in rows):
            with self.row(args=args, fault=fault, before=before):
                args = [a.replace("{up}", typed("../" + os.path.basename(self.dir))) for a in args]
                self.files({"a.log": log, "Archive/x": b""})
                write(self.p("Archive/a.log"), before) if isinstance(before, bytes) else before and before(
                    self.p("Archive/a.log"))
                result = self.q(["a.log", "/d"] + args, fault, timeout=60)
                self.assertEqual(result.code, code, result.out)
                if class_name:
                    folder = args[0] if args and args[0][0] != "/" else "Archive"
                    self.assertReport(result.out, class_name, message if isinstance(message, str) else None,
                                      settings(folder, ("/T1" in args) * 1, True) + file_line(1, "a.log", len(log)))
                    self.assertIn(message if isinstance(message, bytes) else b"", result.out)
                lock = fault and fault[0] == "lockFolder"
                self.assertEqual(read(self.p("a.log")) if not lock else os.path.exists(self.p("a.log")), log if not lock else False)
                archive = self.p("Archive/a.log")
                self.assertEqual(read(archive) if os.path.isfile(archive) else None, after)
                if note:
                    self.assertRegex(result.err, note_re(note))


class Cut(Case):
    def test_keeps_exactly_the_last_kilobytes(self):
        data, old = bytes(range(256)) * 12, b"".join(b"old %04d\r\n" % i for i in range(300))
        # The limit's edges, every byte value, end markers (where a cut falls: the unit tests).
        rows = [(data, b"", 1), (data[:2048], b"", 2), (data[:2049], b"", 2), (old + b"\x1a end", b"a\rb\r\n\nc", 1),
                (old, b"cut\n\x1a" + b"after\n" * 999, 1)]
        for archive, log, kb in rows:
            with self.row(log=log[:12], kb=kb):
                self.files({"a.log": log, "Archive/a.log": archive})
                self.assertEqual(self.q(["a.log", "/T%d" % kb]).code, 0)
                marker = archive.find(b"\x1a", max(len(archive) - 128, 0))
                kept = (archive[:marker if marker >= 0 else None] + copied(log))[-kb * 1024:]
                self.assertEqual((read(self.p("Archive/a.log")), listing(self.p("Archive"))), (kept, ["a.log"]))
        self.files({"Archive/a.log": old, "a.log": b"x\n" * 1000})  # without unnamed files (exFAT): the same cut
        self.assertEqual(self.q(["a.log", "/T1"], ("createUnnamedAt", 1, 0, 50)).code, 0)
        self.assertEqual((read(self.p("Archive/a.log")), listing(self.p("Archive"))), ((old + b"x\r\n" * 1000)[-1024:], ["a.log"]))
        self.files({"Archive/a.log": b"z" * 1024, "a.log": b""})  # within the limit no new file is made
        self.assertEqual(self.q(["a.log", "/T1"], ("createFileAsAt", 1, 0, 5)).code, 0)
        tail = bytes(range(256)) * 8  # an archive over 4 GiB, sparse
        with open(self.p("Archive/a.log"), "wb") as f:
            f.truncate((4 << 30) + 5000 - len(tail))
            f.seek(0, 2)
            f.write(tail)
        self.files({"a.log": b"end\n"})
        self.assertEqual(self.q(["a.log", "/t2"]).code, 0)
        self.assertEqual((read(self.p("Archive/a.log")), listing(self.p("Archive"))), ((tail + b"end\r\n")[-2048:], ["a.log"]))

    def test_a_small_disk(self):
        with mount_tmpfs(4 << 20) as disk:  # a cut writes about the limit: appending 12 MB first would not fit
            log = b"".join(b"line %08d of a long log\n" % i for i in range(480000))
            self.files({"a.log": log})
            write(os.path.join(disk, "a.log"), b"old\r\n" * 1000)
            self.assertEqual(self.q(["a.log", typed(disk), "/D", "/T1024"]).code, 0)
            kept = copied(log)[-1024 * 1024:]
            self.assertEqual((listing(disk), read(os.path.join(disk, "a.log"))), (["a.log"], kept))
            write(os.path.join(disk, "b"), b"f" * ((3 << 20) - (512 << 10)))  # room for a part of a cut's file
            self.files({"a.log": b"n\n"})
            self.assertReport(self.q(["a.log", typed(disk), "/D", "/T1024"]).out, "EInOutError", "I/O error 112.")
            self.assertEqual((listing(disk), read(os.path.join(disk, "a.log")), read(self.p("a.log"))),
                             (["a.log", "b"], kept, b"n\n"))

    def test_a_log_goes_only_once_its_archive_is_on_disk(self):
        log = b"line\n" * 10
        for before, extra, service, error in [(b, e, s, r) for r in (5, 0) for b, e, s in (
                (None, [], "flushFilesAt"), (b"old\r\n", [], "flushFilesAt"), (b"x" * 3000, ["/t1"], "flushFile"),
                (b"x" * 3000, ["/t1"], "flushFolder")) + ((b"x" * 3000, ["/t1"], "nameFileAt"),) * POSIX]:
            with self.row(service=service, before=before and before[:5], error=error):
                self.files({"a.log": log, **({"Archive/a.log": before} if before else {})})
                result = self.q(["a.log", "/d"] + extra, (service, 1, 0, error))
                self.assertReport(result.out, "EInOutError", "File access denied." if error else "I/O error 31.")
                # A cut's new file not on the disk (or without a name) never replaced the archive.
                after = before if service in ("flushFile", "nameFileAt") else ((before or b"") + copied(log))[-1024 if extra else 0:]
                self.assertEqual((read(self.p("a.log")), read(self.p("Archive/a.log"))), (log, after))

    def test_a_failure_ends_the_run_after_deleting_what_it_archived(self):
        # The logs archived before the failing one go, as they would have
        # gone one by one: the next run must not archive them again.
        logs = {"%s.log" % n: numbered(n.encode(), 2) for n in "abcd"}
        self.files(logs)
        result = self.q(["*.log", "/D"], ("readFile", 3, 1, 5))
        self.assertReport(result.out, "EInOutError", "File access denied.")
        walked = [name.decode() for name in re.findall(rb"File \d+ (\w\.log) ", result.out)]
        self.assertGreaterEqual(len(walked), 2)
        for name in walked[:-1]:
            self.assertEqual((os.path.exists(self.p(name)), read(self.p("Archive/" + name))), (False, copied(logs[name])))
        self.assertEqual({name: read(self.p(name)) for name in logs if name not in walked[:-1]},
                         {name: text for name, text in logs.items() if name not in walked[:-1]})
