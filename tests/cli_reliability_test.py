#!/usr/bin/env python3
"""varnelo-cli under hostile conditions: scans of crowded and unreadable trees into a database
that already holds entries, and prune while copies are swapped for links to the kept file.
Run through ctest, which passes the binary in VARNELO_CLI."""
import os
import stat
import subprocess
import unittest

from cli_test import CLI, CliCase, audio, audio_digest, entry_digests, make_mp3, write, write_mp3


class Reliability(CliCase):
    def add_earlier_entries(self):
        """Files added before the scan; returns {path bytes: digest hex}."""
        earlier = {}
        for i, name in enumerate(["first.mp3", "second\nline.mp3", "th\xefrd.mp3"]):
            path = os.path.join(self.root, "earlier", name)
            earlier[os.fsencode(path)] = write_mp3(path, audio(100 + i), 30, "Earlier")
        self.ok("add", *earlier.keys())
        return earlier

    def saved_entries(self):
        return {os.fsencode(path): digest for path, digest in entry_digests(self.db).items()}

    def expect_saved(self, earlier, added):
        """Every earlier entry kept with its digest; besides them exactly added."""
        entries = self.saved_entries()
        for path, digest in earlier.items():
            self.assertEqual(entries.get(path), digest, path)
        self.assertEqual(set(entries) - set(earlier), set(added))
        for path, digest in added.items():
            self.assertEqual(entries[path], digest, path)

    def test_crowded_tree_keeps_every_earlier_entry(self):
        earlier = self.add_earlier_entries()
        tree = os.path.join(self.root, "tree").encode()
        big = os.path.join(tree, b"big")
        os.makedirs(big)
        added = {}
        for i in range(100000):
            # One entry in ten is no song; every song holds four bytes of its own.
            name = b"%06d.%s" % (i, b"txt" if i % 10 == 9 else b"mp3")
            content = i.to_bytes(4, "little")
            with open(os.path.join(big, name), "wb") as f:
                f.write(content)
            if i % 10 != 9:
                added[os.path.join(big, name)] = audio_digest(content)
        os.symlink(b"..", os.path.join(big, b"up"))
        os.symlink(b"loop2", os.path.join(tree, b"loop1"))
        os.symlink(b"loop1", os.path.join(tree, b"loop2"))
        os.mkfifo(os.path.join(tree, b"x.mp3"))
        try:
            os.mknod(os.path.join(tree, b"device.mp3"), stat.S_IFCHR | 0o666, os.makedev(1, 3))
        except PermissionError:
            print("Reliability: no character device made here; a link to /dev/null stands in")
        os.symlink(b"/dev/null", os.path.join(tree, b"null.mp3"))
        odd = os.path.join(tree, b"new\nline \xff\xfe.mp3")
        added[odd] = write_mp3(odd, audio(7), 12, "Odd")
        r = self.run_cli("scan", tree, timeout=600)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        self.expect_saved(earlier, added)

    def test_unreadable_folders_and_files_as_an_unprivileged_user(self):
        earlier = self.add_earlier_entries()
        tree = os.path.join(self.root, "tree")
        for rel, seed in [("open/ok.mp3", 1), ("open/secret.mp3", 2), ("locked/in.mp3", 3),
                          ("search_only/unlisted.mp3", 4), ("top.mp3", 5)]:
            write(os.path.join(tree, rel), make_mp3(audio(seed), 20, None))
        os.chmod(os.path.join(tree, "open/secret.mp3"), 0)
        for folder, mode in [("locked", 0), ("search_only", 0o111)]:
            os.chmod(os.path.join(tree, folder), mode)
            self.locked.append(os.path.join(tree, folder))
        switch = None
        if os.geteuid() == 0:
            # Root reads everything: the scan runs as the unprivileged user 65534.
            os.chmod(self.root, 0o777)
            os.chmod(self.db, 0o666)

            def switch():
                os.setgid(65534)
                os.setuid(65534)
        argv = [CLI, "--db", self.db, "scan", tree]
        r = subprocess.run(argv, cwd=self.root, capture_output=True, timeout=120,
                           preexec_fn=switch)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.expect_saved(earlier, {
            os.path.join(tree, rel).encode(): audio_digest(audio(seed))
            for rel, seed in [("open/ok.mp3", 1), ("top.mp3", 5)]})

    def test_links_into_proc_and_sys_finish(self):
        earlier = self.add_earlier_entries()
        tree = os.path.join(self.root, "tree")
        write(os.path.join(tree, "own.mp3"), make_mp3(audio(9)))
        for target in ("/proc", "/sys"):
            os.symlink(target, os.path.join(tree, os.path.basename(target)))
        r = self.run_cli("scan", tree, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.expect_saved(earlier, {os.path.join(tree, "own.mp3").encode():
                                    audio_digest(audio(9))})

    def test_prune_never_loses_the_kept_copy_while_copies_turn_into_links(self):
        """A thread keeps replacing the duplicates by links to the kept copy while prune
        plans and deletes: the kept copy survives every round untouched."""
        lib = os.path.join(self.root, "lib")
        content = make_mp3(audio(3), 10, "Kept")
        kept = os.path.join(lib, "a/kept.mp3")
        copies = [os.path.join(lib, "b/copy%d.mp3" % i) for i in range(4)]
        for rnd in range(15):
            if os.path.exists(self.db):
                os.remove(self.db)
            write(kept, content)
            for i, path in enumerate(copies):
                if os.path.lexists(path):
                    os.remove(path)
                write(path, make_mp3(audio(3), 20 + i, None))
            self.ok("add", kept, *copies)  # kept first: "--keep first" keeps it

            def swap(stop):
                n = 0
                while not stop.is_set():
                    path = copies[n % len(copies)]
                    link = path + ".link"
                    try:
                        os.symlink(kept, link)
                        os.replace(link, path)
                    except OSError:
                        pass
                    n += 1
            r = self.run_cli_racing(swap, "prune")
            self.assertIn(r.returncode, (0, 1), r.stderr)
            with open(kept, "rb") as f:
                self.assertEqual(f.read(), content, f"round {rnd}: {r.stderr!r}")
            self.assertFalse(os.path.islink(kept))
            for path in copies:
                self.assertFalse(os.path.lexists(path) and not os.path.islink(path)
                                 and os.path.samefile(path, kept))
            for path in copies:
                if os.path.lexists(path + ".link"):
                    os.remove(path + ".link")


if __name__ == "__main__":
    unittest.main()
