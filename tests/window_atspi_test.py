#!/usr/bin/env python3
"""The real window (VARNELO_WINDOW) driven from outside over the accessibility bus (AT-SPI),
on a virtual X display (Xvfb) with a session bus of its own: its controls found by their
texts, copies ticked through their cells, the context menu opened from the keyboard, the
choosers and boxes answered as a user would, and what happens on disk checked directly.

Skips, saying why, where no X server, session bus or AT-SPI client library can be had.
"""
import os
import shutil
import subprocess
import sys
import time
import unittest
import urllib.parse

from cli_test import CliCase, audio, entry_names, make_mp3, write

WINDOW = os.environ.get("VARNELO_WINDOW")
TIMEOUT = 20


def load_atspi():
    """The GObject binding of the AT-SPI client library, or None. Debian installs it for its
    own Python, whose packages a Python of the same version can use."""
    for extra in ([], ["/usr/lib/python3/dist-packages"]):
        sys.path.extend(extra)
        try:
            import gi
            gi.require_version("Atspi", "2.0")
            from gi.repository import Atspi
            return Atspi
        except (ImportError, ValueError):
            for p in extra:
                sys.path.remove(p)
    return None


def missing():
    if not WINDOW:
        return "VARNELO_WINDOW is not set (the window was not built)"
    for tool in ("Xvfb", "dbus-daemon"):
        if shutil.which(tool) is None:
            return f"{tool} is not installed"
    if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
        return "at-spi2-core (the accessibility bus) is not installed"
    return None


Atspi = None
desktop = None
skip_reason = None
menus_shown = []  # popup menus as they appear; Qt lists no popup among a program's windows


def setUpModule():
    """One display and bus for the module: the AT-SPI client binds to the first bus it meets."""
    global Atspi, desktop, skip_reason
    skip_reason = missing()
    if skip_reason is None:
        Atspi = load_atspi()
        if Atspi is None:
            skip_reason = "the AT-SPI client binding (gir1.2-atspi-2.0, python3-gi) is missing"
    if skip_reason is not None:
        return
    try:
        desktop = Desktop()
    except OSError as e:
        skip_reason = f"no X display and session bus to be had: {e}"
        return
    os.environ["DISPLAY"] = desktop.display
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = desktop.bus
    Atspi.init()

    def on_showing(event):
        if event.detail1 == 1 and event.source.get_role_name() == "popup menu":
            menus_shown.append(event.source)
    global listener
    listener = Atspi.EventListener.new(on_showing)
    listener.register("object:state-changed:showing")


def tearDownModule():
    if desktop is not None:
        desktop.end()


class Desktop:
    """An Xvfb display and a session bus, made for one test class and ended with it."""

    def __init__(self):
        self.processes = []
        xvfb = self.start(["Xvfb", "-displayfd", "1", "-screen", "0", "1600x900x24",
                           "-nolisten", "tcp"])
        self.display = ":" + xvfb.stdout.readline().decode().strip()
        # The bus starts the accessibility registry, which types keys on this display.
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                         env=dict(os.environ, DISPLAY=self.display))
        self.bus = bus.stdout.readline().decode().strip()
        if not self.bus:
            raise OSError("no session bus")

    def start(self, argv, env=None):
        p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.processes.append(p)
        return p

    def end(self):
        for p in reversed(self.processes):
            p.terminate()
            p.wait(timeout=10)
            p.stdout.close()


def wait_for(what, timeout=TIMEOUT, step=0.05):
    """what() until it gives something true; that value. Events of the bus are taken in
    between."""
    from gi.repository import GLib
    end = time.monotonic() + timeout
    while True:
        while GLib.MainContext.default().iteration(False):
            pass
        value = what()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(step)


def walk(node, depth=12):
    yield node
    if depth == 0:
        return
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield from walk(child, depth - 1)


def states(node):
    return {s.value_nick for s in node.get_state_set().get_states()}


def act(node, name=None):
    """Carries out the node's action called name (its first without one)."""
    names = [node.get_action_name(i) for i in range(node.get_n_actions())]
    node.do_action(names.index(name) if name else 0)


class WindowCase(CliCase):
    """The window on the test's own folder (its default.mp3db), its settings and trash in the
    test's home."""

    def setUp(self):
        if skip_reason is not None:
            self.skipTest(skip_reason)
        super().setUp()
        self.db = os.path.join(self.root, "default.mp3db")
        self.window = None

    def tearDown(self):
        if self.window is not None and self.window.poll() is None:
            self.window.kill()
            self.window.wait()
        super().tearDown()

    # ---- the window ----

    def open_window(self):
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   XDG_CONFIG_HOME=os.path.join(self.home, ".config"))
        env.pop("QT_QPA_PLATFORM", None)
        self.window = subprocess.Popen([WINDOW], cwd=self.root, env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pid = self.window.pid

        def application():
            desktop = Atspi.get_desktop(0)
            for i in range(desktop.get_child_count()):
                app = desktop.get_child_at_index(i)
                if app is not None and app.get_process_id() == pid:
                    return app
            return None
        self.app = wait_for(application)
        self.dialog = wait_for(lambda: self.find(self.app, "dialog", "Varnelo"))
        wait_for(lambda: self.line("lower").startswith("Ready For Actions"))

    def find(self, root, role, name=None, start=None):
        for node in walk(root):
            if node.get_role_name() == role and (name is None or node.get_name() == name or
                                                 (start and node.get_name().startswith(start))):
                return node
        return None

    def control(self, role, name):
        node = self.find(self.dialog, role, name)
        self.assertIsNotNone(node, f"no {role} {name!r}")
        return node

    def press(self, name):
        act(self.control("push button", name), "Press")

    def line(self, which):
        for node in walk(self.dialog, 1):
            if node.get_role_name() == "label" and node.get_description() == f"{which} status line":
                return node.get_name()
        raise AssertionError(f"no {which} status line")

    def wait_line(self, which, text):
        try:
            wait_for(lambda: self.line(which) == text or (text.endswith("*") and
                                                          self.line(which).startswith(text[:-1])))
        except AssertionError:
            self.fail(f"{which} line: {self.line(which)!r}, not {text!r}")

    def rows(self):
        """The tree's rows: [label cell, title cell, ...] each."""
        tree = self.control("tree", "Duplicates View")
        cells = [tree.get_child_at_index(i) for i in range(tree.get_child_count())]
        cells = [c for c in cells if c.get_role_name() == "table cell"]
        return [cells[i:i + 10] for i in range(0, len(cells), 10)]

    def row_of(self, path):
        for row in self.rows():
            if row[0].get_name().endswith(f" - Filename: {path} "):
                return row
        raise AssertionError(f"no row for {path}")

    def tick(self, path):
        """Selects the copy's cell through the accessibility bus, then Space ticks it."""
        cell = self.row_of(path)[0]
        act(cell, "Toggle")
        self.key("space")
        wait_for(lambda: "checked" in states(self.row_of(path)[0]))

    def key(self, name, shift=False, on_tree=True):
        """Types a key (on the tree, unless on_tree is false), as the keyboard would: the
        accessibility registry synthesises it."""
        if on_tree:
            self.control("tree", "Duplicates View").grab_focus()
        keysym = {"space": 0x20, "F10": 0xffc7, "Escape": 0xff1b}[name]
        if shift:
            Atspi.generate_keyboard_event(1, None, Atspi.KeySynthType.LOCKMODIFIERS)
        Atspi.generate_keyboard_event(keysym, None, Atspi.KeySynthType.SYM)
        if shift:
            Atspi.generate_keyboard_event(1, None, Atspi.KeySynthType.UNLOCKMODIFIERS)

    def menu_item(self, *path):
        """Opens the context menu from the keyboard (Shift+F10), follows path through its
        submenus and carries out the last item; then closes the menu (Escape)."""
        menus_shown.clear()
        self.key("F10", shift=True)
        menu = wait_for(lambda: menus_shown and menus_shown[0])
        for depth, name in enumerate(path):
            item = wait_for(lambda: next((n for n in walk(menu, 1) if n.get_name() == name and
                                          n.get_role_name().endswith("menu item")), None))
            if depth + 1 < len(path):
                menu = wait_for(lambda: item.get_child_at_index(0))  # its submenu
            else:
                act(item)
        self.key("Escape", on_tree=False)
        wait_for(lambda: "showing" not in states(menus_shown[0]))

    def answer_box(self, button):
        """Presses button of the message box or question that is open; its texts."""
        box = wait_for(lambda: next((n for n in walk(self.app, 1) if n.get_role_name() == "alert"),
                                    None))
        text = " ".join(n.get_name() for n in walk(box) if n.get_role_name() == "label")
        act(wait_for(lambda: self.find(box, "push button", button)), "Press")
        return text

    def choose_folder(self, title, folder):
        chooser = wait_for(lambda: self.find(self.app, "dialog", title))
        field = wait_for(lambda: self.find(chooser, "text"))
        field.set_text_contents(folder)
        act(self.find(chooser, "push button", "Choose"), "Press")

    # ---- files ----

    def library(self):
        """Two recordings, each in three folders; written and scanned into default.mp3db."""
        lib = os.path.join(self.root, "lib")
        for folder, title in (("albums", "Album Take"), ("backup", "Backup Take"),
                              ("downloads", "Download Take")):
            for seed in (1, 2):
                write(os.path.join(lib, folder, f"song{seed}.mp3"),
                      make_mp3(audio(seed), 20, f"{title} {seed}"))
        self.ok("scan", lib)
        return lib

    def listed(self):
        return set(entry_names(self.db))


class WindowOverAccessibility(WindowCase):
    def test_every_control_is_named_by_its_text_and_the_commands_work_as_before(self):
        self.open_window()
        for name in ("Create new DB", "Open DB", "Save DB", "Update/Clean DB", "Scan Directory",
                     "Add File", "Delete selected files", "Delete all duplicate files", "Search",
                     "View only Duplicates", "View All Mp3s", "abort scanning",
                     "View Search Results", "Move Files into a directory"):
            self.assertIn("focusable", states(self.control("push button", name)), name)
        for name in ("Search the whole db for Mp3s :", "Duplicates View"):
            self.control("label", name)
        self.control("text", "Search the whole db for Mp3s :")
        self.control("panel", "Database: default.mp3db")
        self.assertEqual(self.line("middle"), "found 0 duplicates in DB! Which take 0 MB of space.")

        # Scan Directory through its folder chooser, then Save DB and its box.
        lib = os.path.join(self.root, "lib")
        for i in range(4):
            write(os.path.join(lib, f"s{i}.mp3"), make_mp3(audio(i // 2), 10 + i, f"t{i}"))
        self.press("Scan Directory")
        self.choose_folder("Select a folder", lib)
        self.wait_line("lower", "Adding Directory...(Adding Directory Completed)")
        self.assertEqual(self.line("middle"), "found 2 duplicates in DB! Which take 0 MB of space.")
        self.press("Save DB")
        self.assertIn("Saved db successfully", self.answer_box("OK"))
        self.wait_line("lower", "Saving Database...(Writing Successful)")
        self.assertEqual(len(self.listed()), 4)
        # Abort while nothing runs: nothing at all.
        self.press("abort scanning")
        time.sleep(0.2)
        self.assertEqual(self.line("lower"), "Saving Database...(Writing Successful)")

    def test_search_and_the_three_listings(self):
        lib = self.library()
        self.open_window()
        self.assertEqual(len(self.rows()), 2 + 6)
        words = self.control("text", "Search the whole db for Mp3s :")
        words.set_text_contents("backup take 2")
        self.press("Search")
        self.wait_line("lower", "Searching Database...(Search Completed)")
        self.assertEqual(self.line("middle"), "1 Mp3s found")
        rows = self.rows()
        self.assertEqual(len(rows), 1)
        self.assertTrue(rows[0][0].get_name().endswith(f"{lib}/backup/song2.mp3 "))
        self.assertEqual(rows[0][1].get_name(), "Backup Take 2")  # the title column
        self.press("View All Mp3s")
        self.wait_line("lower", "Listing Database...(All Mp3s)")
        self.assertEqual(len(self.rows()), 6)
        self.press("View only Duplicates")
        self.wait_line("lower", "Listing Database...(Only Duplicates)")
        self.assertEqual(len(self.rows()), 8)
        self.press("View Search Results")
        self.wait_line("lower", "Listing Database...(Search Results)")
        self.assertEqual(len(self.rows()), 1)


class CleanupOverAccessibility(WindowCase):
    def test_move_protect_delete_to_trash_and_restore(self):
        lib = self.library()
        self.open_window()
        # A move across folders: the file moves on disk and its entry with it.
        moved_from = f"{lib}/downloads/song1.mp3"
        self.tick(moved_from)
        os.makedirs(os.path.join(self.root, "sorted"))
        self.press("Move Files into a directory")
        self.choose_folder("Move Files into a directory", os.path.join(self.root, "sorted"))
        self.wait_line("lower", "Moving Mp3-Files...(Moving Files Completed)")
        moved_to = os.path.join(self.root, "sorted", "song1.mp3")
        self.assertTrue(os.path.exists(moved_to) and not os.path.exists(moved_from))
        self.row_of(moved_to)

        # Protect backup/ from the context menu (its ticked copy is unticked), then "Delete
        # all duplicate files" by the current rule: the protected copies are kept, every
        # other copy goes to the trash.
        self.tick(f"{lib}/backup/song2.mp3")
        self.menu_item("Protect Folder", f"{lib}/backup")
        wait_for(lambda: "checked" not in states(self.row_of(f"{lib}/backup/song2.mp3")[0]))
        self.press("Delete all duplicate files")
        question = self.answer_box("Yes")
        self.assertIn("Delete 4 duplicate files", question)
        self.wait_line("lower", "Deleting All Duplicates...(Deleting Files Completed) - in the trash*")
        self.assertEqual(self.line("middle"), "Deleted 4 Mp3s")
        for kept in (f"{lib}/backup/song1.mp3", f"{lib}/backup/song2.mp3"):
            self.assertTrue(os.path.exists(kept), kept)
        gone = [f"{lib}/albums/song1.mp3", f"{lib}/albums/song2.mp3",
                f"{lib}/downloads/song2.mp3", moved_to]
        for path in gone:
            self.assertFalse(os.path.exists(path), path)
        self.press("View All Mp3s")
        wait_for(lambda: len(self.rows()) == 2)

        # Restored from the trash as a desktop does (the file moved back to the path its
        # .trashinfo names), a scan lists it again.
        info_folder = os.path.join(self.trash, "info")
        restored = []
        for info in os.listdir(info_folder):
            with open(os.path.join(info_folder, info), encoding="utf-8") as f:
                fields = dict(l.split("=", 1) for l in f.read().splitlines() if "=" in l)
            path = urllib.parse.unquote(fields["Path"])
            os.rename(os.path.join(self.trash, "files", info[:-len(".trashinfo")]), path)
            restored.append(path)
        self.assertEqual(sorted(restored), sorted(gone))
        self.press("Scan Directory")
        self.choose_folder("Select a folder", self.root)
        self.wait_line("lower", "Adding Directory...(Adding Directory Completed)")
        for path in gone:
            self.row_of(path)


if __name__ == "__main__":
    unittest.main()
