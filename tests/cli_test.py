#!/usr/bin/env python3
"""End-to-end tests of varnelo-cli: the built binary run on generated trees of MP3-like files.

The expected groups and digests are computed here from the audio bytes each test writes,
independently of the library. Run through ctest (tests/CMakeLists.txt), which passes the
binary in VARNELO_CLI; one ctest entry per test class. The other test modules take the
shared helpers from here: the case below, and the files and databases of tools/mp3_fixtures.py.
"""
import json
import os
import re
import stat
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from mp3_fixtures import (audio, audio_digest, entry_digests, entry_names,  # noqa: E402,F401
                          make_mp3, read_database, write, write_mp3)

CLI = os.path.abspath(os.environ["VARNELO_CLI"])
MIB = 1048576
SUMMARY = "found {} duplicates in DB! Which take {} MB of space."


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def read_terminal(master):
    """Everything a program writes to the terminal of pty master, until it ends; closes it."""
    seen = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the terminal is gone once the program ended
            break
        if not chunk:
            break
        seen += chunk
    os.close(master)
    return seen


def snapshot(root):
    """Every path under root with its kind, bytes and modification time."""
    result = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            p = os.path.join(folder, name)
            st = os.lstat(p)
            content = None
            if stat.S_ISREG(st.st_mode):
                with open(p, "rb") as f:
                    content = f.read()
            result[p] = (stat.S_IFMT(st.st_mode), content, st.st_mtime_ns)
    return result


class CliCase(unittest.TestCase):
    """A fresh folder per test, with the database inside it."""

    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="varnelo-cli-")
        self.root = os.path.realpath(self._tmp.name)
        self.db = os.path.join(self.root, "test.mp3db")
        # Removed files go to the desktop's trash: the programs get a home of their own, so
        # nothing lands in the tester's trash (and nothing inside the tree under test).
        self._home = tempfile.TemporaryDirectory(prefix="varnelo-home-")
        self.home = os.path.realpath(self._home.name)
        self.trash = os.path.join(self.home, ".local", "share", "Trash")
        self._environment = {k: os.environ.get(k) for k in ("HOME", "XDG_DATA_HOME")}
        os.environ["HOME"] = self.home
        os.environ["XDG_DATA_HOME"] = os.path.join(self.home, ".local", "share")

        self.locked = []  # folders made unreadable, opened again before the cleanup

    def tearDown(self):
        for p in self.locked:
            os.chmod(p, 0o755)
        self._tmp.cleanup()
        self._home.cleanup()
        for key, value in self._environment.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value

    def run_cli(self, *args, db=True, input_bytes=None, timeout=120):
        argv = [CLI] + (["--db", self.db] if db else []) + [os.fsdecode(a) for a in args]
        return subprocess.run(argv, cwd=self.root, capture_output=True, timeout=timeout,
                              input=input_bytes)

    def run_cli_racing(self, racer, *args, **kw):
        """Runs the command while racer(stop) runs on a thread of its own; stop is a
        threading.Event set once the command has ended."""
        stop = threading.Event()
        thread = threading.Thread(target=racer, args=(stop,))
        thread.start()
        try:
            return self.run_cli(*args, **kw)
        finally:
            stop.set()
            thread.join()

    def ok(self, *args, **kw):
        r = self.run_cli(*args, **kw)
        self.assertEqual(r.returncode, 0, f"{args}: {r.stderr.decode(errors='replace')}")
        return r

    def dupes_json(self):
        r = self.ok("dupes", "--json")
        return json.loads(r.stdout.decode("utf-8"))  # strict: the document must be UTF-8

    def entries(self):
        return set(entry_names(self.db))

    def make_library(self):
        """A tree with three groups of copies that differ only in tags, single files and
        names that are not taken. Returns {digest: [paths]} of the .mp3 files written."""
        lib = os.path.join(self.root, "lib")
        big = audio(7, int(1.5 * MIB))  # whole megabytes count per file: 1 each
        plan = [
            ("a/one.mp3", audio(1), None, None),
            ("b/one copy.mp3", audio(1), 200, "Copy Title"),
            ("c/d/one again.mp3", audio(1), None, "Another"),
            ("a/two.mp3", audio(2), 50, "Beat It"),
            ("b/two.mp3", audio(2), None, None),
            ("big/x.mp3", big, 10, "Large"),
            ("big/y.mp3", big, None, None),
            ("single/alone.mp3", audio(3), None, "Lonely Song"),
            ("single/solo.mp3", audio(4), 20, None),
        ]
        groups = {}
        for rel, sound, v2, title in plan:
            path = os.path.join(lib, rel)
            groups.setdefault(write_mp3(path, sound, v2, title), []).append(path)
        write(os.path.join(lib, "a/upper.MP3"), make_mp3(audio(1)))
        write(os.path.join(lib, "a/one.mp3.bak"), make_mp3(audio(1)))
        write(os.path.join(lib, "notes.txt"), b"not music")
        return lib, groups


# ---- Usage and failures ---------------------------------------------------------------------

class UsageAndExitStatus(CliCase):
    def test_usage_errors_exit_2_with_a_message(self):
        for args in ([], ["frobnicate"], ["dupes", "--bogus"], ["prune", "--keep", "biggest"],
                     ["dupes", "--json", "-0"], ["scan"], ["prune", "--keep", "first", "--keep-in", "x"]):
            r = self.run_cli(*args)
            self.assertEqual(r.returncode, 2, args)
            self.assertTrue(r.stderr.startswith(b"varnelo-cli: error: "), r.stderr)
            self.assertEqual(r.stdout, b"")
        self.assertFalse(os.path.exists(self.db))

    def test_help_and_version_exit_0_on_stdout(self):
        r = self.ok("--help", db=False)
        self.assertIn(b"Usage: varnelo-cli", r.stdout)
        for command in (b"scan", b"add", b"clean", b"delete", b"dupes", b"prune", b"search",
                        b"digest", b"info"):
            self.assertIn(command, r.stdout)
        self.assertIn(b"path_hex", self.ok("dupes", "--help").stdout)
        r = self.ok("--version", db=False)
        self.assertRegex(r.stdout.decode(), r"^varnelo-cli \d+\.\d+\.\d+\n$")

    def test_missing_folder_fails_naming_it_and_writes_nothing(self):
        r = self.run_cli("scan", "no-such-folder")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"varnelo-cli: error: no-such-folder: cannot scan: No such file or directory",
                      r.stderr)
        write(os.path.join(self.root, "file.mp3"), make_mp3(audio(1)))
        r = self.run_cli("scan", "file.mp3")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"file.mp3: cannot scan: not a folder", r.stderr)
        self.assertFalse(os.path.exists(self.db))

    def test_unloadable_database_fails_and_stays_untouched(self):
        lib, _ = self.make_library()
        self.ok("scan", lib)
        good = read_bytes(self.db)
        cases = {
            "garbage": b"this is no database at all",
            "short": good[:10],
            "cut": good[:-3],
            "bad magic": b"\x39" + good[1:],
        }
        for what, content in cases.items():
            write(self.db, content)
            os.utime(self.db, ns=(1, 1))
            for command in (["scan", lib], ["add", os.path.join(lib, "a/one.mp3")], ["clean"],
                            ["prune"], ["dupes"], ["info"]):
                r = self.run_cli(*command)
                self.assertEqual(r.returncode, 1, (what, command))
                self.assertIn(f"varnelo-cli: error: {self.db}: cannot load the database: "
                              "not a valid database file".encode(), r.stderr)
                self.assertEqual(read_bytes(self.db), content, (what, command))
                self.assertEqual(os.stat(self.db).st_mtime_ns, 1)
        os.remove(self.db)
        os.mkdir(self.db)
        r = self.run_cli("info")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"cannot load the database: not a regular file", r.stderr)
        os.rmdir(self.db)
        if os.geteuid() != 0:
            write(self.db, good)
            os.chmod(self.db, 0)
            r = self.run_cli("scan", lib)
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"cannot load the database: Permission denied", r.stderr)
            os.chmod(self.db, 0o644)
            self.assertEqual(read_bytes(self.db), good)

    def test_stdout_carries_only_data(self):
        lib, _ = self.make_library()
        r = self.ok("scan", lib)
        self.assertEqual(r.stdout, b"")
        r = self.ok("--verbose", "dupes", "--json")  # the library's lines too, on stderr
        json.loads(r.stdout)
        self.assertIn(b"Database successfully read", r.stderr)
        r = self.ok("-q", "dupes")
        self.assertEqual(r.stderr, b"")


# ---- Each command on a tree of tagged copies ------------------------------------------------

class ScanAndDupes(CliCase):
    def test_scan_adds_every_mp3_once(self):
        lib, groups = self.make_library()
        r = self.ok("scan", lib + "/")
        self.assertEqual(r.stdout, b"")
        self.assertIn(b"scan: 9 files added", r.stderr)
        expected = {p for paths in groups.values() for p in paths}
        self.assertEqual(self.entries(), expected)
        r = self.ok("scan", os.path.relpath(lib, self.root))  # the same files by a relative name
        self.assertIn(b"scan: 0 files added", r.stderr)
        self.assertEqual(self.entries(), expected)

    def test_json_matches_groups_computed_from_the_audio(self):
        lib, groups = self.make_library()
        self.ok("scan", lib)
        doc = self.dupes_json()
        self.assertEqual(set(doc), {"groups", "statistics"})
        seen_first = []
        for group in doc["groups"]:
            paths = [f["path"] for f in group["files"]]
            indexes = [f["index"] for f in group["files"]]
            self.assertEqual(indexes, sorted(indexes))
            self.assertEqual(group["count"], len(paths))
            self.assertEqual(sorted(paths), sorted(groups[group["digest"]]))
            for f in group["files"]:
                self.assertEqual(f["size"], os.path.getsize(f["path"]))
            seen_first.append(indexes[0])
        # Digests are numbered as first met, so groups in digest order start at rising indexes.
        self.assertEqual(seen_first, sorted(seen_first))
        self.assertEqual({g["digest"] for g in doc["groups"]},
                         {d for d, paths in groups.items() if len(paths) > 1})
        duplicates = dup_mb = total_mb = dup_bytes = total_bytes = 0
        for g in doc["groups"]:
            for f in g["files"][1:]:
                duplicates += 1
                dup_mb += f["size"] // MIB
                dup_bytes += f["size"]
        for paths in groups.values():
            total_mb += sum(os.path.getsize(p) // MIB for p in paths)
            total_bytes += sum(os.path.getsize(p) for p in paths)
        self.assertEqual(doc["statistics"], {"duplicates": duplicates, "duplicate_mb": dup_mb,
                                             "duplicate_bytes": dup_bytes, "files": 9,
                                             "total_mb": total_mb, "total_bytes": total_bytes})
        self.assertEqual((duplicates, dup_mb, total_mb), (4, 1, 2))

    def test_text_and_nul_listings_hold_the_same_groups(self):
        lib, _ = self.make_library()
        self.ok("scan", lib)
        doc = self.dupes_json()
        r = self.ok("dupes")
        self.assertIn(SUMMARY.format(4, 1).encode() + b"\n", r.stderr)
        blocks = r.stdout.decode().rstrip("\n").split("\n\n")
        self.assertEqual(len(blocks), len(doc["groups"]))
        for block, group in zip(blocks, doc["groups"]):
            lines = block.split("\n")
            self.assertEqual(lines[0], f"{group['count']} Files with Hash digest: {group['digest']}")
            self.assertEqual(lines[1:], [f["path"] for f in group["files"]])
        r = self.ok("dupes", "-0")
        chunks = r.stdout.split(b"\0\0")
        self.assertEqual(chunks[-1], b"")
        self.assertEqual([c.split(b"\0") for c in chunks[:-1]],
                         [[f["path"].encode() for f in g["files"]] for g in doc["groups"]])

    def test_empty_database_lists_nothing(self):
        r = self.ok("dupes", "--json")
        self.assertEqual(json.loads(r.stdout), {"groups": [], "statistics": {
            "duplicates": 0, "duplicate_mb": 0, "duplicate_bytes": 0, "files": 0, "total_mb": 0,
            "total_bytes": 0}})
        self.assertIn(SUMMARY.format(0, 0).encode(), r.stderr)
        self.assertEqual(self.ok("dupes").stdout, b"")
        self.assertFalse(os.path.exists(self.db))

    def test_info_reports_path_counts_and_stamp(self):
        r = self.ok("info")
        self.assertEqual(r.stdout.decode(),
                         f"database: {self.db}\nfiles: 0\ndigests: 0\nstamp: none (no file yet)\n")
        lib, groups = self.make_library()
        self.ok("scan", lib)
        r = self.ok("info")
        self.assertEqual(r.stdout.decode(), f"database: {self.db}\nfiles: 9\ndigests: {len(groups)}\n"
                                            "stamp: 99\n")
        # The window's naming: ".mp3db" is added unless the name holds it.
        r = self.run_cli("--db", os.path.join(self.root, "other"), "info", db=False)
        self.assertIn(f"database: {self.root}/other.mp3db\n".encode(), r.stdout)


class SingleFileCommands(CliCase):
    def test_digest_prints_md5sum_lines_of_the_audio(self):
        lib, groups = self.make_library()
        digest_of = {p: d for d, paths in groups.items() for p in paths}
        names = sorted(digest_of)
        r = self.ok("digest", *names)
        self.assertEqual(r.stdout.decode(), "".join(f"{digest_of[n]}  {n}\n" for n in names))
        rel = os.path.relpath(names[0], self.root)
        self.assertEqual(self.ok("digest", rel).stdout.decode(), f"{digest_of[names[0]]}  {rel}\n")
        r = self.run_cli("digest", names[0], "missing.mp3", lib)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout.decode(), f"{digest_of[names[0]]}  {names[0]}\n")
        self.assertIn(b"varnelo-cli: error: missing.mp3: cannot digest: No such file or directory",
                      r.stderr)
        self.assertIn(f"varnelo-cli: error: {lib}: cannot digest: is a folder".encode(), r.stderr)
        self.assertFalse(os.path.exists(self.db))

    def test_add_takes_files_once_and_names_failures(self):
        lib, _ = self.make_library()
        one = os.path.join(lib, "a/one.mp3")
        self.ok("add", os.path.relpath(one, self.root))
        self.assertEqual(self.entries(), {one})
        r = self.ok("add", one)
        self.assertIn(b"already in the database", r.stderr)
        r = self.run_cli("add", "nothing.mp3", os.path.join(lib, "b/two.mp3"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"varnelo-cli: error: nothing.mp3: cannot add: No such file or directory",
                      r.stderr)
        self.assertEqual(self.entries(), {one, os.path.join(lib, "b/two.mp3")})

    def test_delete_removes_file_and_entry_and_nothing_unlisted(self):
        lib, _ = self.make_library()
        self.ok("scan", lib)
        victim = os.path.join(lib, "b/two.mp3")
        self.ok("delete", victim)
        self.assertFalse(os.path.exists(victim))
        self.assertNotIn(victim, self.entries())
        unlisted = os.path.join(lib, "a/upper.MP3")
        r = self.run_cli("delete", unlisted)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"not in the database", r.stderr)
        self.assertTrue(os.path.exists(unlisted))

    def test_clean_drops_entries_of_missing_files(self):
        lib, _ = self.make_library()
        self.ok("scan", lib)
        os.remove(os.path.join(lib, "a/one.mp3"))
        os.remove(os.path.join(lib, "single/alone.mp3"))
        self.ok("clean")
        self.assertEqual(len(self.entries()), 7)
        self.assertNotIn(os.path.join(lib, "a/one.mp3"), self.entries())

    def test_search_finds_words_in_path_or_title(self):
        lib, _ = self.make_library()
        self.ok("scan", lib)
        self.assertEqual(self.ok("search", "LONELY", "song").stdout.decode(),
                         os.path.join(lib, "single/alone.mp3") + "\n")
        found = self.ok("search", "single").stdout.decode().splitlines()
        self.assertEqual(sorted(found), sorted([os.path.join(lib, "single/alone.mp3"),
                                                os.path.join(lib, "single/solo.mp3")]))
        self.assertEqual(self.ok("search", "nowhere-at-all").stdout, b"")


# ---- prune -----------------------------------------------------------------------------------

class Prune(CliCase):
    def remaining_groups(self):
        return self.dupes_json()["groups"]

    def test_dry_run_changes_nothing(self):
        lib, groups = self.make_library()
        self.ok("scan", lib)
        before = snapshot(self.root)
        r = self.ok("prune", "--dry-run")
        self.assertEqual(snapshot(self.root), before)
        planned = [line[len("delete: "):] for line in r.stdout.decode().splitlines()
                   if line.startswith("delete: ")]
        self.assertEqual(len(planned), 4)
        kept = [line[len("keep: "):] for line in r.stdout.decode().splitlines()
                if line.startswith("keep: ")]
        self.assertEqual(len(kept), 3)

    def test_dry_run_tells_the_amount_the_prune_then_removes(self):
        lib = os.path.join(self.root, "big")
        for name, seed in (("a", 1), ("b", 1), ("c", 1), ("d", 2), ("e", 2)):
            write_mp3(os.path.join(lib, name + ".mp3"), audio(seed, 1536 * 1024))
        self.ok("scan", lib)
        amount = re.compile(rb"(\d+ files \(\d+ bytes, \d+ MB\))")
        planned = amount.search(self.ok("prune", "--dry-run").stderr).group(1)
        done = amount.search(self.ok("prune").stderr).group(1)
        self.assertEqual(planned, done)
        self.assertTrue(planned.endswith(b", 3 MB)"), planned)

    def test_prune_leaves_exactly_one_copy_per_group(self):
        lib, groups = self.make_library()
        self.ok("scan", lib)
        doc = self.dupes_json()
        firsts = {g["digest"]: g["files"][0]["path"] for g in doc["groups"]}
        r = self.ok("prune")
        self.assertEqual(self.remaining_groups(), [])
        for digest, paths in groups.items():
            left = [p for p in paths if os.path.exists(p)]
            self.assertEqual(len(left), 1, paths)
            if digest in firsts:
                self.assertEqual(left, [firsts[digest]])  # --keep first: the lowest index
        self.assertEqual(len(self.entries()), 5)
        self.assertEqual(len([l for l in r.stdout.decode().splitlines() if l.startswith("trashed: ")]), 4)

    def test_keep_rules_choose_the_copy(self):
        lib, groups = self.make_library()
        self.ok("scan", lib)
        r = self.ok("prune", "--keep-in", os.path.join(lib, "c"))
        self.assertTrue(os.path.exists(os.path.join(lib, "c/d/one again.mp3")))
        self.assertFalse(os.path.exists(os.path.join(lib, "a/one.mp3")))
        self.assertFalse(os.path.exists(os.path.join(lib, "b/one copy.mp3")))
        # The groups without a copy under the folder are left alone, and said so.
        self.assertEqual(sorted(g["digest"] for g in self.remaining_groups()),
                         sorted([audio_digest(audio(2)),
                                 audio_digest(audio(7, int(1.5 * MIB)))]))
        self.assertEqual(r.stderr.count(b"left alone: no copy under a keep-in folder"), 2)
        self.assertEqual(self.run_cli("prune", "--keep-in", "nowhere").returncode, 2)

        os.remove(self.db)
        self.make_library()
        self.ok("scan", lib)
        self.ok("prune", "--keep", "shortest-path")
        self.assertTrue(os.path.exists(os.path.join(lib, "a/one.mp3")))
        self.assertFalse(os.path.exists(os.path.join(lib, "c/d/one again.mp3")))

    def test_changed_copy_is_skipped_and_reported(self):
        lib, _ = self.make_library()
        self.ok("scan", lib)
        changed = self.group_paths(audio(1))[1]
        write(changed, make_mp3(audio(99), 200, "Copy Title"))
        r = self.run_cli("prune")
        self.assertEqual(r.returncode, 1)
        self.assertIn(f"varnelo-cli: warning: {changed}: skipped: its content changed".encode(),
                      r.stderr)
        self.assertTrue(os.path.exists(changed))
        self.assertIn(changed, self.entries())

    def group_paths(self, digest_of_audio):
        """The paths of the group of that audio, in the listing's (index) order."""
        digest = audio_digest(digest_of_audio)
        [group] = [g for g in self.dupes_json()["groups"] if g["digest"] == digest]
        return [f["path"] for f in group["files"]]

    def test_last_copy_survives_when_the_kept_one_is_gone_or_changed(self):
        lib, _ = self.make_library()
        self.ok("scan", lib)
        one = self.group_paths(audio(1))
        two = self.group_paths(audio(2))
        big = self.group_paths(audio(7, int(1.5 * MIB)))
        os.remove(one[0])                  # the copy to keep is gone
        write(two[0], b"ID3")              # the copy to keep changed
        for path in big:                   # every copy changed
            write(path, b"changed")
        r = self.run_cli("prune")
        self.assertEqual(r.returncode, 1)
        self.assertTrue(os.path.exists(one[1]))
        self.assertFalse(os.path.exists(one[2]))
        self.assertTrue(os.path.exists(two[0]))
        self.assertTrue(os.path.exists(two[1]))
        self.assertIn(f"varnelo-cli: warning: {two[0]}: not kept: its content changed".encode(),
                      r.stderr)
        self.assertTrue(all(os.path.exists(p) for p in big))
        self.assertIn(b"left alone", r.stderr)

    def test_same_file_under_two_names_is_never_deleted(self):
        real = os.path.join(self.root, "real")
        write(os.path.join(real, "song.mp3"), make_mp3(audio(5), None, "A"))
        os.symlink(real, os.path.join(self.root, "alias"))
        os.link(os.path.join(real, "song.mp3"), os.path.join(self.root, "hard.mp3"))
        self.ok("add", os.path.join(real, "song.mp3"), os.path.join(self.root, "alias/song.mp3"),
                os.path.join(self.root, "hard.mp3"))
        self.assertEqual(len(self.remaining_groups()), 1)
        r = self.ok("prune")
        self.assertTrue(os.path.exists(os.path.join(real, "song.mp3")))
        self.assertTrue(os.path.exists(os.path.join(self.root, "hard.mp3")))
        self.assertIn(b"the same file on disk", r.stderr)

    def test_chosen_path_that_became_a_link_is_unlinked_as_the_link(self):
        lib, _ = self.make_library()
        self.ok("scan", lib)
        outside = os.path.join(self.root, "outside.mp3")
        write(outside, make_mp3(audio(2), 7, "Outside"))
        kept, dup = self.group_paths(audio(2))
        os.remove(dup)
        os.symlink(outside, dup)
        self.ok("prune")
        self.assertFalse(os.path.lexists(dup))
        self.assertTrue(os.path.exists(outside))
        self.assertTrue(os.path.exists(kept))


# ---- Progress of a scan ----------------------------------------------------------------------

class ScanProgress(CliCase):
    def test_progress_is_plain_lines_off_a_terminal_and_none_when_quiet(self):
        lib, _ = self.make_library()
        r = self.ok("scan", lib)
        lines = r.stderr.decode().splitlines()
        self.assertTrue(any(l.startswith("varnelo-cli: scanning: ") and " files added, in " in l
                            for l in lines), lines)
        self.assertNotIn("\r", r.stderr.decode())
        self.assertIn(f"varnelo-cli: scan: 9 files added from {lib}", lines)
        os.remove(self.db)
        r = self.ok("-q", "scan", lib)
        self.assertEqual(r.stderr, b"")
        self.assertEqual(len(self.entries()), 9)

    def test_progress_rewrites_one_line_on_a_terminal(self):
        import pty
        lib, _ = self.make_library()
        master, slave = pty.openpty()
        proc = subprocess.Popen([CLI, "--db", self.db, "scan", lib], cwd=self.root,
                                stdout=subprocess.DEVNULL, stderr=slave)
        os.close(slave)
        seen = read_terminal(master)
        self.assertEqual(proc.wait(timeout=60), 0)
        self.assertIn(b"\r\x1b[Kscanning: ", seen)
        self.assertNotIn(b"varnelo-cli: scanning:", seen)
        self.assertIn(b"\r\x1b[Kvarnelo-cli: scan: 9 files added", seen)


# ---- Hostile trees ---------------------------------------------------------------------------

class HostileTree(CliCase):
    @staticmethod
    def make_deep(top, depth, content):
        """A file below depth folders of 200 bytes each, made relative to open folders.
        Returns its path."""
        os.makedirs(top)
        fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
        try:
            for _ in range(depth):
                os.mkdir(b"d" * 200, dir_fd=fd)
                inner = os.open(b"d" * 200, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
                os.close(fd)
                fd = inner
            out = os.open(b"past-the-limit.mp3", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
            os.write(out, content)
            os.close(out)
        finally:
            os.close(fd)
        return os.path.join(os.fsencode(top), *[b"d" * 200] * depth, b"past-the-limit.mp3")

    def test_scan_finishes_and_adds_exactly_the_readable_regular_files(self):
        tree = os.path.join(self.root, "tree").encode()
        good = {}
        def put(rel, sound, **tags):
            path = os.path.join(tree, rel)
            good[path] = write_mp3(path, sound, **tags)
        put(b"plain.mp3", audio(1))
        put(b"odd\xff\xfe name.mp3", audio(1), title="Odd")        # not UTF-8, duplicate
        put(b"line\nbreak.mp3", audio(2))
        put(b"sub/space and * star.mp3", audio(3))
        put(b"sub/.mp3", audio(4))
        # A path of nearly 4,000 bytes, and one past the system's limit, which can only be
        # reached folder by folder: both are added.
        put(b"deep/" + b"/".join([b"f" * 200] * 19) + b"/long.mp3", audio(5))
        deeper = self.make_deep(os.path.join(tree, b"deeper"), 22, make_mp3(audio(6)))
        good[deeper] = audio_digest(audio(6))
        os.symlink(b"..", os.path.join(tree, b"sub/loop"))               # a link loop
        os.symlink(os.path.join(tree, b"sub"), os.path.join(tree, b"sub/self"))
        os.mkfifo(os.path.join(tree, b"x.mp3"))                           # would block a reader
        os.symlink(b"/dev/null", os.path.join(tree, b"null.mp3"))         # a character device
        os.symlink(b"missing-target.mp3", os.path.join(tree, b"dangling.mp3"))
        os.mkdir(os.path.join(tree, b"folder.mp3"))
        with open(os.path.join(tree, b"empty.mp3"), "wb"):
            pass
        good[os.path.join(tree, b"empty.mp3")] = audio_digest(b"")
        if os.geteuid() != 0:
            locked = os.path.join(tree, b"locked.mp3")
            with open(locked, "wb") as f:
                f.write(make_mp3(audio(6)))
            os.chmod(locked, 0)
            os.makedirs(os.path.join(tree, b"closed"))
            with open(os.path.join(tree, b"closed/in.mp3"), "wb") as f:
                f.write(make_mp3(audio(7)))
            os.chmod(os.path.join(tree, b"closed"), 0)
            self.locked.append(os.path.join(tree, b"closed"))
        else:
            print("HostileTree: running as root, unreadable files and folders not tried")
        before = os.path.join(self.root, "before.mp3")
        write(before, make_mp3(audio(8)))
        self.ok("add", before)

        r = self.run_cli("scan", tree, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        _digests, files = read_database(self.db)
        added = {name: digest for name, digest in
                 ((n, _digests[h]) for h, _s, n in files)}
        self.assertEqual(set(added), set(good) | {before.encode()})
        for path, digest in good.items():
            self.assertEqual(added[path], digest, path)
        doc = self.dupes_json()
        [group] = doc["groups"]
        odd = [f for f in group["files"] if "path_hex" in f]
        self.assertEqual(len(odd), 1)
        self.assertEqual(bytes.fromhex(odd[0]["path_hex"]), os.path.join(tree, b"odd\xff\xfe name.mp3"))
        self.assertIn("\ufffd", odd[0]["path"])


if __name__ == "__main__":
    unittest.main()
