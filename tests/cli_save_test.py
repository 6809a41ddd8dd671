#!/usr/bin/env python3
"""Saving the database when things go wrong, driven from outside: a full file system, a folder
that does not exist, two runs of varnelo-cli on one database, and varnelo-cli against a
running window. Run through ctest, which passes the binaries in VARNELO_CLI and
VARNELO_WINDOW."""
import os
import pty
import select
import signal
import subprocess
import time
import unittest

from cli_test import CLI, CliCase, audio, entry_digests, read_bytes, write, write_mp3

WINDOW = os.environ.get("VARNELO_WINDOW")


def songs(folder, count, seed, size=300):
    """count MP3-like files of their own audio under folder; {path: digest hex}."""
    written = {}
    for i in range(count):
        path = os.path.join(folder, f"d{i // 100:02}", f"song{i:05}.mp3")
        written[path] = write_mp3(path, audio(seed * 100000 + i, size), 10)
    return written


class SavingCase(CliCase):
    def setUp(self):
        super().setUp()
        self.env = dict(os.environ, XDG_STATE_HOME=os.path.join(self.root, "state"))
        self.procs = []

    def tearDown(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            for stream in (proc.stdout, proc.stderr):
                if stream:
                    stream.close()
        super().tearDown()

    def cli(self, *args, db=None, timeout=120):
        argv = [CLI, "--db", db or self.db] + [os.fsdecode(a) for a in args]
        return subprocess.run(argv, cwd=self.root, capture_output=True, timeout=timeout,
                              env=self.env)

    def start(self, argv, **kw):
        proc = subprocess.Popen(argv, cwd=kw.pop("cwd", self.root), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=kw.pop("env", self.env), **kw)
        self.procs.append(proc)
        return proc

    @staticmethod
    def read_line_with(proc, stream, text, seconds=60):
        """Lines of stream up to the first that holds text; b"" when it ends first."""
        seen = b""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            ready, _, _ = select.select([stream], [], [], deadline - time.monotonic())
            line = stream.readline() if ready else b""
            if not line:
                return b""
            seen += line
            if text in line:
                return seen
        return b""

    def holding_scan(self, tree, db=None):
        """A varnelo-cli scan that holds the database's lock, stopped in the middle of its walk."""
        proc = self.start([CLI, "--db", db or self.db, "scan", tree])
        if not self.read_line_with(proc, proc.stderr, b"scanning:"):
            self.skipTest("the scan ended before its first progress line")
        proc.send_signal(signal.SIGSTOP)
        time.sleep(0.05)
        if proc.poll() is not None:
            self.skipTest("the scan ended before it could be stopped")
        return proc

    def saved(self, db=None):
        return entry_digests(db or self.db)


# ---- Two runs of varnelo-cli on one database ---------------------------------------------------

class SharedDatabase(SavingCase):
    def test_two_scans_at_once_keep_both_sets_of_files(self):
        first = songs(os.path.join(self.root, "first"), 1500, 1)
        second = songs(os.path.join(self.root, "second"), 1500, 2)
        a = self.start([CLI, "--db", self.db, "scan", os.path.join(self.root, "first")])
        b = self.start([CLI, "--db", self.db, "scan", os.path.join(self.root, "second")])
        err_a, err_b = a.communicate(timeout=300)[1], b.communicate(timeout=300)[1]
        self.assertEqual((a.returncode, b.returncode), (0, 0), err_a + err_b)
        self.assertEqual(self.saved(), {**first, **second})

    def test_a_second_scan_waits_for_the_first_and_adds_to_what_it_saved(self):
        first = songs(os.path.join(self.root, "first"), 3000, 1)
        second = songs(os.path.join(self.root, "second"), 20, 2)
        holder = self.holding_scan(os.path.join(self.root, "first"))
        waiter = self.start([CLI, "--db", self.db, "scan", os.path.join(self.root, "second")])
        said = self.read_line_with(waiter, waiter.stderr, b"waiting for")
        self.assertIn(f"{self.db}: waiting for varnelo-cli (process {holder.pid}), "
                      "which is using the database".encode(), said)
        time.sleep(0.3)
        self.assertIsNone(waiter.poll(), "the second scan must wait")
        # Bounded, a third gives up naming the holder.
        r = self.cli("--wait", "0.2", "add", next(iter(second)))
        self.assertEqual(r.returncode, 1)
        self.assertIn(f"still in use by varnelo-cli (process {holder.pid})".encode(), r.stderr)
        holder.send_signal(signal.SIGCONT)
        self.assertEqual(holder.wait(timeout=300), 0)
        _out, err = waiter.communicate(timeout=300)
        self.assertEqual(waiter.returncode, 0, err)
        self.assertEqual(err.count(b"waiting for"), 0, "said once, before")
        self.assertEqual(self.saved(), {**first, **second})

    def test_ctrl_c_ends_the_wait_and_a_holder_killed_outright_blocks_nobody(self):
        songs(os.path.join(self.root, "first"), 3000, 1)
        earlier = songs(os.path.join(self.root, "earlier"), 5, 3)
        self.ok("scan", os.path.join(self.root, "earlier"))
        before = read_bytes(self.db)
        holder = self.holding_scan(os.path.join(self.root, "first"))
        waiter = self.start([CLI, "--db", self.db, "clean"])
        self.assertTrue(self.read_line_with(waiter, waiter.stderr, b"waiting for"))
        waiter.send_signal(signal.SIGINT)
        waiter.wait(timeout=10)
        self.assertNotEqual(waiter.returncode, 0)
        holder.kill()
        holder.wait()
        self.assertEqual(read_bytes(self.db), before)
        later = songs(os.path.join(self.root, "later"), 5, 4)
        r = self.cli("scan", os.path.join(self.root, "later"), timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn(b"waiting", r.stderr)
        self.assertEqual(self.saved(), {**earlier, **later})


# ---- varnelo-cli and the window ---------------------------------------------------------------

@unittest.skipUnless(WINDOW, "the window was not built (VARNELO_WINDOW is not set)")
class WindowAndCommandLine(SavingCase):
    def setUp(self):
        super().setUp()
        # The window works on default.mp3db in its current folder.
        self.db = os.path.join(self.root, "default.mp3db")
        self.window_env = dict(self.env, QT_QPA_PLATFORM="offscreen")

    def start_window(self):
        """The window, its standard output on a terminal so that the library's lines
        ("Database successfully read") come as they are said; window.stdout reads them."""
        master, slave = pty.openpty()
        window = subprocess.Popen([WINDOW], cwd=self.root, stdout=slave, stderr=subprocess.PIPE,
                                  env=self.window_env)
        os.close(slave)
        window.stdout = os.fdopen(master, "rb", buffering=0)
        self.procs.append(window)
        return window

    def wait_for_lock_line(self, line, seconds=60):
        lock = os.path.join(self.root, ".default.mp3db.lock")
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if os.path.exists(lock) and read_bytes(lock) == line:
                return
            time.sleep(0.05)
        self.fail(f"the lock file never read {line!r}")

    def test_commands_that_change_are_refused_while_the_window_holds_the_database(self):
        lib, _groups = self.make_library()
        self.ok("scan", lib)
        before = read_bytes(self.db)
        window = self.start_window()
        self.wait_for_lock_line(f"varnelo {window.pid}\n".encode())
        song = os.path.join(lib, "a/one.mp3")
        for command in (["scan", lib], ["add", song], ["clean"], ["delete", song], ["prune"]):
            started = time.monotonic()
            r = self.cli(*command, timeout=30)
            self.assertEqual(r.returncode, 1, command)
            self.assertIn(f"varnelo-cli: error: {self.db}: the database is in use by varnelo "
                          f"(process {window.pid}); close that program and try again".encode(),
                          r.stderr)
            self.assertLess(time.monotonic() - started, 10, "refused at once, not after a wait")
        self.assertTrue(os.path.exists(song))
        for command in (["dupes"], ["info"], ["search", "beat"], ["digest", song],
                        ["prune", "--dry-run"]):
            self.assertEqual(self.cli(*command).returncode, 0, command)
        self.assertEqual(read_bytes(self.db), before)
        # A window that ends however it ends lets the database go.
        window.kill()
        window.wait()
        later = songs(os.path.join(self.root, "later"), 3, 5)
        r = self.cli("scan", os.path.join(self.root, "later"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(set(later) <= set(self.saved()))
        self.assertEqual(len(self.saved()), 9 + 3)

    def test_a_window_started_while_a_scan_runs_leaves_the_database_to_it(self):
        earlier = songs(os.path.join(self.root, "earlier"), 5, 3)
        self.ok("scan", os.path.join(self.root, "earlier"))
        first = songs(os.path.join(self.root, "first"), 3000, 1)
        holder = self.holding_scan(os.path.join(self.root, "first"))
        window = self.start_window()
        self.assertTrue(self.read_line_with(window, window.stdout, b"Database successfully read"),
                        "the window reads the database although it cannot hold it")
        time.sleep(0.3)
        self.assertIsNone(window.poll())
        self.wait_for_lock_line(f"varnelo-cli {holder.pid}\n".encode(), seconds=5)
        holder.send_signal(signal.SIGCONT)
        self.assertEqual(holder.wait(timeout=300), 0, holder.stderr.read())
        self.assertEqual(self.saved(), {**earlier, **first})
        # The window, which read the database without its lock, holds nothing meanwhile.
        later = songs(os.path.join(self.root, "later"), 3, 5)
        r = self.cli("scan", os.path.join(self.root, "later"), timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        window.kill()
        window.wait()
        self.assertEqual(self.saved(), {**earlier, **first, **later})


# ---- Full disks and databases that cannot be written --------------------------------------------

class FullDisk(SavingCase):
    def setUp(self):
        super().setUp()
        self.mounts = []

    def tearDown(self):
        for folder in self.mounts:
            subprocess.run(["umount", "-l", folder], capture_output=True)
        super().tearDown()

    def mount_tmpfs(self, folder, options):
        os.makedirs(folder)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder],
                           capture_output=True)
        if r.returncode != 0:
            self.skipTest("cannot mount a tmpfs here (needs root): " + r.stderr.decode().strip())
        self.mounts.append(folder)

    @staticmethod
    def fill(folder):
        """Takes every free block, then every free inode, of the file system of folder."""
        try:
            with open(os.path.join(folder, "fill"), "wb") as f:
                while True:
                    f.write(b"\0" * 4096)
                    f.flush()
        except OSError:
            pass
        n = 0
        try:
            while True:
                open(os.path.join(folder, f"fill-{n}"), "xb").close()
                n += 1
        except OSError:
            pass

    def test_full_disk_keeps_the_database_and_the_scan_goes_to_a_recovery_file(self):
        fs = os.path.join(self.root, "fs")
        self.mount_tmpfs(fs, "size=2M,nr_inodes=4")
        db = os.path.join(fs, "x.mp3db")
        old = songs(os.path.join(self.root, "old"), 300, 1)
        self.assertEqual(self.cli("scan", os.path.join(self.root, "old"), db=db).returncode, 0)
        self.fill(fs)
        before = read_bytes(db)
        new = songs(os.path.join(self.root, "new"), 300, 2)
        r = self.cli("scan", os.path.join(self.root, "new"), db=db)
        self.assertEqual(r.returncode, 1)
        self.assertIn(f"{db}: cannot save the database: No space left on device".encode(),
                      r.stderr)
        recovery = os.path.join(self.root, "state", "varnelo", "x.recovered.mp3db")
        self.assertIn(f"{db}: its 600 entries were written to {recovery} instead; use that file "
                      f"with --db, or rename it to {db}".encode(), r.stderr)
        self.assertEqual(read_bytes(db), before)
        self.assertEqual(self.cli("info", db=db).returncode, 0)
        self.assertEqual(self.saved(db), old)
        self.assertEqual(self.cli("info", db=recovery).returncode, 0)
        self.assertEqual(self.saved(recovery), {**old, **new})

    def test_recovery_file_beside_a_link_to_a_full_disk(self):
        fs = os.path.join(self.root, "fs")
        self.mount_tmpfs(fs, "size=1M,nr_inodes=16")
        target = os.path.join(fs, "music.mp3db")
        link = os.path.join(self.root, "music.mp3db")
        os.symlink(target, link)
        old = songs(os.path.join(self.root, "old"), 50, 1)
        self.assertEqual(self.cli("scan", os.path.join(self.root, "old"), db=link).returncode, 0)
        self.assertTrue(os.path.islink(link))
        self.fill(fs)
        before = read_bytes(target)
        new = songs(os.path.join(self.root, "new"), 500, 2)
        r = self.cli("scan", os.path.join(self.root, "new"), db=link)
        self.assertEqual(r.returncode, 1)
        recovery = os.path.join(self.root, "music.recovered.mp3db")
        self.assertIn(f"written to {recovery} instead".encode(), r.stderr)
        self.assertEqual(read_bytes(target), before)
        # The recovery file takes over once renamed over the link.
        os.rename(recovery, link)
        self.assertEqual(self.saved(link), {**old, **new})

    def test_a_database_that_cannot_be_written_fails_before_any_work(self):
        songs(os.path.join(self.root, "big"), 500, 1)
        for db in (os.path.join(self.root, "NO/SUCH/DIR/x.mp3db"),
                   os.path.join(self.root, "file.txt/x.mp3db")):
            write(os.path.join(self.root, "file.txt"), b"a file, not a folder")
            started = time.monotonic()
            r = self.cli("scan", os.path.join(self.root, "big"), db=db)
            self.assertEqual(r.returncode, 1)
            self.assertIn(f"varnelo-cli: error: {db}: cannot write the database: ".encode(),
                          r.stderr)
            self.assertNotIn(b"scanning", r.stderr)
            self.assertNotIn(b"files added", r.stderr)
            self.assertLess(time.monotonic() - started, 10)
            self.assertFalse(os.path.exists(os.path.join(self.root, "state")))
        # Reading it still works: an empty database.
        r = self.cli("info", db=os.path.join(self.root, "NO/SUCH/DIR/x.mp3db"))
        self.assertEqual(r.returncode, 0)


if __name__ == "__main__":
    unittest.main()
