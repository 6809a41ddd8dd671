#!/usr/bin/env python3
"""varnelo-cli verify, and the progress of long commands: a file rewritten with other audio
moves to the right group, a file that can no longer be read is named and keeps its entry,
lost output stops the check with what it updated saved, Ctrl-C likewise, and on a terminal
the progress line tells files, bytes, the rate and the time left.
Run through ctest, which passes the binary in VARNELO_CLI."""
import os
import pty
import re
import signal
import subprocess
import unittest

from cli_output_test import SINKS, error_line
from cli_scan_test import LinkedTreeCase, stderr_until, unprivileged
from cli_test import (CLI, CliCase, audio, audio_digest, entry_digests, make_mp3, read_terminal,
                      write)


class Verify(CliCase):
    def library(self):
        """Three songs, the first two copies of one recording under other tags; listed."""
        lib = os.path.join(self.root, "lib")
        paths = [os.path.join(lib, name) for name in ("a.mp3", "b.mp3", "c.mp3")]
        write(paths[0], make_mp3(audio(1), 10, "A"))
        write(paths[1], make_mp3(audio(1), None, "B"))
        write(paths[2], make_mp3(audio(2)))
        self.ok("add", *paths)
        return paths

    def test_rewritten_file_moves_to_the_group_of_its_new_audio(self):
        a, b, c = self.library()
        write(b, make_mp3(audio(2), 40, "Now the other song"))
        r = self.ok("verify")
        self.assertEqual(r.stdout, f"changed: {b}\n".encode())
        self.assertIn(b"verify: 3 of 3 files read; 1 changed, 0 resized, 0 could not be read",
                      r.stderr)
        groups = {g["digest"]: sorted(f["path"] for f in g["files"])
                  for g in self.dupes_json()["groups"]}
        self.assertEqual(groups, {audio_digest(audio(2)): sorted([b, c])})
        # The old digest stays listed for the copy left behind; nothing changes a second time.
        self.assertEqual(entry_digests(self.db)[a], audio_digest(audio(1)))
        r = self.ok("verify")
        self.assertEqual(r.stdout, b"")

    def test_unreadable_file_is_named_and_keeps_its_entry(self):
        a, b, c = self.library()
        before = entry_digests(self.db)
        os.chmod(b, 0)
        self.locked.append(b)
        os.remove(c)
        r = subprocess.run([CLI, "--db", self.db, "verify"], cwd=self.root, capture_output=True,
                           timeout=120, preexec_fn=unprivileged(self))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, b"")
        err = r.stderr.decode()
        self.assertIn(f"varnelo-cli: warning: {b}: cannot read: Permission denied "
                      "(the entry is kept)", err)
        self.assertIn(f"varnelo-cli: warning: {c}: cannot read: No such file or directory "
                      "(the entry is kept)", err)
        self.assertIn("0 changed, 0 resized, 2 could not be read", err)
        self.assertEqual(entry_digests(self.db), before)

    def test_lost_output_stops_it_and_what_was_updated_is_saved(self):
        for reason, sink in SINKS.items():
            with self.subTest(reason=reason):
                if os.path.exists(self.db):
                    os.remove(self.db)
                a, b, c = self.library()
                write(a, make_mp3(audio(3)))
                write(c, make_mp3(audio(4)))
                with sink() as fd:
                    r = subprocess.run([CLI, "--db", self.db, "verify"], cwd=self.root,
                                       stdout=fd, stderr=subprocess.PIPE, timeout=120)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn(error_line(reason), r.stderr)
                self.assertIn(b"verify stopped: its output is lost; the 1 entries updated "
                              b"before are saved", r.stderr)
                # It stopped at the first change it could not report, which is saved; the
                # next change was not made.
                after = entry_digests(self.db)
                self.assertEqual(after[a], audio_digest(audio(3)))
                self.assertEqual(after[c], audio_digest(audio(2)))
                self.ok("info")


class LongRuns(LinkedTreeCase):
    """Runs of a second or more: 60,000 hard links to a few real MP3s in 300 folders."""
    FOLDERS, PER_FOLDER = 300, 200

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.bytes = sum(os.path.getsize(p) for p in cls.order)

    def test_scan_on_a_terminal_tells_files_bytes_rate_and_time_left(self):
        master, slave = pty.openpty()
        proc = subprocess.Popen([CLI, "--db", self.db, "scan", self.tree], cwd=self.root,
                                stdout=subprocess.DEVNULL, stderr=slave)
        os.close(slave)
        seen = read_terminal(master).decode()
        self.assertEqual(proc.wait(timeout=120), 0)
        lines = [l for l in seen.split("\r\x1b[K") if l.startswith("scanning: ")]
        self.assertTrue(lines, seen)
        files = self.FOLDERS * self.PER_FOLDER
        mb = f"{self.bytes / 1e6:.0f}"
        final = re.compile(rf"^scanning: (\d+) of {files} files, (\d+) of {mb} MB, "
                           r"\d+ MB/s, (\d+ s|\d+:\d\d(:\d\d)?) left(, in .*)?$")
        told = [final.match(l) for l in lines]
        self.assertTrue(any(told), lines[-5:])
        # Done grows, and the totals, once final, never change.
        done = [int(m.group(1)) for m in told if m]
        self.assertEqual(done, sorted(done))
        self.assertTrue(all(len(l) < 80 for l in lines))
        # The file added count is the summary's; off a terminal nothing of this is shown.
        self.assertIn(f"varnelo-cli: scan: {files} files added".encode(), seen.encode())

    def test_ctrl_c_stops_verify_and_keeps_what_was_updated(self):
        first = os.path.join(self.root, "first.mp3")
        write(first, make_mp3(audio(5)))
        self.ok("add", first)
        self.ok("scan", self.tree)
        write(first, make_mp3(audio(6)))
        proc = subprocess.Popen([CLI, "--db", self.db, "verify"], cwd=self.root,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # The first progress line comes once the first entry was read and updated.
        head = stderr_until(proc, b"verifying:")
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=120)
        err = head + err
        self.assertEqual(proc.returncode, 1, err)
        self.assertEqual(out, f"changed: {first}\n".encode())
        self.assertIn(b"verify interrupted; the entries updated before the stop are kept", err)
        read = int(re.search(rb"verify: (\d+) of (\d+) files read", err).group(1))
        self.assertLess(read, self.FOLDERS * self.PER_FOLDER + 1)
        self.assertEqual(entry_digests(self.db)[first], audio_digest(audio(6)))


if __name__ == "__main__":
    unittest.main()
