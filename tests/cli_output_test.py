#!/usr/bin/env python3
"""varnelo-cli's output where it can go wrong: standard output on a full disk (/dev/full) or a
pipe whose reader is gone, file names that would steer a terminal, and the library's chatter.
Run through ctest, which passes the binary in VARNELO_CLI; one ctest entry per class."""
import contextlib
import fcntl
import json
import os
import pty
import subprocess
import time
import unittest

from cli_test import (CLI, CliCase, audio, entry_names, make_mp3, read_database, read_terminal,
                      write)

FULL = "No space left on device"
BROKEN = "Broken pipe"


def error_line(reason):
    return f"varnelo-cli: error: cannot write to standard output: {reason}\n".encode()


@contextlib.contextmanager
def full_disk():
    with open("/dev/full", "wb") as f:
        yield f.fileno()


@contextlib.contextmanager
def closed_pipe():
    """The writing end of a pipe whose reader is already gone."""
    r, w = os.pipe()
    os.close(r)
    try:
        yield w
    finally:
        os.close(w)


SINKS = {FULL: full_disk, BROKEN: closed_pipe}


class OutputCase(CliCase):
    def argv(self, args, db=True):
        return [CLI] + (["--db", self.db] if db else []) + [os.fsdecode(a) for a in args]

    def run_into(self, fd, *args, db=True):
        return subprocess.run(self.argv(args, db), cwd=self.root, stdout=fd,
                              stderr=subprocess.PIPE, timeout=120)

    def library(self):
        """Three groups of three copies; returns the copies in the database's order."""
        lib = os.path.join(self.root, "lib")
        paths = []
        for group in range(3):
            for copy in range(3):
                path = os.path.join(lib, f"g{group}", f"copy{copy}.mp3")
                write(path, make_mp3(audio(group), 10 + copy, f"Song {group}"))
                paths.append(path)
        self.ok("add", *paths)
        return paths

    def assert_database_matches_disk(self, paths):
        """The saved entries are exactly the files of paths still on disk."""
        names = set(entry_names(self.db))
        self.assertEqual(names, {p for p in paths if os.path.exists(p)})


class UnwritableOutput(OutputCase):
    def test_every_command_that_writes_fails_when_its_output_is_lost(self):
        paths = self.library()
        before = read_database(self.db)
        for reason, sink in SINKS.items():
            for args, db in ((["search", "song"], True), (["info"], True),
                             (["digest", paths[0]], True), (["dupes"], True),
                             (["dupes", "--json"], True), (["dupes", "-0"], True),
                             (["prune", "--dry-run"], True), (["--help"], False),
                             (["--version"], False)):
                with sink() as fd:
                    r = self.run_into(fd, *args, db=db)
                self.assertEqual(r.returncode, 1, (reason, args, r.stderr))
                self.assertIn(error_line(reason), r.stderr, args)
            self.assertTrue(all(os.path.exists(p) for p in paths))
            self.assertEqual(read_database(self.db), before)

    def test_commands_that_write_no_data_still_succeed(self):
        paths = self.library()
        extra = os.path.join(self.root, "more", "new.mp3")
        write(extra, make_mp3(audio(9)))
        for reason, sink in SINKS.items():
            with sink() as fd:
                r = self.run_into(fd, "scan", os.path.dirname(extra))
            self.assertEqual(r.returncode, 0, (reason, r.stderr))
            with sink() as fd:
                self.assertEqual(self.run_into(fd, "clean").returncode, 0)
        self.assert_database_matches_disk(paths + [extra])

    def test_prune_deletes_nothing_when_its_first_line_is_lost(self):
        paths = self.library()
        for reason, sink in SINKS.items():
            with sink() as fd:
                r = self.run_into(fd, "prune")
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertIn(error_line(reason), r.stderr)
            self.assertIn(b"prune stopped: its output is lost; the 0 files deleted before",
                          r.stderr)
            self.assertTrue(all(os.path.exists(p) for p in paths), reason)
            self.assert_database_matches_disk(paths)

    def test_delete_stops_before_its_next_deletion(self):
        paths = self.library()
        victims = paths[1:3] + paths[4:6]
        # A pipe without a reader is noticed before the first deletion.
        with closed_pipe() as fd:
            r = self.run_into(fd, "delete", *victims)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(error_line(BROKEN), r.stderr)
        self.assertTrue(all(os.path.exists(p) for p in paths))
        # A full disk shows only when the first line is written, after the first deletion,
        # which is then named on standard error in its place.
        with full_disk() as fd:
            r = self.run_into(fd, "delete", *victims)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(error_line(FULL), r.stderr)
        self.assertIn(f"varnelo-cli: error: {victims[0]}: trashed, but its line could not be "
                      "written\n".encode(), r.stderr)
        self.assertIn(b"delete stopped: its output is lost; the 1 files deleted before",
                      r.stderr)
        self.assertFalse(os.path.exists(victims[0]))
        self.assertTrue(all(os.path.exists(p) for p in victims[1:]))
        self.assert_database_matches_disk(paths)

    def small_full_pipe(self, room):
        """A pipe of one page with only room bytes free; returns (reader, writer)."""
        r, w = os.pipe()
        fcntl.fcntl(w, fcntl.F_SETPIPE_SZ, 4096)
        if fcntl.fcntl(w, fcntl.F_GETPIPE_SZ) != 4096:
            os.close(r)
            os.close(w)
            self.skipTest("this kernel does not make a pipe of one page")
        os.write(w, b"x" * (4096 - room))
        return r, w

    def stop_reader_after(self, deleted_path, *args):
        """Runs the command with standard output on a pipe that blocks its next write once
        deleted_path is gone, then takes the reader away; returns the finished process."""
        proc = subprocess.Popen(self.argv(args), cwd=self.root, stdout=self.pipe_w,
                                stderr=subprocess.PIPE)
        os.close(self.pipe_w)
        deadline = time.monotonic() + 60
        while os.path.exists(deleted_path) and time.monotonic() < deadline:
            if proc.poll() is not None:
                break
            time.sleep(0.01)
        time.sleep(0.2)  # the command is now blocked writing the line of that deletion
        os.close(self.pipe_r)
        _out, err = proc.communicate(timeout=60)
        return proc.returncode, err

    def test_prune_stops_at_the_deletion_whose_line_the_reader_never_got(self):
        paths = self.library()
        # The plan's file lines, without the reason below each.
        plan = [l for l in self.ok("prune", "--dry-run").stdout.decode().splitlines()
                if not l.startswith("    ")]
        self.assertEqual(plan[0], f"keep: {paths[0]}")
        first = plan[1][len("delete: "):]
        # Room for the first line only: the line of the first deletion blocks, and the
        # reader goes away meanwhile.
        self.pipe_r, self.pipe_w = self.small_full_pipe(len(plan[0]) + 1)
        status, err = self.stop_reader_after(first, "prune")
        self.assertEqual(status, 1, err)
        self.assertIn(error_line(BROKEN), err)
        self.assertIn(f"{first}: trashed, but its line could not be written".encode(), err)
        self.assertIn(b"the 1 files deleted before are recorded in the database", err)
        self.assertEqual([p for p in paths if not os.path.exists(p)], [first])
        self.assert_database_matches_disk(paths)

    def test_delete_stops_when_the_reader_goes_away_mid_run(self):
        paths = self.library()
        victims = [paths[1], paths[4], paths[7]]
        self.pipe_r, self.pipe_w = self.small_full_pipe(0)
        status, err = self.stop_reader_after(victims[0], "delete", *victims)
        self.assertEqual(status, 1, err)
        self.assertIn(error_line(BROKEN), err)
        self.assertEqual([p for p in paths if not os.path.exists(p)], [victims[0]])
        self.assert_database_matches_disk(paths)

    def test_output_that_reaches_its_reader_is_a_success(self):
        paths = self.library()
        r = self.ok("delete", paths[1])
        self.assertEqual(r.stdout.decode(), f"trashed: {paths[1]}\n")
        self.assertEqual(self.ok("prune").stdout.decode().count("trashed: "), 5)
        self.assert_database_matches_disk(paths)


class TerminalNames(CliCase):
    # Names a terminal would act on: a title-setting sequence, a colour, a line end, a
    # C1 control in UTF-8, a byte that is not UTF-8, and a quote among them.
    # Two more names hold every byte a name can hold, so each escape is read back once.
    HOSTILE = [b"x\x1b]0;owned\x07.mp3", b"red\x1b[31m it's.mp3", b"two\nlines.mp3",
               b"c1\xc2\x9bm.mp3", b"latin\xff.mp3", b"tab\there.mp3",
               b"lo" + bytes(b for b in range(1, 128) if b != ord("/")) + b".mp3",
               b"hi" + bytes(range(128, 256)) + b".mp3"]
    PLAIN = [b"it's fine.mp3", b"caf\xc3\xa9 song.mp3"]

    def setUp(self):
        super().setUp()
        folder = os.path.join(self.root.encode(), b"lib")
        self.names = [os.path.join(folder, n) for n in self.HOSTILE + self.PLAIN]
        for path in self.names:
            write(path, make_mp3(audio(1), None, "Same"))
        self.ok("add", *self.names)

    def on_terminal(self, *args, stream="stdout"):
        """Runs with one stream on a terminal; returns (status, what the terminal got,
        the other stream's bytes). The terminal's own CR before each line end is dropped."""
        master, slave = pty.openpty()
        other = subprocess.PIPE
        kw = {"stdout": slave, "stderr": other} if stream == "stdout" else \
            {"stdout": other, "stderr": slave}
        proc = subprocess.Popen([CLI, "--db", self.db] + [os.fsdecode(a) for a in args],
                                cwd=self.root, **kw)
        os.close(slave)
        seen = read_terminal(master)
        out, err = proc.communicate(timeout=60)
        return proc.returncode, seen.replace(b"\r\n", b"\n"), out if out is not None else err

    def read_back(self, words):
        """What a shell makes of each word."""
        script = "printf '%s\\0' " + " ".join(w.decode("latin-1") for w in words)
        out = subprocess.run(["bash", "-c", script.encode("latin-1")], capture_output=True,
                             check=True).stdout
        return out.split(b"\0")[:-1]

    def assert_safe_for_a_terminal(self, text):
        for byte in text:
            self.assertFalse(byte < 0x20 and byte != 0x0A or byte == 0x7F, text)
        self.assertNotIn(b"\xc2\x9b", text)
        text.decode("utf-8")  # a byte that is not UTF-8 would not be shown

    def test_names_on_a_terminal_are_quoted_and_read_back_by_a_shell(self):
        for args in (["dupes"], ["search", "same"], ["prune", "--dry-run"]):
            status, seen, _ = self.on_terminal(*args)
            self.assertEqual(status, 0, seen)
            self.assert_safe_for_a_terminal(seen)
            lines = [l for l in seen.split(b"\n") if l]
            if args[0] == "dupes":
                lines = lines[1:]  # after the group's header
            elif args[0] == "prune":
                # "keep: NAME", "delete: NAME", each followed by its reason, indented.
                lines = [l.split(b": ", 1)[1] for l in lines if not l.startswith(b"    ")]
            quoted = [l for l in lines if l.startswith(b"'")]
            # Names a terminal shows as they are stay as they are.
            self.assertEqual(sorted(set(lines) - set(quoted)),
                             sorted(n for n in self.names if n.endswith(tuple(self.PLAIN))))
            self.assertEqual(sorted(self.read_back(quoted)),
                             sorted(n for n in self.names if n.endswith(tuple(self.HOSTILE))))

    def test_messages_on_a_terminal_quote_names_and_mask_library_text(self):
        missing = os.path.join(self.root.encode(), b"gone\x1b[2J.mp3")
        status, seen, _ = self.on_terminal("add", missing, stream="stderr")
        self.assertEqual(status, 1)
        self.assert_safe_for_a_terminal(seen)
        self.assertIn(b"varnelo-cli: error: '" + missing[:-8] + b"'$'\\033''[2J.mp3': cannot add",
                      seen)
        # The library's own lines carry tag text: shown with '?' for what a terminal acts on.
        write(os.path.join(self.root, "t.mp3"), make_mp3(audio(2), None, "ti\x1b[5mtle"))
        self.ok("add", os.path.join(self.root, "t.mp3"))
        status, seen, out = self.on_terminal("--verbose", "search", "nothing", stream="stderr")
        self.assertEqual(status, 0)
        self.assert_safe_for_a_terminal(seen)
        self.assertIn(b"title:[ti?[5mtle]", seen)

    def test_pipes_nul_lists_and_json_keep_the_exact_bytes(self):
        r = self.ok("dupes")
        for name in self.names:
            self.assertIn(b"\n" + name + b"\n", r.stdout)
        _status, seen, _ = self.on_terminal("dupes", "-0")
        self.assertEqual(sorted(seen.split(b"\0")[:-2]), sorted(self.names))
        _status, seen, _ = self.on_terminal("dupes", "--json")
        files = json.loads(seen)["groups"][0]["files"]
        exact = [bytes.fromhex(f["path_hex"]) if "path_hex" in f else f["path"].encode()
                 for f in files]
        self.assertEqual(sorted(exact), sorted(self.names))
        self.assertNotIn(b"\x1b", seen)  # JSON escapes C0 controls itself


class QuietByDefault(CliCase):
    def test_search_prints_only_the_matches_unless_verbose(self):
        song = os.path.join(self.root, "lib", "song.mp3")
        write(song, make_mp3(audio(1), None, "Wanted Title"))
        write(os.path.join(self.root, "lib", "other.mp3"), make_mp3(audio(2), None, "Other"))
        self.ok("scan", os.path.join(self.root, "lib"))
        r = self.ok("search", "wanted")
        self.assertEqual((r.stdout, r.stderr), (song.encode() + b"\n", b""))
        r = self.ok("--verbose", "search", "wanted")
        self.assertEqual(r.stdout, song.encode() + b"\n")
        self.assertIn(b"reading id3 title\n", r.stderr)
        self.assertIn(b"searching in id3-title:Wanted Title\n", r.stderr)
        self.assertEqual(self.run_cli("-q", "--verbose", "info").returncode, 2)

    def test_scan_names_the_files_it_could_not_open(self):
        tree = os.path.join(self.root, "tree").encode()
        write(os.path.join(tree, b"good.mp3"), make_mp3(audio(1)))
        fifos = [os.path.join(tree, b"fifo%d.mp3" % i) for i in range(9)]
        fifos.append(os.path.join(tree, b"odd\nfifo.mp3"))
        for fifo in fifos:
            os.mkfifo(fifo)
        dangling = os.path.join(tree, b"dangling.mp3")
        os.symlink(b"nowhere", dangling)
        r = self.ok("scan", tree)
        self.assertNotIn(b"Warning file not found", r.stderr)
        named = [line for line in r.stderr.split(b"varnelo-cli: warning: ")[1:]]
        reasons = {line.split(b": cannot read: ")[0]: line.split(b": cannot read: ")[1]
                   for line in named if b": cannot read: " in line}
        self.assertEqual(len(reasons), 8)
        for path, reason in reasons.items():
            self.assertIn(path, fifos + [dangling])
            self.assertIn(reason, (b"not a regular file\n", b"No such file or directory\n"))
        summary = (b"scan of " + tree + b" left out 0 folders it could not list and 11 files it "
                   b"could not read (the first 8 named above)\n")
        self.assertIn(b"varnelo-cli: warning: " + summary, r.stderr)
        self.assertIn(b"scan: 1 files added", r.stderr)
        # A scan that adds nothing new still tells, -q or not; -q drops only the notes.
        r = self.ok("-q", "scan", tree)
        self.assertIn(summary, r.stderr)
        self.assertNotIn(b"files added", r.stderr)
        # The whole name of an entry that could not be opened, line end included.
        os.remove(self.db)
        for fifo in fifos[:-1]:
            os.remove(fifo)
        os.remove(dangling)
        r = self.ok("scan", tree)
        self.assertIn(b"varnelo-cli: warning: " + fifos[-1] + b": cannot read: not a regular "
                      b"file\n", r.stderr)

if __name__ == "__main__":
    unittest.main()
