"""The whole job through the real executable: the walk, appending,
truncation and failures."""

import os
import re
import stat
import unittest

import harness
from e2e_case import E2ECase, exe_full_path, note_line

CRLF = b"\r\n"
WINDOWS = harness.is_windows()


def copied(source):
    """The bytes one copy of source appends: text before the first 0x1A,
    split at LF, CRs dropped, each piece ended by CR LF; an empty last piece
    writes nothing."""
    pieces = source.split(b"\x1a", 1)[0].split(b"\n")
    if pieces[-1] == b"":
        pieces.pop()
    return b"".join(piece.replace(b"\r", b"") + CRLF for piece in pieces)


def cut_marker(archive):
    """An archive about to be appended to loses its first 0x1A within the
    last 128 bytes, and everything after it."""
    start = max(len(archive) - 128, 0)
    i = archive.find(b"\x1a", start)
    return archive if i < 0 else archive[:i]


def write(path, data, read_only=False):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    if os.path.exists(path):
        os.chmod(path, 0o644)
    with open(path, "wb") as f:
        f.write(data)
    if read_only:
        os.chmod(path, 0o444)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def settings(folder="Archive", kb=0, delete=False):
    out = b"Archive folder : " + folder.encode() + CRLF
    if kb > 0:
        out += b"Archives will be truncated at %d Kb." % kb + CRLF
    if delete:
        out += b"Original files will be deleted after archiving" + CRLF
    return out


def file_line(n, shown, size):
    return b"File %d %s (%d bytes)" % (n, shown.encode(), size) + CRLF


def own(path):
    """A path as the program's file operations write it: with backslashes on
    Windows, with '/' on Linux (where a typed backslash becomes one)."""
    return sep(path) if WINDOWS else path


def sep(path):
    """A path as typed for this platform's program (both separators work on
    POSIX; Windows wants the backslash)."""
    return path.replace(b"/", b"\\") if isinstance(path, bytes) else path.replace("/", "\\")


class Walk(E2ECase):
    def test_numbered_lines_in_search_order_with_folder_part(self):
        write(self.path("logs/a.log"), b"one\r\n")
        write(self.path("logs/b.log"), b"two\ntwo\n")
        os.mkdir(self.path("logs/old.log"))  # a folder matching the pattern
        write(self.path("logs/old.log/c.log"), b"inner\r\n")
        code, out, _ = self.run_quilbo([sep("logs/*.log"), "backup"])
        self.assertEqual(code, 0)
        lines = out.split(CRLF)
        self.assertEqual(lines[0], b"Archive folder : backup")
        files = lines[1:-1]
        self.assertEqual(lines[-1], b"")
        names = []
        for i, line in enumerate(files, 1):
            m = re.fullmatch(rb"File (\d+) logs\\(\w+\.log) \((\d+) bytes\)", line)
            self.assertIsNotNone(m, line)
            self.assertEqual(int(m.group(1)), i)
            names.append(m.group(2).decode())
            self.assertEqual(int(m.group(3)), os.path.getsize(self.path("logs/" + names[-1])))
        self.assertEqual(sorted(names), ["a.log", "b.log"])
        self.assertEqual(read(self.path("logs/backup/a.log")), b"one\r\n")
        self.assertEqual(read(self.path("logs/backup/b.log")), b"two\r\ntwo\r\n")
        # The subfolder is neither listed nor archived.
        self.assertFalse(os.path.exists(self.path("logs/backup/old.log")))
        self.assertFalse(os.path.exists(self.path("logs/old.log/Archive")))

    def test_no_match_prints_only_the_settings(self):
        write(self.path("notes.txt"), b"x\r\n")
        code, out, _ = self.run_quilbo(["*.log", "/t5", "/d"])
        self.assertEqual(code, 5)
        self.assertEqual(out, settings("Archive", 5, True))
        # The archive folder is still created in the current folder.
        self.assertTrue(os.path.isdir(self.path("Archive")))

    def test_pattern_matching_only_folders(self):
        os.mkdir(self.path("d1.log"))
        os.mkdir(self.path("d2.log"))
        code, out, _ = self.run_quilbo(["*.log"])
        self.assertEqual((code, out), (5, settings()))

    def test_archive_folder_is_created_one_level_only(self):
        write(self.path("a.log"), b"keep me\r\n")
        code, out, err = self.run_quilbo(["*.log", sep("missing/deeper")])
        self.assertEqual(code, 1)
        head = settings(sep("missing/deeper")) + file_line(1, "a.log", 9)
        self.assertTrue(out.startswith(head), out)
        self.assertReport(out[len(head):], "EInOutError", "Invalid filename.")
        # Standard error names the file, the folder and the system's reasons.
        folder = re.escape(own(b"missing/deeper"))
        self.assertRegex(err, note_line(b"cannot create " + folder + re.escape(own(b"/a.log")) +
                                   b": .+ \\(the folder " + folder + b" could not be made: .+\\)"))
        self.assertFalse(os.path.exists(self.path("missing")))
        self.assertEqual(read(self.path("a.log")), b"keep me\r\n")

    def test_vanished_source_is_counted_printed_and_skipped(self):
        write(self.path("a.log"), b"aaa\n")
        # The log's open is the first file opened: it finds the log gone.
        code, out, _ = self.run_quilbo(
            ["a.log", "/d"], faults=harness.Faults(service="createFileAt", from_nth=1, once=True, error=2))
        self.assertEqual(code, 0)
        self.assertEqual(out, settings(delete=True) + file_line(1, "a.log", 4))
        self.assertEqual(read(self.path("a.log")), b"aaa\n")
        self.assertFalse(os.path.exists(self.path("Archive/a.log")))


class Append(E2ECase):
    def archive_one(self, source, archive=None, args=(), name="a.log", faults=None):
        write(self.path(name), source)
        if archive is not None:
            write(self.path("Archive/" + name), archive)
        code, out, _ = self.run_quilbo([name] + list(args), faults=faults)
        return code, out

    def test_archive_contents_after_one_append(self):
        tail_marker = b"x" * 200 + b"\x1aold junk"
        cases = [
            # (source, archive before or None, archive after)
            (b"a\r\nb\r\n", None, b"a\r\nb\r\n"),
            (b"a\nb", b"old\r\n", b"old\r\na\r\nb\r\n"),
            (b"a\rb\r\n", None, b"ab\r\n"),
            (b"new\r\n", tail_marker, b"x" * 200 + b"new\r\n"),
            (b"", tail_marker, b"x" * 200),
            (b"", None, b""),
            (b"text\x1atrailing\r\n", None, b"text\r\n"),
            (b"\x00\xff\x80 bytes\r\n", None, b"\x00\xff\x80 bytes\r\n"),
            (b"z\r\n", b"\x1a" + b"y" * 300, b"\x1a" + b"y" * 300 + b"z\r\n"),
        ]
        for source, before, after in cases:
            with self.subTest(source=source[:20], before=None if before is None else before[:20]):
                self.fresh()
                code, out = self.archive_one(source, before)
                self.assertEqual(code, 0)
                self.assertEqual(out, settings() + file_line(1, "a.log", len(source)))
                self.assertEqual(read(self.path("Archive/a.log")), after)
                self.assertEqual(read(self.path("a.log")), source)

    def test_same_source_twice_without_delete(self):
        write(self.path("a.log"), b"line\n")
        for _ in range(2):
            code, _, _ = self.run_quilbo(["a.log"])
            self.assertEqual(code, 0)
        self.assertEqual(read(self.path("Archive/a.log")), b"line\r\nline\r\n")

    def test_delete_removes_sources_after_archiving(self):
        write(self.path("a.log"), b"a\n")
        write(self.path("b.log"), b"b\x1alost\n")
        code, out, _ = self.run_quilbo(["*.log", "/D"])
        self.assertEqual(code, 0)
        self.assertFalse(os.path.exists(self.path("a.log")))
        self.assertFalse(os.path.exists(self.path("b.log")))
        self.assertEqual(read(self.path("Archive/a.log")), b"a\r\n")
        self.assertEqual(read(self.path("Archive/b.log")), b"b\r\n")

    def test_read_only_source_is_archived_but_not_deleted(self):
        write(self.path("a.log"), b"ro\r\n", read_only=True)
        code, out, err = self.run_quilbo(["a.log", "/d"])
        self.assertEqual((code, out), (0, settings(delete=True) + file_line(1, "a.log", 4)))
        self.assertRegex(err, note_line(rb"/D kept a\.log \(it is read-only\): "
                                   rb"its text will be archived again next run"))
        self.assertEqual(read(self.path("a.log")), b"ro\r\n")
        self.assertEqual(read(self.path("Archive/a.log")), b"ro\r\n")

    def test_failed_archive_lookup_never_empties_the_archive(self):
        write(self.path("a.log"), b"new\r\n")
        write(self.path("Archive/a.log"), b"years of lines\r\n")
        # Every lookup of the archive fails.
        code, out, _ = self.run_quilbo(
            ["a.log", "/d"], faults=harness.Faults(service="lookupFileAt", error=5))
        self.assertEqual(code, 1)
        head = settings(delete=True) + file_line(1, "a.log", 5)
        self.assertReport(out[len(head):], "EInOutError", "I/O error 80.")
        self.assertEqual(read(self.path("Archive/a.log")), b"years of lines\r\n")
        self.assertEqual(read(self.path("a.log")), b"new\r\n")

    @unittest.skipIf(WINDOWS and hasattr(os, "geteuid") and os.geteuid() == 0,
                     "wine run by root opens read-only files for writing")
    def test_archive_that_cannot_be_opened(self):
        write(self.path("a.log"), b"keep\r\n")
        write(self.path("Archive/a.log"), b"old\r\n", read_only=True)
        code, out, err = self.run_quilbo(["a.log", "/d"])
        self.assertEqual(code, 1)
        head = settings(delete=True) + file_line(1, "a.log", 6)
        self.assertTrue(out.startswith(head), out)
        self.assertReport(out[len(head):], "EInOutError", "File access denied.")
        self.assertRegex(err, note_line(b"cannot append to " + re.escape(own(b"Archive/a.log")) + b": .+"))
        self.assertEqual(read(self.path("a.log")), b"keep\r\n")
        self.assertEqual(read(self.path("Archive/a.log")), b"old\r\n")

    def test_out_of_memory_for_the_append_buffers(self):
        code, out = self.archive_one(b"kept\r\n", b"old\r\n", args=["/d"],
                                     faults=harness.Faults(service="allocate", error=8))
        self.assertEqual(code, 1)
        head = settings(delete=True) + file_line(1, "a.log", 6)
        self.assertTrue(out.startswith(head), out)
        self.assertReport(out[len(head):], "EOutOfMemory", "Out of memory.")
        self.assertEqual(read(self.path("a.log")), b"kept\r\n")
        self.assertEqual(read(self.path("Archive/a.log")), b"old\r\n")

    def test_disk_full_keeps_the_written_transfers_and_the_log(self):
        source = b"".join(b"%07d a line of the log\n" % i for i in range(10000))
        old = b"old line\r\n"
        # Writes: the three console lines, then the archive's 64 KiB
        # transfers; the second transfer finds the disk full.
        code, out = self.archive_one(source, old, args=["/d"],
                                     faults=harness.Faults(service="writeFile", nth=5, once=True, error=112))
        self.assertEqual(code, 1)
        head = settings(delete=True) + file_line(1, "a.log", len(source))
        self.assertTrue(out.startswith(head), out)
        self.assertReport(out[len(head):], "EInOutError", "I/O error 112.")
        # The first transfer ended at the last line end within its 64 KiB.
        first = copied(source)[:65536]
        self.assertEqual(read(self.path("Archive/a.log")), old + first[:first.rindex(b"\n") + 1])
        self.assertEqual(read(self.path("a.log")), source)

    def test_archive_folder_naming_the_logs_own_folder_is_refused(self):
        write(self.path("a.log"), b"self\r\n")
        for folder in (".", sep("../" + os.path.basename(self.dir))):
            with self.subTest(folder=folder):
                code, out, _ = self.run_quilbo(["a.log", folder, "/d"])
                self.assertEqual(code, 1)
                head = settings(folder, delete=True) + file_line(1, "a.log", 6)
                self.assertTrue(out.startswith(head), out)
                self.assertReport(out[len(head):], "Exception", None)
                self.assertIn(b"is the log file itself", out)
                self.assertEqual(read(self.path("a.log")), b"self\r\n")


class Truncate(E2ECase):
    def run_cut(self, archive, kb, source=b"", args=(), faults=None):
        write(self.path("a.log"), source)
        write(self.path("Archive/a.log"), archive)
        return self.run_quilbo(["a.log", "/t%d" % kb] + list(args), faults=faults)

    def test_keeps_exactly_the_last_kilobytes(self):
        data = bytes(range(256)) * 12  # 3 KiB
        cases = [
            (data, 1, data[-1024:]),
            (data[:2048], 2, data[:2048]),
            (data[:2049], 2, data[1:2049]),
        ]
        for archive, kb, after in cases:
            with self.subTest(size=len(archive), kb=kb):
                self.fresh()
                code, _, _ = self.run_cut(archive, kb)
                self.assertEqual(code, 0)
                self.assertEqual(read(self.path("Archive/a.log")), after)
                self.assertFalse(os.path.exists(self.path("Archive/a.log.tmp")))

    def test_archive_within_the_limit_is_never_renamed(self):
        # Every new file fails: a run that tried a cut would end in a report.
        code, out, _ = self.run_cut(b"z" * 1024, 1, faults=harness.Faults(service="createFileAsAt", error=5))
        self.assertEqual(code, 0, out)
        self.assertEqual(read(self.path("Archive/a.log")), b"z" * 1024)

    def test_archive_over_four_gigabytes_is_cut_exactly(self):
        size = (4 << 30) + 5000
        path = self.path("Archive/a.log")
        os.makedirs(os.path.dirname(path))
        tail = bytes(range(256)) * 8
        with open(path, "wb") as f:
            f.truncate(size - len(tail))
            f.seek(size - len(tail))
            f.write(tail)
        write(self.path("a.log"), b"end\n")
        code, out, _ = self.run_quilbo(["a.log", "/t2"])
        self.assertEqual(code, 0, out)
        self.assertEqual(read(path), (tail + b"end\r\n")[-2048:])
        self.assertFalse(os.path.exists(path + ".tmp"))


class Durability(E2ECase):
    """A log goes only once its archive is on the disk: when a flush fails,
    the run ends and the log stays."""

    def test_a_failed_flush_keeps_the_log(self):
        log = b"line\n" * 10
        cases = [
            # (what, archive before or None, extra arguments, failing service)
            ("new archive", None, [], "flushFilesAt"),
            ("appended archive", b"old\r\n", [], "flushFilesAt"),
            ("cut archive", b"x" * 3000, ["/t1"], "flushFile"),
            ("name of a cut archive", b"x" * 3000, ["/t1"], "flushFolder"),
        ]
        for what, before, extra, service in cases:
            for error, message in ((5, "File access denied."), (0, "I/O error 31.")):
                with self.subTest(what, error=error):
                    self.fresh()
                    write(self.path("a.log"), log)
                    if before is not None:
                        write(self.path("Archive/a.log"), before)
                    code, out, _ = self.run_quilbo(
                        ["a.log", "/d"] + extra, faults=harness.Faults(service=service, error=error))
                    self.assertEqual(code, 1, out)
                    self.assertReport(out[out.index(b"bytes)\r\n") + 8:], "EInOutError", message)
                    self.assertEqual(read(self.path("a.log")), log)
                    whole = (before or b"") + copied(log)
                    if service == "flushFile" and extra:
                        # The archive was not replaced by a file not on the disk.
                        self.assertEqual(read(self.path("Archive/a.log")), before)
                    else:
                        self.assertEqual(read(self.path("Archive/a.log")),
                                         whole[-1024:] if extra else whole)

    def test_one_flush_per_group(self):
        logs = {"a.log": b"a\n", "b.log": b"b\n", "c.log": b"c\n"}
        cases = [
            # (what, archives exist, arguments, calls of flushFile, flushFolder, flushFilesAt)
            ("new archives", False, ["/d"], 0, 0, 1),
            ("existing archives", True, ["/d"], 0, 0, 1),
            ("cut archives", True, ["/d", "/t1"], 3, 3, 1),
            ("cut archives, logs kept", True, ["/t1"], 3, 3, 0),
            ("logs kept", True, [], 0, 0, 0),
        ]
        for what, exist, args, *counts in cases:
            for service, count in zip(("flushFile", "flushFolder", "flushFilesAt"), counts):
                with self.subTest(what, service=service):
                    for nth, code in ((count + 1, 0), (count, 1)):
                        if nth == 0:
                            continue
                        self.fresh()
                        for name, text in logs.items():
                            write(self.path(name), text)
                            if exist:
                                write(self.path("Archive/" + name), b"z" * (2000 if "/t1" in args else 10))
                        result = self.run_quilbo(
                            ["*.log"] + args, faults=harness.Faults(service=service, from_nth=nth))
                        self.assertEqual(result.code, code, (nth, result.stdout))

    def test_a_folder_that_cannot_be_locked_is_used_unlocked(self):
        write(self.path("a.log"), b"a\n")
        result = self.run_quilbo(["a.log", "/d"], faults=harness.Faults(service="lockFolder", error=5))
        self.assertEqual(result.code, 0, result.stdout)
        self.assertEqual(read(self.path("Archive/a.log")), b"a\r\n")
        self.assertFalse(os.path.exists(self.path("a.log")))


if __name__ == "__main__":
    unittest.main()
