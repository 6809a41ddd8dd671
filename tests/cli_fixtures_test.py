#!/usr/bin/env python3
"""The shared reader of .mp3db files (tools/mp3_fixtures.py) against what varnelo-cli saves:
every other test trusts it to see exactly the saved entries, so a reader that took a cut
file or misplaced a record would let a lost entry pass unseen. Run through ctest."""
import os
import unittest

from cli_test import CliCase, audio, read_bytes, read_database, write, write_mp3
from mp3_fixtures import entry_digests, read_header  # in tools/, put on the path by cli_test


class DatabaseReader(CliCase):
    def test_reads_what_the_program_saved_and_refuses_every_cut(self):
        lib = os.path.join(self.root, "lib")
        written = {}
        for i, name in enumerate(["a.mp3", "b copy.mp3", "n\xe9e.mp3", "c.mp3"]):
            path = os.path.join(lib, name)
            written[path] = write_mp3(path, audio(i % 3), 10 * i or None, f"T{i}" if i else None)
        self.ok("scan", lib)
        self.assertEqual(entry_digests(self.db), written)
        info = self.ok("info").stdout.decode()
        hashnum, filenum, _stamp = read_header(self.db)
        self.assertIn(f"files: {filenum}\ndigests: {hashnum}\n", info)
        self.assertEqual((hashnum, filenum), (3, 4))

        whole = read_bytes(self.db)
        cut = os.path.join(self.root, "cut.mp3db")
        for length in range(len(whole)):
            write(cut, whole[:length])
            with self.assertRaises(ValueError, msg=length):
                read_database(cut)
        write(cut, b"\x39" + whole[1:])
        self.assertRaises(ValueError, read_header, cut)


if __name__ == "__main__":
    unittest.main()
