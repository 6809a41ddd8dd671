#!/usr/bin/env python3
"""varnelo-cli's cleanup: keep rules on real MP3s encoded by lame and tagged by id3v2 and
eyeD3, their tags against mutagen's reading, removal to the desktop's trash (a valid
.trashinfo, restorable) or for good, usage errors, canonical paths, and removal while kept
copies vanish, change or turn into links. Run through ctest, which passes the binary in
VARNELO_CLI; one ctest entry per class. Each test has a home (and so a trash) of its own."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
from datetime import datetime

from cli_test import CLI, CliCase, audio, entry_names, make_mp3, read_bytes, write
from mp3_fixtures import encode  # in tools/, which importing cli_test puts on the path

TOOLS = ("lame", "id3v2", "eyeD3")


def missing_tools():
    return [t for t in TOOLS if shutil.which(t) is None]


def run_tool(*argv):
    subprocess.run(argv, check=True, capture_output=True)


def jpeg(n):
    """A small picture eyeD3 takes for a JPEG."""
    return b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + bytes(range(256)) * (n // 256 + 1) + b"\xff\xd9"


def set_mtime(path, seconds):
    os.utime(path, (seconds, seconds), follow_symlinks=False)


class RealMp3Case(CliCase):
    """Copies of one lame encoding, tagged by the tools; the plain encoding is made once."""
    plain = None

    @classmethod
    def setUpClass(cls):
        missing = missing_tools()
        if missing:
            raise unittest.SkipTest("needs lame, id3v2 and eyeD3 (Debian packages lame, id3v2, "
                                    f"eyed3; tools/install-deps installs them); missing: {missing}")
        cls._work = os.path.realpath(tempfile.mkdtemp(prefix="varnelo-mp3-"))
        cls.plain = os.path.join(cls._work, "plain.mp3")
        encode(cls.plain, audio(11, 2 * 44100 * 4))  # two seconds of 16-bit stereo noise
        cls.cover = os.path.join(cls._work, "cover.jpg")
        with open(cls.cover, "wb") as f:
            f.write(jpeg(3000))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls._work, ignore_errors=True)

    def copy(self, rel, *tagger):
        """A copy of the encoding at lib/rel, tagged by the command tagger (path appended)."""
        path = os.path.join(self.root, "lib", rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(self.plain, path)
        if tagger:
            run_tool(*tagger, path)
        return path

    def keeper(self, *rules):
        """The kept copy of the one group as prune's dry run plans it, and the plan's lines."""
        r = self.ok("prune", "--dry-run", *rules)
        lines = r.stdout.decode().splitlines()
        kept = [l[len("keep: "):] for l in lines if l.startswith("keep: ")]
        self.assertEqual(len(kept), 1, lines)
        return kept[0], lines


class KeepRulesOnRealFiles(RealMp3Case):
    def setUp(self):
        super().setUp()
        # In database order, with what each rule sees:
        #   path length        tags (score)                     modified
        # 0 Music/Album/01 Song.mp3   medium   eyeD3 2.4, all fields, cover (14)   2000
        # 1 Musicbox/s.mp3            short    none (0)                            4000
        # 2 downloads/...long...mp3   longest  id3v2: v2.3 + v1, six fields (10)   1000
        # 3 x/b.mp3                   shortest id3v2 -1: title in ID3v1 only (2)   3000
        self.files = [
            self.copy("Music/Album/01 Song.mp3", "eyeD3", "--quiet", "--to-v2.4", "-t", "Song",
                      "-a", "Artist", "-A", "Album", "-b", "Band", "-Y", "2005", "-n", "1",
                      "-G", "Jazz", "--add-image", self.cover + ":FRONT_COVER"),
            self.copy("Musicbox/s.mp3"),
            self.copy("downloads/a much longer name of the very same song.mp3", "id3v2", "-a",
                      "Artist", "-t", "Song", "-A", "Album", "-y", "1999", "-T", "1", "-g", "8"),
            self.copy("x/b.mp3", "id3v2", "-1", "-t", "Song"),
        ]
        for path, when in zip(self.files, (2000, 4000, 1000, 3000)):
            set_mtime(path, when)
        self.ok("add", *self.files)

    def test_each_rule_keeps_the_hand_computed_copy(self):
        f = self.files
        lib = os.path.join(self.root, "lib")
        os.symlink(os.path.join(lib, "Musicbox"), os.path.join(self.root, "MyMusic"))
        for rules, expected in [
                ((), f[0]), (("--keep", "first"), f[0]), (("--keep", "shortest-path"), f[3]),
                (("--keep", "longest-path"), f[2]), (("--keep", "newest"), f[1]),
                (("--keep", "oldest"), f[2]), (("--keep", "best-tags"), f[0]),
                (("--keep-in", os.path.join(lib, "Music")), f[0]),   # not Musicbox
                (("--keep-in", os.path.join(self.root, "MyMusic")), f[1]),  # through a link
                (("--protect", os.path.join(lib, "x")), f[3])]:
            kept, _ = self.keeper(*rules)
            self.assertEqual(kept, expected, rules)
            # dupes marks the same copy.
            doc = json.loads(self.ok("dupes", "--json", *(rules or ("--keep", "first"))).stdout)
            fates = {x["path"]: x["fate"] for x in doc["groups"][0]["files"]}
            self.assertEqual([p for p, v in fates.items() if v == "keep"], [expected], rules)

    def test_ties_fall_through_in_the_order_written(self):
        f = self.files
        set_mtime(f[1], 2000)  # as new as the first copy now... and both older than x/b
        set_mtime(f[3], 500)
        # newest: 0 and 1 tie at 2000; shortest-path then picks Musicbox.
        self.assertEqual(self.keeper("--keep", "newest", "--keep", "shortest-path")[0], f[1])
        self.assertEqual(self.keeper("--keep", "newest")[0], f[0])
        # The order written decides: shortest-path first picks x/b at once.
        self.assertEqual(self.keeper("--keep", "shortest-path", "--keep", "newest")[0], f[3])
        # A protected copy stays whatever is kept, with its reason in the plan.
        kept, lines = self.keeper("--keep", "best-tags", "--protect",
                                  os.path.join(self.root, "lib", "x"))
        self.assertEqual(kept, f[0])
        at = lines.index(f"stay: {f[3]}")
        self.assertTrue(lines[at + 1].startswith("    protected"), lines)
        self.assertEqual(sum(1 for l in lines if l.startswith("delete: ")), 2)
        # Every file of the plan is followed by its reason.
        for i, line in enumerate(lines):
            if line.split(": ", 1)[0] in ("keep", "delete", "stay"):
                self.assertTrue(lines[i + 1].startswith("    ") and len(lines[i + 1]) > 4)

    def test_group_without_a_copy_in_the_keep_in_folder_is_left_alone(self):
        other = os.path.join(self.root, "lib", "other")
        write(os.path.join(other, "single.mp3"), make_mp3(audio(5), 10, "Alone"))
        self.ok("add", os.path.join(other, "single.mp3"))
        r = self.ok("prune", "--keep-in", other)
        self.assertIn(b"left alone: no copy under a keep-in folder", r.stderr)
        self.assertTrue(all(os.path.exists(p) for p in self.files))
        # A --keep rule decides it.
        r = self.ok("prune", "--keep-in", other, "--keep", "oldest")
        self.assertEqual([p for p in self.files if os.path.exists(p)], [self.files[2]])
        self.assertEqual(r.stdout.decode().count("trashed: "), 3)


class TagsAgainstMutagen(RealMp3Case):
    # mutagen runs where it is installed: this interpreter, or the system's python3.
    READER = r'''
import json, sys
from mutagen.mp3 import MP3
from mutagen.apev2 import APEv2, error as ApeError
out = {}
for path in sys.argv[1:]:
    mp3 = MP3(path)
    tags = mp3.tags
    v2 = tags is not None and tags.version[0] == 2
    def text(frame):
        f = tags.get(frame) if tags is not None else None
        return str(f.text[0]) if f is not None and f.text else ""
    try:
        ape = APEv2(path)
    except ApeError:
        ape = None
    def ape_text(*keys):
        for k in keys:
            if ape is not None and k in ape:
                return str(ape[k])
        return ""
    year = text("TDRC") or text("TDRL") or text("TDOR") or ape_text("Year")
    track = text("TRCK") or ape_text("Track")
    genres = tags["TCON"].genres if tags is not None and "TCON" in tags else []
    pictures = tags.getall("APIC") if tags is not None else []
    out[path] = {
        "id3v2": "2.%d" % tags.version[1] if v2 else None,
        "ape": ape is not None,
        "title": text("TIT2") or ape_text("Title"),
        "artist": text("TPE1") or ape_text("Artist"),
        "album": text("TALB") or ape_text("Album"),
        "album_artist": text("TPE2") or ape_text("Album Artist", "AlbumArtist"),
        "year": int(year[:4]) if year[:4].isdigit() else 0,
        "track": int(track.split("/")[0]) if track.split("/")[0].isdigit() else 0,
        "genre": genres[0] if genres else ape_text("Genre"),
        "cover_count": len(pictures),
        "cover_bytes": sum(len(p.data) for p in pictures),
        "sample_rate_hz": mp3.info.sample_rate,
        "length_ms": mp3.info.length * 1000,
        "bitrate_kbps": mp3.info.bitrate / 1000,
    }
print(json.dumps(out))
'''

    def mutagen(self, paths):
        for python in (sys.executable, "/usr/bin/python3"):
            if os.path.exists(python) and subprocess.run(
                    [python, "-c", "import mutagen"], capture_output=True).returncode == 0:
                r = subprocess.run([python, "-c", self.READER, *paths], capture_output=True,
                                   check=True)
                return json.loads(r.stdout)
        self.skipTest("needs mutagen (Debian package python3-mutagen; tools/install-deps)")

    def test_dupes_tags_agree_with_mutagen(self):
        files = [
            self.copy("plain.mp3"),
            self.copy("id3v2.mp3", "id3v2", "-a", "Tool Artist", "-t", "Tool title", "-A",
                      "Album", "-y", "1999", "-T", "4/12", "-g", "17"),
            self.copy("v1.mp3", "id3v2", "-1", "-a", "Only v1", "-t", "v1 title"),
            self.copy("eyed3-24.mp3", "eyeD3", "--quiet", "--to-v2.4", "-t", "Eye title", "-a",
                      "Eye artist", "-A", "Eye album", "-b", "Eye band", "-Y", "2005", "-n",
                      "7", "-G", "Jazz", "--add-image", self.cover + ":FRONT_COVER"),
            self.copy("eyed3-23.mp3", "eyeD3", "--quiet", "--to-v2.3", "-t", "Čajka über",
                      "-a", "Ängel", "--recording-date", "1987", "--add-image",
                      self.cover + ":BACK_COVER:back", "--add-image",
                      self.cover + ":FRONT_COVER:front"),
        ]
        self.ok("add", *files)
        doc = json.loads(self.ok("dupes", "--tags", "--json").stdout)
        ours = {f["path"]: f["tags"] for g in doc["groups"] for f in g["files"]}
        self.assertEqual(sorted(ours), sorted(files))
        theirs = self.mutagen(files)
        # The tools wrote what the comparison is about.
        self.assertEqual((theirs[files[3]]["title"], theirs[files[3]]["cover_count"]),
                         ("Eye title", 1))
        self.assertEqual((theirs[files[4]]["year"], theirs[files[4]]["cover_count"]), (1987, 2))
        self.assertEqual(theirs[files[1]]["genre"], "Rock")
        for path in files:
            mine, want = ours[path], theirs[path]
            for field in ("id3v2", "ape", "title", "artist", "album", "album_artist", "year",
                          "track", "genre", "cover_count", "cover_bytes", "sample_rate_hz"):
                self.assertEqual(mine[field], want[field], (os.path.basename(path), field))
            self.assertAlmostEqual(mine["length_ms"], want["length_ms"], delta=60)
            self.assertAlmostEqual(mine["bitrate_kbps"], want["bitrate_kbps"], delta=4)
            # ID3v1: its 128 bytes at the end, as any reader finds them.
            with open(path, "rb") as f:
                f.seek(-128, os.SEEK_END)
                self.assertEqual(mine["id3v1"], f.read(3) == b"TAG", path)
            self.assertTrue(mine["readable"])

        # Text columns: the path, then the tag kinds and fields, tab-separated.
        lines = self.ok("dupes", "--tags").stdout.decode().splitlines()
        row = next(l.split("\t") for l in lines if l.startswith(files[3]))
        self.assertEqual(row[1:9], ["ID3v2.4", "Eye title", "Eye artist", "Eye album",
                                    "Eye band", "2005", "7", "Jazz"])
        # Plain text stays as it was without --tags.
        self.assertEqual(self.ok("dupes").stdout.decode().splitlines()[1:],
                         [f["path"] for f in doc["groups"][0]["files"]])


class TrashAndPermanent(CliCase):
    def library(self):
        paths = []
        for group in range(2):
            for copy in range(3):
                path = os.path.join(self.root, "lib", f"g{group}", f"copy {copy} ü.mp3")
                write(path, make_mp3(audio(40 + group), 10 + copy, "Song"))
                paths.append(path)
        self.ok("add", *paths)
        return paths

    def trash_infos(self, trash):
        """{Path of each .trashinfo: (name in the trash, DeletionDate)}."""
        infos = {}
        folder = os.path.join(trash, "info")
        for name in os.listdir(folder) if os.path.isdir(folder) else []:
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                lines = f.read().splitlines()
            self.assertEqual(lines[0], "[Trash Info]")
            fields = dict(l.split("=", 1) for l in lines[1:] if "=" in l)
            infos[urllib.parse.unquote(fields["Path"])] = (name[:-len(".trashinfo")],
                                                           fields["DeletionDate"])
        return infos

    def test_prune_moves_copies_to_the_trash_from_where_they_come_back(self):
        paths = self.library()
        before = {p: read_bytes(p) for p in paths}
        r = self.ok("prune")
        gone = [p for p in paths if not os.path.exists(p)]
        self.assertEqual(len(gone), 4)
        self.assertEqual(sorted(l[len("trashed: "):] for l in r.stdout.decode().splitlines()
                                if l.startswith("trashed: ")), sorted(gone))
        self.assertIn(b"moved to the trash 4 files (", r.stderr)
        infos = self.trash_infos(self.trash)
        self.assertEqual(sorted(infos), sorted(gone))
        for path, (name, date) in infos.items():
            when = datetime.strptime(date, "%Y-%m-%dT%H:%M:%S")
            self.assertLess(abs((datetime.now() - when).total_seconds()), 300)
            # Restoring is moving the file back to its Path.
            os.rename(os.path.join(self.trash, "files", name), path)
            self.assertEqual(read_bytes(path), before[path])
        names = set(entry_names(self.db))
        self.assertEqual(names, set(paths) - set(gone))

    def test_permanent_deletes_and_delete_finds_the_file_by_any_name(self):
        paths = self.library()
        r = self.ok("prune", "--permanent")
        self.assertEqual(r.stdout.decode().count("deleted: "), 4)
        self.assertEqual(sum(os.path.exists(p) for p in paths), 2)
        self.assertFalse(os.path.exists(self.trash))
        # delete: to the trash, the file named through a linked folder and by a relative path.
        kept = [p for p in paths if os.path.exists(p)]
        os.symlink(os.path.join(self.root, "lib"), os.path.join(self.root, "alias"))
        by_link = kept[0].replace(os.path.join(self.root, "lib"), os.path.join(self.root, "alias"))
        r = self.ok("delete", by_link)
        self.assertEqual(r.stdout.decode(), f"trashed: {kept[0]}\n")
        self.assertEqual(list(self.trash_infos(self.trash)), [kept[0]])
        relative = os.path.join("lib", "g1", "..", os.path.relpath(kept[1], self.root)[4:])
        r = self.ok("delete", "--permanent", relative)
        self.assertEqual(r.stdout.decode(), f"deleted: {kept[1]}\n")
        self.assertEqual(entry_names(self.db), [])


class UsageErrors(CliCase):
    def test_rule_folders_that_cannot_be_used_are_usage_errors(self):
        write(os.path.join(self.root, "lib", "a.mp3"), make_mp3(audio(1), 10, "A"))
        write(os.path.join(self.root, "lib", "b.mp3"), make_mp3(audio(1), 20, "B"))
        self.ok("add", os.path.join(self.root, "lib", "a.mp3"),
                os.path.join(self.root, "lib", "b.mp3"))
        os.makedirs(os.path.join(self.root, "empty"))
        for args in (["prune", "--keep", "biggest"], ["prune", "--keep-in", "nowhere"],
                     ["prune", "--keep-in", "lib/a.mp3"], ["prune", "--protect", "empty"],
                     ["prune", "--keep-in", "lib", "--protect", "nowhere"],
                     ["dupes", "--keep-in", "empty"], ["prune", "--keep"]):
            r = self.run_cli(*args)
            self.assertEqual(r.returncode, 2, (args, r.stderr))
            self.assertTrue(r.stderr.startswith(b"varnelo-cli: error: "), r.stderr)
        self.assertIn(b"--keep-in nowhere: No such file or directory",
                      self.run_cli("prune", "--keep-in", "nowhere").stderr)
        self.assertIn(b"--protect empty: holds no file of the database",
                      self.run_cli("prune", "--protect", "empty").stderr)
        self.assertTrue(os.path.exists(os.path.join(self.root, "lib", "b.mp3")))
        self.assertEqual(len(entry_names(self.db)), 2)


class CanonicalPaths(CliCase):
    def test_every_spelling_of_a_folder_lists_each_file_once(self):
        music = os.path.join(self.root, "home", "me", "music")
        for i in range(57):
            write(os.path.join(music, f"s{i:02}.mp3"), make_mp3(audio(i % 10), 10 + i, None))
        os.symlink(music, os.path.join(self.root, "linked"))
        inside = os.path.join(self.root, "home", "me", "other")
        os.makedirs(inside)
        for spelling, cwd in ((music, self.root), ("../music", inside),
                              (os.path.join(self.root, "linked") + "/", self.root),
                              (music + "/./../music", self.root)):
            r = subprocess.run([CLI, "--db", self.db, "scan", spelling],
                               cwd=cwd, capture_output=True)
            self.assertEqual(r.returncode, 0, r.stderr)
        names = entry_names(self.db)
        self.assertEqual(len(names), 57)
        self.assertTrue(all(n.startswith(music + "/") for n in names))
        stats = json.loads(self.ok("dupes", "--json").stdout)["statistics"]
        self.assertEqual((stats["files"], stats["duplicates"]), (57, 47))
        # add of a file already listed, through the link: nothing new.
        r = self.ok("add", os.path.join(self.root, "linked", "s00.mp3"))
        self.assertIn(b"already in the database", r.stderr)


class RemovalRaces(CliCase):
    def groups(self, n, copies=3):
        """n groups of copies, the kept copy (first added) of each first."""
        result = []
        for g in range(n):
            paths = [os.path.join(self.root, "lib", f"g{g:02}", f"c{c}.mp3") for c in range(copies)]
            for c, p in enumerate(paths):
                write(p, make_mp3(audio(200 + g), 10 + c, None))
            result.append(paths)
        self.ok("add", *[p for paths in result for p in paths])
        return result

    def holds(self, path, g):
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            return False
        return data.endswith(audio(200 + g)) and len(data) == len(audio(200 + g)) + 10 + data[9]

    def test_kept_copies_gone_changed_or_linked_before_removal_lose_nothing(self):
        groups = self.groups(6)
        unplugged = os.path.join(self.root, "unplugged")
        os.makedirs(unplugged)
        os.remove(groups[0][0])                                    # the kept copy is gone
        write(groups[1][0], make_mp3(audio(999), 10, None))        # it holds other content
        os.remove(groups[2][0])                                    # it became a link to a copy
        os.symlink(groups[2][1], groups[2][0])
        os.remove(groups[3][1])                                    # a copy became a link to it
        os.symlink(groups[3][0], groups[3][1])
        os.rename(groups[4][0], os.path.join(unplugged, "c0.mp3"))  # its drive went away
        for p in groups[5]:                                        # every copy changed
            write(p, make_mp3(audio(998), 10, None))
        r = self.run_cli("prune", "--permanent")
        self.assertEqual(r.returncode, 1, r.stderr)
        for g, paths in enumerate(groups[:5]):
            holders = [p for p in paths if self.holds(p, g)]
            self.assertGreaterEqual(len(holders), 1, (g, r.stderr))
        # The link to a copy is the kept file: that copy stays, the other goes.
        self.assertTrue(self.holds(groups[2][1], 2))
        self.assertFalse(os.path.lexists(groups[2][2]))
        self.assertTrue(self.holds(groups[3][0], 3))
        self.assertIn(b"left alone: no copy holds its content", r.stderr)
        self.assertTrue(all(os.path.exists(p) for p in groups[5]))

    def test_a_thread_turning_kept_copies_into_links_never_empties_a_group(self):
        """While prune runs, a thread replaces kept copies by links to one of their copies.
        Every group keeps its content on disk, or (when the swap fell between the last look
        at the kept copy and a removal) in the trash, where prune said it went."""
        for rnd in range(4):
            if os.path.exists(self.db):
                os.remove(self.db)
            shutil.rmtree(os.path.join(self.root, "lib"), ignore_errors=True)
            groups = self.groups(30)

            def swap(stop):
                n = 0
                while not stop.is_set() and n < 30:
                    kept, target = groups[n][0], groups[n][1 + n % 2]
                    try:
                        os.symlink(target, kept + ".link")
                        os.replace(kept + ".link", kept)
                    except OSError:
                        pass
                    n += 1
                    time.sleep(0.002)  # spread over the run
            r = self.run_cli_racing(swap, "prune")
            self.assertIn(r.returncode, (0, 1), r.stderr)
            trashed = {l[len("trashed: "):] for l in r.stdout.decode().splitlines()
                       if l.startswith("trashed: ")}
            for g, paths in enumerate(groups):
                on_disk = any(self.holds(p, g) for p in paths)
                self.assertTrue(on_disk or any(p in trashed for p in paths), (rnd, g, r.stderr))


if __name__ == "__main__":
    unittest.main()
