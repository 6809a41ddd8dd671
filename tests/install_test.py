#!/usr/bin/env python3
"""What an installation carries beside the programs, checked against the programs themselves:
varnelo-cli's bash completion and manual page (both written by the program) against its own
--help, and the window's start from the desktop entry (--data-folder) and its version.

Run through ctest, which passes the binaries in VARNELO_CLI and VARNELO_WINDOW.
"""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from cli_test import CLI

WINDOW = os.environ.get("VARNELO_WINDOW")


def cli_output(*args):
    r = subprocess.run([CLI, *args], capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        raise AssertionError(f"varnelo-cli {' '.join(args)}: {r.stderr}")
    return r.stdout


def help_sections(text):
    """{section title: [first word of each entry]} of a CLI11 help text."""
    sections, current = {}, None
    for line in text.splitlines():
        if re.match(r"^[A-Z][A-Za-z ]*:$", line):
            current = sections.setdefault(line[:-1], [])
        elif current is not None and re.match(r"^  \S", line):
            current.append(line.split()[0])  # a wrapped description is indented further
        elif not line.strip():
            current = None
    return sections


def commands():
    return help_sections(cli_output("--help"))["Subcommands"]


def option_spellings(*command):
    """Every spelling of every option that `varnelo-cli [command] --help` lists."""
    words = []
    for entry in help_sections(cli_output(*command, "--help")).get("Options", []):
        words += entry.split(",")
    return words


def cli_version():
    return cli_output("--version").split()[-1]


class InstallCase(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="varnelo-install-")
        self.root = os.path.realpath(self._tmp.name)

    def tearDown(self):
        self._tmp.cleanup()


class Completion(InstallCase):
    def setUp(self):
        super().setUp()
        self.script = os.path.join(self.root, "varnelo-cli.bash")
        with open(self.script, "w") as f:
            f.write(cli_output("--bash-completion"))

    def complete(self, *words, cwd=None):
        """What bash offers for the last of words (the words as bash splits them), in a shell
        that treats unset variables as errors, as some users' shells do."""
        program = r'''
            source "$1"; shift; set -u
            function=$(complete -p varnelo-cli | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
            "$function"
            printf '%s\0' "${COMPREPLY[@]}"'''
        r = subprocess.run(["bash", "--norc", "--noprofile", "-c", program, "_", self.script,
                            "varnelo-cli", *words],
                           cwd=cwd or self.root, capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "", words)
        return sorted(w for w in r.stdout.split("\0") if w)

    def test_commands_and_options_are_those_of_the_parser(self):
        self.assertEqual(self.complete("pr"), ["prune"])
        self.assertEqual(self.complete("d"), sorted(c for c in commands() if c.startswith("d")))
        self.assertEqual(self.complete(""), sorted(commands()))
        top = option_spellings()
        self.assertIn("--db", top)
        self.assertEqual(self.complete("-"), sorted(set(top)))
        for command in commands():
            own = option_spellings(command)
            offered = self.complete(command, "-")
            # After the command its own options and the program's are accepted.
            self.assertEqual(offered, sorted(set(own + top)), command)
            self.assertEqual(self.complete("--db", "x.mp3db", "-q", command, "-"), offered)
        self.assertIn("--dry-run", self.complete("prune", "--d"))
        self.assertEqual(self.complete("dupes", "--j"), ["--json"])
        self.assertEqual(self.complete("clean", ""), [])  # no operands

    def test_values_of_options_and_operands(self):
        os.makedirs(os.path.join(self.root, "Music/Rock"))
        os.makedirs(os.path.join(self.root, "Mixes"))
        for name in ["music.mp3db", "my song.mp3"]:
            open(os.path.join(self.root, name), "w").close()

        choices = re.search(r"--keep \S*\{([^}]*)\}", cli_output("prune", "--help")).group(1)
        self.assertEqual(self.complete("prune", "--keep", ""), sorted(choices.split(",")))
        # bash splits "--keep=s" into "--keep", "=", "s".
        self.assertEqual(self.complete("prune", "--keep", "=", "s"),
                         [c for c in sorted(choices.split(",")) if c.startswith("s")])
        self.assertEqual(self.complete("prune", "--keep", "="), sorted(choices.split(",")))

        self.assertEqual(self.complete("--db", "mu"), ["music.mp3db"])
        self.assertEqual(self.complete("dupes", "--db", "M"), ["Mixes", "Music"])
        self.assertEqual(self.complete("scan", "M"), ["Mixes", "Music"])
        self.assertEqual(self.complete("scan", "Music/"), ["Music/Rock"])
        self.assertEqual(self.complete("scan", "m"), [])  # folders only
        self.assertEqual(self.complete("add", "my"), ["my song.mp3"])  # one word, space kept
        # The value of --db is not taken for the command.
        self.assertEqual(self.complete("--db", "prune", "sc"), ["scan"])
        self.assertEqual(self.complete("--db", "=", "prune", "sc"), ["scan"])
        self.assertEqual(self.complete("--db", "=", "music.mp3db", "prune", "--k"),
                         ["--keep", "--keep-in"])


class ManualPage(InstallCase):
    def render(self, *args):
        page = os.path.join(self.root, "varnelo-cli.1")
        with open(page, "w") as f:
            f.write(cli_output("--man-page", *args))
        r = subprocess.run(["man", "--warnings", "-l", page], capture_output=True, text=True,
                           env={**os.environ, "MANWIDTH": "100", "MAN_KEEP_FORMATTING": ""},
                           timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")
        return r.stdout

    def test_page_lists_every_command_and_option_of_the_parser(self):
        if shutil.which("man") is None:
            self.skipTest("man is not installed (tools/install-deps installs man-db)")
        text = self.render("May 2031")
        lines = [line.strip() for line in text.splitlines()]
        self.assertIn("varnelo-cli - find duplicate MP3 files by their audio content", lines)
        self.assertRegex(text, rf"varnelo-cli {re.escape(cli_version())} +May 2031")
        for option in option_spellings():
            self.assertRegex(text, rf"(^|[ ,]){re.escape(option)}\b", option)
        for command in commands():
            heading = [line for line in lines if line.split(" ")[0] == command]
            self.assertTrue(heading, f"no section for {command}")
            for option in option_spellings(command):
                self.assertIn(option, text, f"{command} {option}")
        # The notes of a command come along, the program's own only once.
        self.assertIn('"N Files with Hash digest: HEX"', " ".join(text.split()))
        self.assertEqual(" ".join(text.split()).count("Exit status: 0 success"), 1)

    def test_page_without_a_date(self):
        if shutil.which("man") is None:
            self.skipTest("man is not installed (tools/install-deps installs man-db)")
        self.assertIn("varnelo-cli - find duplicate MP3 files", self.render())


@unittest.skipUnless(WINDOW, "the window is not built (VARNELO_GUI=OFF)")
class WindowStart(InstallCase):
    """The window as the desktop entry starts it, on the offscreen platform."""

    def start(self, *args, **env):
        environment = {k: v for k, v in os.environ.items() if k != "XDG_DATA_HOME"}
        environment.update(QT_QPA_PLATFORM="offscreen", HOME=os.path.join(self.root, "home"))
        environment.update(env)
        os.makedirs(os.path.join(self.root, "elsewhere"), exist_ok=True)
        process = subprocess.Popen([WINDOW, *args], cwd=os.path.join(self.root, "elsewhere"),
                                   env=environment, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        self.addCleanup(self.stop, process)
        return process

    @staticmethod
    def stop(process):
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
        process.wait(timeout=30)
        process.stderr.close()

    def folder_once_running(self, process, expected):
        """The window's current folder once it is expected (or after 30 s, whatever it is)."""
        deadline = time.monotonic() + 30
        while True:
            self.assertIsNone(process.poll(), process.stderr.read() if process.poll() else "")
            folder = os.readlink(f"/proc/{process.pid}/cwd")
            if folder == expected or time.monotonic() > deadline:
                return folder
            time.sleep(0.05)

    def test_desktop_start_works_in_its_own_folder(self):
        home_folder = os.path.join(self.root, "home/.local/share/varnelo")
        process = self.start("--data-folder")
        self.assertEqual(self.folder_once_running(process, home_folder), home_folder)
        self.assertTrue(os.path.isdir(os.path.join(home_folder, "DataBases")))

        xdg_folder = os.path.join(self.root, "xdg data/varnelo")
        process = self.start("--data-folder", XDG_DATA_HOME=os.path.join(self.root, "xdg data"))
        self.assertEqual(self.folder_once_running(process, xdg_folder), xdg_folder)
        self.assertTrue(os.path.isdir(os.path.join(xdg_folder, "DataBases")))

    def test_plain_start_keeps_the_current_folder(self):
        elsewhere = os.path.join(self.root, "elsewhere")
        process = self.start()
        time.sleep(1)
        self.assertEqual(self.folder_once_running(process, elsewhere), elsewhere)
        self.assertFalse(os.path.exists(os.path.join(self.root, "home/.local/share/varnelo")))

    def test_version_and_help(self):
        # Told without a display: no X server, no Wayland, no platform chosen.
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        r = subprocess.run([WINDOW, "--version"], capture_output=True, text=True, env=env,
                           timeout=60)
        self.assertEqual((r.returncode, r.stdout.strip()), (0, f"varnelo {cli_version()}"))
        r = subprocess.run([WINDOW, "--help"], capture_output=True, text=True, env=env,
                           timeout=60)
        self.assertEqual(r.returncode, 0)
        self.assertIn("--data-folder", r.stdout)
        r = subprocess.run([WINDOW, "--no-such-option"], capture_output=True, text=True,
                           env=env, timeout=60)
        self.assertNotEqual(r.returncode, 0)


if __name__ == "__main__":
    unittest.main()
