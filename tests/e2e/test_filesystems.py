"""Archives on file systems that lack room or calls: a disk that fills up
mid-append leaves whole lines; exFAT (no hard links, no unnamed files, no
RENAME_NOREPLACE) and a FUSE passthrough take new archives and cuts as any
other."""

import os

from filesystems import mount_bindfs, mount_exfat, mount_tmpfs
from harness import Case, copied, listing, numbered, read, typed, write

KB = 1024


class FullDisk(Case):
    def test_a_full_disk_leaves_whole_lines_and_the_next_run_appends_the_whole_log(self):
        # Three 64 KiB transfers do not fit: the third is taken back to the
        # second's last line end.
        log = numbered(b"line", 5000, 30)
        for before in (b"", b"old\r\n"):
            with self.row(before=before), mount_tmpfs(400 * KB) as disk:
                self.files({"a.log": log})
                if before:
                    write(os.path.join(disk, "a.log"), before)
                write(os.path.join(disk, "filler"), b"f" * (240 * KB))
                result = self.q(["a.log", typed(disk)])
                self.assertEqual(result.code, 1)
                self.assertReport(result.out, "EInOutError", "I/O error 112.")
                now = read(os.path.join(disk, "a.log"))
                self.assertGreater(len(now), len(before) + 64 * KB)
                self.assertEqual(now, before + copied(log)[:len(now) - len(before)])
                self.assertTrue(now.endswith(b"\r\n"), now[-40:])
                os.remove(os.path.join(disk, "filler"))  # room made: the log follows the whole lines
                self.assertEqual((self.q(["a.log", typed(disk)]).code, read(self.p("a.log"))), (0, log))
                self.assertEqual(read(os.path.join(disk, "a.log")), now + copied(log))


class OtherFileSystems(Case):
    def test_archives_and_cuts_without_links_or_unnamed_files(self):
        for mount in (mount_exfat, mount_bindfs):
            with self.row(on=mount.__name__), mount() as disk:
                logs = os.path.join(disk, "logs")
                # A new archive over the limit, an existing one cut, one appended, one
                # beside a user's .tmp; the second round cuts and appends again.
                write(os.path.join(logs, "Archive", "b.log"), copied(numbered(b"old", 100)))
                write(os.path.join(logs, "Archive", "d.log.tmp"), b"a user's file\r\n")
                texts = {"a.log": numbered(b"a", 100), "b.log": numbered(b"b", 20), "c.log": b"c\n",
                         "d.log": numbered(b"d", 80)}
                archived = {"b.log": copied(numbered(b"old", 100))}
                for round in range(2):
                    for name, text in texts.items():
                        write(os.path.join(logs, name), text)
                    result = self.q([typed(os.path.join(logs, "*.log")), "/T2"])
                    self.assertEqual(result.code, 0, result.out)
                    self.assertEqual(listing(os.path.join(logs, "Archive")), ["a.log", "b.log", "c.log", "d.log",
                                                                              "d.log.tmp"])
                    for name, text in texts.items():
                        archived[name] = (archived.get(name, b"") + copied(text))[-2 * KB:]
                        self.assertEqual(read(os.path.join(logs, "Archive", name)), archived[name], name)
                self.assertEqual(read(os.path.join(logs, "Archive", "d.log.tmp")), b"a user's file\r\n")
