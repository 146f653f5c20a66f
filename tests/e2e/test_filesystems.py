"""Archives on file systems that lack calls: exFAT (no hard links, no unnamed
files, no RENAME_NOREPLACE) and a FUSE passthrough take new archives and cuts
as any other."""

import os

from filesystems import mount_bindfs, mount_exfat
from harness import Case, copied, listing, numbered, read, typed, write

KB = 1024


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
