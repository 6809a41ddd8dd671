#!/usr/bin/env python3
"""varnelo-cli scan under a stop and on trees it cannot take whole: Ctrl-C and SIGTERM in
the middle of a scan of 200,000 files, and what a scan reports it left out.
Run through ctest, which passes the binary in VARNELO_CLI."""
import os
import select
import signal
import subprocess
import tempfile
import time
import unittest

from cli_test import CLI, CliCase, audio, entry_names, make_mp3, write
import linked_tree  # in tools/, which importing cli_test puts on the path


class LinkedTreeCase(CliCase):
    """A class's tree of FOLDERS * PER_FOLDER hard links to a few real MP3s, made once for
    all its tests, with its paths in walk order."""
    FOLDERS, PER_FOLDER = 1000, 200

    @classmethod
    def setUpClass(cls):
        if not linked_tree.have_lame():
            raise unittest.SkipTest("needs lame to encode the clips (tools/install-deps)")
        cls._trees = tempfile.TemporaryDirectory(prefix="varnelo-links-")
        cls.tree = linked_tree.make_tree(os.path.realpath(cls._trees.name), cls.FOLDERS,
                                         cls.PER_FOLDER)
        cls.order = linked_tree.walk_order(cls.tree)

    @classmethod
    def tearDownClass(cls):
        cls._trees.cleanup()


def stderr_until(proc, marker):
    """What proc writes to its standard error (a pipe) up to the first line holding marker,
    or up to its end."""
    head = b""
    while marker not in head:
        ready, _, _ = select.select([proc.stderr], [], [], 120)
        line = proc.stderr.readline() if ready else b""
        if not line:
            break
        head += line
    return head


def unprivileged(case):
    """What runs a program as a user who cannot read a file of mode 0: a preexec_fn that
    becomes the unprivileged user 65534 when running as root (who reads everything), with
    the test's folder and database opened to that user; None otherwise."""
    if os.geteuid() != 0:
        return None
    os.chmod(case.root, 0o777)
    if os.path.exists(case.db):
        os.chmod(case.db, 0o666)

    def switch():
        os.setgid(65534)
        os.setuid(65534)
    return switch


class InterruptedScan(LinkedTreeCase):
    """200,000 hard links to a few real MP3s in 1,000 folders: a scan of seconds anywhere,
    so the signal always falls inside the walk."""

    def scan_until_signal(self, signum):
        """Starts a scan, sends signum when it prints its first progress line (after its
        first file), and returns (exit status, stderr, files the progress reported, seconds
        from the signal to the exit)."""
        proc = subprocess.Popen([CLI, "--db", self.db, "scan", self.tree], cwd=self.root,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        head = stderr_until(proc, b"scanning:")
        sent = time.monotonic()
        proc.send_signal(signum)
        err = head + proc.stderr.read()
        status = proc.wait(timeout=120)
        took = time.monotonic() - sent
        reported = [int(l.split(b"scanning: ")[1].split()[0]) for l in head.splitlines()
                    if b"scanning: " in l]
        self.assertTrue(reported, err.decode(errors="replace"))
        return status, err, max(reported), took

    def test_signal_stops_the_walk_at_once_and_keeps_a_prefix_of_it(self):
        kept = os.path.join(self.root, "kept.mp3")
        write(kept, make_mp3(audio(0), None, "Kept"))
        for signum in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=signal.Signals(signum).name):
                if os.path.exists(self.db):
                    os.remove(self.db)
                self.ok("add", kept)
                status, err, reported, took = self.scan_until_signal(signum)
                print(f"InterruptedScan: {signal.Signals(signum).name} to exit {took:.3f} s")
                self.assertEqual(status, 1, err)
                self.assertIn(b"scan interrupted", err)
                self.ok("info")  # the saved database loads
                names = entry_names(self.db)
                self.assertEqual(names[0], kept)
                added = names[1:]
                # Nothing the walk met after it noticed the stop was added: the entries are
                # exactly the walk's first files, in its order, with none from further on
                # (a walk that only wound down would add one file in each later folder).
                self.assertGreaterEqual(len(added), reported)
                self.assertLess(len(added), len(self.order))
                self.assertEqual(added, self.order[:len(added)])


class ScanLeftOut(CliCase):
    """What a scan could not take is named and counted at its end."""

    def test_unlistable_folders_and_unreadable_files_are_named_then_counted(self):
        tree = os.path.join(self.root, "tree")
        write(os.path.join(tree, "ok/song.mp3"), make_mp3(audio(1)))
        write(os.path.join(tree, "closed/hidden.mp3"), make_mp3(audio(2)))
        os.chmod(os.path.join(tree, "closed"), 0)
        self.locked.append(os.path.join(tree, "closed"))
        os.mkfifo(os.path.join(tree, "pipe.mp3"))
        for i in range(9):
            os.symlink(f"missing{i}", os.path.join(tree, f"dangling{i}.mp3"))
        os.mkdir(os.path.join(tree, "folder.mp3"))       # walked as a folder, not left out
        write(os.path.join(tree, "tags-only.mp3"), make_mp3(b"", 10, "No audio"))  # by rule
        r = subprocess.run([CLI, "--db", self.db, "scan", tree], cwd=self.root,
                           capture_output=True, timeout=120, preexec_fn=unprivileged(self))
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stderr.decode().splitlines()
        warnings = [l for l in lines if l.startswith("varnelo-cli: warning: ")]
        self.assertEqual(len(warnings), 9, lines)  # eight named, then the counts
        self.assertEqual(warnings[-1], f"varnelo-cli: warning: scan of {tree} left out 1 "
                         "folder it could not list and 10 files it could not read "
                         "(the first 8 named above)")
        named = warnings[:-1]
        expected = {f"{tree}/closed: cannot list folder: Permission denied",
                    f"{tree}/pipe.mp3: cannot read: not a regular file"}
        expected |= {f"{tree}/dangling{i}.mp3: cannot read: No such file or directory"
                     for i in range(9)}
        for line in named:
            self.assertIn(line[len("varnelo-cli: warning: "):], expected)
        self.assertEqual(entry_names(self.db),
                         [os.path.join(tree, "ok/song.mp3")])

    def test_tree_past_the_path_limit_is_scanned_whole_without_warnings(self):
        top = os.path.join(self.root, "deep")
        os.makedirs(top)
        fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
        made, path = [], top
        try:
            for level in range(24):  # 200 bytes a level: about 4,800 bytes at the bottom
                out = os.open("x.mp3", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
                os.write(out, make_mp3(audio(level)))
                os.close(out)
                made.append(os.path.join(path, "x.mp3"))
                os.mkdir("d" * 200, dir_fd=fd)
                inner = os.open("d" * 200, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
                os.close(fd)
                fd, path = inner, os.path.join(path, "d" * 200)
        finally:
            os.close(fd)
        self.assertGreater(len(made[-1]), 4096)
        r = self.ok("scan", top)
        self.assertNotIn(b"warning", r.stderr)
        self.assertIn(f"scan: {len(made)} files added".encode(), r.stderr)
        self.assertEqual(sorted(self.entries()), sorted(made))
        # Entries past the limit are not taken for missing files by the cleaning pass.
        self.ok("clean")
        self.assertEqual(len(self.entries()), len(made))


if __name__ == "__main__":
    unittest.main()
