"""The job itself: the walk, the append, the cut, and every failure that ends a
run with the report while nothing archived or logged is lost."""

import os
import re
import subprocess
import unittest

from harness import (Case, copied, file_line, listing, note_re, read, root, settings, typed,
                     windows, write)

POSIX = not windows()
WINDOWS = windows()


class Archive(Case):
    def test_walk_numbers_lines_in_search_order(self):
        self.files({"logs/a.log": b"one\r\n", "logs/b.log": b"two\ntwo\n", "logs/old.log/c.log": b"in\n"})
        result = self.q([typed("logs/*.log"), "backup"])
        lines = result.out.split(b"\r\n")
        self.assertEqual((result.code, lines[0], lines[-1]), (0, b"Archive folder : backup", b""))
        names = [re.fullmatch(rb"File %d logs[\\/](\w\.log) \((\d+) bytes\)" % i, line).groups()
                 for i, line in enumerate(lines[1:-1], 1)]
        self.assertEqual(sorted(names), [(b"a.log", b"5"), (b"b.log", b"8")])
        self.assertEqual(listing(self.p("logs/backup")), ["a.log", "b.log"])  # no folder
        self.assertEqual(read(self.p("logs/backup/b.log")), b"two\r\ntwo\r\n")
        # Nothing matched, or only folders: the settings alone, exit code 5.
        for pattern in ("*.none", typed("logs/old.*")):
            result = self.q([pattern, "/t5", "/d"])
            self.assertEqual((result.code, result.out), (5, settings(kb=5, delete=True)))
        self.assertTrue(os.path.isdir(self.p("Archive")))

    def test_append_and_delete(self):
        marker = b"x" * 200 + b"\x1aold junk"
        rows = [(b"a\r\nb\r\n", None, b"a\r\nb\r\n"), (b"a\nb", b"old\r\n", b"old\r\na\r\nb\r\n"),
                (b"a\rb\r\n", None, b"ab\r\n"), (b"new\r\n", marker, b"x" * 200 + b"new\r\n"),
                (b"", marker, b"x" * 200), (b"", None, b""), (b"text\x1atrailing\r\n", None, b"text\r\n"),
                (b"\x00\xff\x80 bytes\r\n", None, b"\x00\xff\x80 bytes\r\n"),
                (b"z\r\n", b"\x1a" + b"y" * 300, b"\x1a" + b"y" * 300 + b"z\r\n")]
        for log, before, after in rows:
            with self.subTest(log=log[:20], before=before and before[:20]):
                self.fresh()
                write(self.p("a.log"), log)
                if before is not None:
                    write(self.p("Archive/a.log"), before)
                result = self.q(["a.log"])
                self.assertEqual(result.out, settings() + file_line(1, "a.log", len(log)))
                self.assertEqual((result.code, read(self.p("Archive/a.log")), read(self.p("a.log"))),
                                 (0, after, log))
        self.q(["a.log"])  # the same log again, without /D
        self.assertEqual(read(self.p("Archive/a.log")), b"\x1a" + b"y" * 300 + b"z\r\n" * 2)
        self.files({"a.log": b"a\n", "b.log": b"b\x1alost\n", "c.log": b"ro\n"})
        os.chmod(self.p("c.log"), 0o444)
        result = self.q(["*.log", "/D"])
        self.assertEqual((result.code, listing(self.dir)), (0, ["Archive", "c.log"]))
        self.assertRegex(result.err, note_re(rb"/D kept c\.log \(it is read-only\): "
                                             rb"its text will be archived again next run"))
        self.assertEqual([read(self.p("Archive/" + n)) for n in ("b.log", "c.log")],
                         [b"b\r\n", b"ro\r\n"])

    def test_failures_keep_the_log_and_the_archive(self):
        many = b"".join(b"%07d a line of the log\n" % i for i in range(10000))
        first = copied(many)[:65536]
        old, folder = b"old\r\n", lambda p: os.makedirs(p)  # noqa: E731
        rows = [
            # (log, archive before, arguments, fault, exit code, report class,
            #  message (bytes: a part of it), note, archive after)
            (b"k\n", None, [typed("missing/deeper")], None, 1, "EInOutError", "Invalid filename.",
             rb"cannot create missing[/\\]deeper[/\\]a\.log: .+ \(the folder missing[/\\]deeper "
             rb"could not be made: .+\)", None),
            (b"k\n", old, [], ("lookupFileAt", 1, False, 5), 1, "EInOutError", "I/O error 80.", None, old),
            (b"k\n", old, [], ("allocate", 1, False, 8), 1, "EOutOfMemory", "Out of memory.", None, old),
            # The second 64 KiB transfer finds the disk full: the first one
            # ended at its last line end.
            (many, old, [], ("writeFile", 5, True, 112), 1, "EInOutError", "I/O error 112.", None,
             old + first[:first.rindex(b"\n") + 1]),
            (b"k\n", None, ["."], None, 1, "Exception", b"is the log file itself", None, None),
            (b"k\n", None, ["{up}"], None, 1, "Exception", b"is the log file itself", None, None),
            (b"k\n", None, ["/T1"], ("createFileAsAt", 1, False, 448), 1, "Exception",
             b"a.log lies behind a link of another user; not followed.", None, None),
            (b"k\n", None, [], ("createFileAsAt", 1, False, 448), 1, "Exception", b"lies behind", None, None),
            (b"k\n", folder, [], None, 1, "EInOutError", "File access denied.", None, None),
            # The log's open is the first: gone, its folder gone, a link loop,
            # another user's link: no archive, no word; anything else ends.
            (b"k\n", None, [], ("createFileAt", 1, True, 2), 0, None, None, None, None),
            (b"k\n", None, [], ("createFileAt", 1, True, 3), 0, None, None, None, None),
            (b"k\n", None, [], ("createFileAt", 1, True, 1921), 0, None, None, None, None),
            (b"k\n", None, [], ("createFileAt", 1, True, 448), 0, None, None, None, None),
            (b"k\n", None, [], ("createFileAt", 1, True, 32), 1, "EInOutError", "I/O error 32.", None, None),
            (b"k\n", None, [], ("lockFolder", 1, False, 5), 0, None, None, None, b"k\r\n"),
        ]
        if POSIX:  # a FIFO never blocks the run
            rows.append((b"k\n", os.mkfifo, [], None, 1, "EInOutError", None, None, None))
        if not (WINDOWS and root()):  # wine run by root opens read-only files for writing
            rows.append((b"k\n", lambda p: write(p, old, 0o444), [], None, 1, "EInOutError",
                         "File access denied.", rb"cannot append to Archive[/\\]a\.log: .+", old))
        for log, before, args, fault, code, class_name, message, note, after in rows:
            with self.subTest(args=args, fault=fault, before=before):
                self.fresh()
                args = [a.replace("{up}", typed("../" + os.path.basename(self.dir))) for a in args]
                write(self.p("a.log"), log)
                os.makedirs(self.p("Archive"))
                if before is not None:
                    write(self.p("Archive/a.log"), before) if isinstance(before, bytes) else before(
                        self.p("Archive/a.log"))
                result = self.q(["a.log", "/d"] + args, fault)
                self.assertEqual(result.code, code, result.out)
                if class_name:
                    shown = args[0] if args and args[0][0] != "/" else "Archive"
                    self.assertReport(result.out, class_name, message if isinstance(message, str) else None,
                                      settings(shown, 1 if "/T1" in args else 0, True) +
                                      file_line(1, "a.log", len(log)))
                    self.assertIn(message if isinstance(message, bytes) else b"", result.out)
                if note:
                    self.assertRegex(result.err, note_re(note))
                kept = os.path.exists(self.p("a.log"))
                self.assertEqual(read(self.p("a.log")) if kept else None, None if fault and fault[0] == "lockFolder" else log)
                archive = self.p("Archive/a.log")
                self.assertEqual(read(archive) if os.path.isfile(archive) else None, after)

class Cut(Case):
    def test_keeps_exactly_the_last_kilobytes(self):
        data, old = bytes(range(256)) * 12, b"".join(b"old %04d\r\n" % i for i in range(300))
        rows = [(data, b"", 1), (data[:2048], b"", 2), (data[:2049], b"", 2), (old, b"x\n" * 100, 1),
                (old, b"new\r\n" * 5000, 1), (old + b"\x1a end", b"a\rb\r\n\nc", 1), (old, b"no end", 2),
                (None, b"y" * 70000 + b"\n" + b"z" * 3000, 64), (old, b"cut\n\x1a" + b"after\n" * 999, 1)]
        for archive, log, kb in rows:
            with self.subTest(log=log[:12], kb=kb):
                self.fresh()
                write(self.p("a.log"), log)
                if archive is not None:
                    write(self.p("Archive/a.log"), archive)
                self.assertEqual(self.q(["a.log", "/T%d" % kb]).code, 0)
                archive = archive or b""
                marker = archive.find(b"\x1a", max(len(archive) - 128, 0))
                kept = (archive[:marker if marker >= 0 else None] + copied(log))[-kb * 1024:]
                self.assertEqual((read(self.p("Archive/a.log")), listing(self.p("Archive"))),
                                 (kept, ["a.log"]))
        # Within the limit no new file is made: a run that tried would fail.
        self.files({"Archive/a.log": b"z" * 1024, "a.log": b""})
        self.assertEqual(self.q(["a.log", "/T1"], ("createFileAsAt", 1, False, 5)).code, 0)

    def test_archive_over_four_gigabytes(self):
        tail = bytes(range(256)) * 8
        os.mkdir(self.p("Archive"))
        with open(self.p("Archive/a.log"), "wb") as f:  # sparse
            f.truncate((4 << 30) + 5000 - len(tail))
            f.seek(0, 2)
            f.write(tail)
        write(self.p("a.log"), b"end\n")
        self.assertEqual(self.q(["a.log", "/t2"]).code, 0)
        self.assertEqual(read(self.p("Archive/a.log")), (tail + b"end\r\n")[-2048:])
        self.assertEqual(listing(self.p("Archive")), ["a.log"])

    def test_a_tmp_that_is_not_the_cuts_own(self):
        # a.log.tmp is a log like any other; its archive lies where a cut of
        # a.log would write first. Either order, with and without /T.
        texts = {"a.log.tmp": b"T1\n", "a.log": b"A1\n" * 600}
        for order in (("a.log.tmp", "a.log"), ("a.log", "a.log.tmp")):
            for args in ([], ["/T1"]):
                self.fresh()
                for name in order:
                    write(self.p(name), texts[name])
                    self.assertEqual(self.q([name, "/D"] + args).code, 0)
                self.assertEqual(read(self.p("Archive/a.log")), copied(texts["a.log"])[-1024 if args else 0:])
                self.assertEqual(read(self.p("Archive/a.log.tmp")), b"T1\r\n")
        whole = (b"q" * 2000 + b"new\r\n")
        rows = [(b"", ["/T1"], whole[-1024:]), (b"user's\r\n", [], whole), (b"user's\r\n", ["/T1"], whole[-1024:]),
                (b"user's\r\n", ["/T4"], whole), (whole[-1024:][:300], ["/T1"], whole[-1024:])]  # last: ours
        for tmp, args, after in rows:
            with self.subTest(tmp=tmp[:10], args=args):
                self.fresh()
                self.files({"Archive/a.log": b"q" * 2000, "Archive/a.log.tmp": tmp,
                            "Archive/a.log.1.tmp": b"another\r\n", "a.log": b"new\n"})
                self.assertEqual([self.q(["a.log", "/D"] + args).code for _ in "12"], [0, 5])
                ours = tmp.startswith(b"q")
                self.assertEqual(listing(self.p("Archive")), ["a.log", "a.log.1.tmp"] + ["a.log.tmp"] * (not ours))
                self.assertEqual([read(self.p("Archive/" + n)) for n in listing(self.p("Archive"))],
                                 [after, b"another\r\n"] + [tmp] * (not ours))

    def test_names_with_no_room_for_the_tmp(self):
        # Linux names of 255 bytes; Windows paths of 259 characters.
        for name in ["n" * 248 + ".log", "n" * 251 + ".log"] if POSIX else ["n" * 246 + ".log"]:
            self.fresh()
            write(self.p("Archive/" + name), b"a" * 3000)
            for args in ([], ["/T1"]):
                write(self.p(name), b"line\n")
                self.assertEqual(self.q(["*.log"] + args).code, 0)
            self.assertEqual(read(self.p("Archive/" + name)), (b"a" * 3000 + b"line\r\n" * 2)[-1024:])
            self.assertEqual(os.listdir(self.p("Archive")), [name])

    @unittest.skipIf(POSIX, "a Linux archive folder always leaves room for a .tmp")
    def test_an_archive_folder_with_no_room_for_the_tmp(self):
        # Archive paths of 257 characters: the archive fits, no .tmp does.
        # Without /T nothing needs one; with /T the run is refused first.
        folder, archives = "d" * 200, "e" * 54
        write(self.p(folder + "/a"), b"line\n")
        self.assertEqual(self.q([folder + "\\a", archives]).code, 0)
        self.assertEqual(read(self.p(folder + "/" + archives + "/a")), b"line\r\n")
        result = self.q([folder + "\\a", archives, "/T1", "/D"])
        self.assertReport(result.out, "EInOutError", "I/O error 206.")
        self.assertEqual((read(self.p(folder + "/a")), read(self.p(folder + "/" + archives + "/a"))),
                         (b"line\n", b"line\r\n"))

    def test_a_small_disk(self):
        # A cut writes about the limit: appending 12 MB first would not fit.
        disk = self.p("disk")
        os.mkdir(disk)
        if not (POSIX and root()) or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs",
                                                     disk], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("mounting a small file system needs root on Linux")
        try:
            log = b"".join(b"line %08d of a long log\n" % i for i in range(480000))
            self.files({"a.log": log, "disk/a.log": b"old\r\n" * 1000})
            self.assertEqual(self.q(["a.log", "disk", "/D", "/T1024"]).code, 0)
            kept = copied(log)[-1024 * 1024:]
            self.assertEqual((listing(disk), read(self.p("disk/a.log"))), (["a.log"], kept))
            # Half the room a cut's new file needs, then less than a log:
            # the system's error, the log kept, nothing under another name.
            write(self.p("disk/b"), b"f" * ((3 << 20) - (32 << 10)))
            for log, args in ((b"n" * 1000 + b"\n", ["/T1024"]), (b"n" * 600000 + b"\n", [])):
                write(self.p("a.log"), log)
                self.assertReport(self.q(["a.log", "disk", "/D"] + args).out, "EInOutError", "I/O error 112.")
                self.assertEqual((listing(disk), read(self.p("a.log"))), (["a.log", "b"], log))
            self.assertEqual(read(self.p("disk/a.log"))[:len(kept)], kept)
        finally:
            subprocess.run(["umount", disk])


class Durability(Case):
    def test_a_log_goes_only_once_its_archive_is_on_disk(self):
        log = b"line\n" * 10
        rows = [(None, [], "flushFilesAt"), (b"old\r\n", [], "flushFilesAt"),
                (b"x" * 3000, ["/t1"], "flushFile"), (b"x" * 3000, ["/t1"], "flushFolder")]
        for before, extra, service in rows:
            for error, message in ((5, "File access denied."), (0, "I/O error 31.")):
                with self.subTest(service=service, before=before and before[:5], error=error):
                    self.fresh()
                    write(self.p("a.log"), log)
                    if before is not None:
                        write(self.p("Archive/a.log"), before)
                    result = self.q(["a.log", "/d"] + extra, (service, 1, False, error))
                    self.assertReport(result.out, "EInOutError", message)
                    whole = (before or b"") + copied(log)
                    # A cut's file not on the disk never replaced the archive.
                    after = before if service == "flushFile" else whole[-1024 if extra else 0:]
                    self.assertEqual((read(self.p("a.log")), read(self.p("Archive/a.log"))), (log, after))
        # One flush per group of logs; one per cut file and its folder.
        rows = [(False, ["/d"], 0, 0, 1), (True, ["/d"], 0, 0, 1), (True, ["/d", "/t1"], 3, 3, 1),
                (True, ["/t1"], 3, 3, 0), (True, [], 0, 0, 0)]
        for exist, args, *counts in rows:
            for service, count in zip(("flushFile", "flushFolder", "flushFilesAt"), counts):
                for nth, code in ((count + 1, 0), (count, 1)) if count else ((1, 0),):
                    with self.subTest(args=args, service=service, nth=nth):
                        self.fresh()
                        for name in ("a.log", "b.log", "c.log"):
                            write(self.p(name), b"a\n")
                            if exist:
                                write(self.p("Archive/" + name), b"z" * (2000 if "/t1" in args else 10))
                        self.assertEqual(self.q(["*.log"] + args, (service, nth, False, 5)).code, code)
