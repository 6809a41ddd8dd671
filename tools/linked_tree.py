#!/usr/bin/env python3
"""A large tree of real MP3s that costs almost no space: a few short clips encoded with
lame, and hard links to them spread over many folders. Scans of it last seconds anywhere.

As a module: make_tree(root, folders, per_folder) and walk_order(root). As a command:
linked_tree.py ROOT [FOLDERS [PER_FOLDER]] makes the tree (or keeps a complete one there).
"""
import os
import shutil
import sys

from mp3_fixtures import encode, have_lame, tone  # noqa: F401 (have_lame: for the callers)

CLIPS = 8  # distinct recordings (and link counts within what ext4 allows per file)
CLIP_SECONDS = 2  # about 8 KB each at lame's default bit rate for 22 kHz mono
DONE = ".complete"


def encode_clips(folder, count=CLIPS, seconds=CLIP_SECONDS):
    """count different tones encoded by lame into folder; returns their paths."""
    made = []
    for i in range(count):
        mp3 = os.path.join(folder, f"clip{i}.mp3")
        encode(mp3, tone(330 + 110 * i, seconds, rate=22050), rate=22050, channels=1)
        made.append(mp3)
    return made


def make_tree(root, folders, per_folder):
    """root/clips holds the encoded clips; root/tree/fNNNN/sNNNN.mp3 are hard links to them,
    folders * per_folder in all. A complete tree of the same shape is kept as it is.
    Returns the tree's path."""
    tree = os.path.join(root, "tree")
    shape = f"{folders} {per_folder}\n"
    marker = os.path.join(root, DONE)
    if os.path.exists(marker):
        with open(marker) as f:
            if f.read() == shape:
                return tree
    for part in ("clips", "tree"):
        shutil.rmtree(os.path.join(root, part), ignore_errors=True)
    os.makedirs(os.path.join(root, "clips"))
    clips = encode_clips(os.path.join(root, "clips"))
    n = 0
    for f in range(folders):
        folder = os.path.join(tree, f"f{f:04}")
        os.makedirs(folder)
        for s in range(per_folder):
            os.link(clips[n % len(clips)], os.path.join(folder, f"s{s:04}.mp3"))
            n += 1
    with open(marker, "w") as f:
        f.write(shape)
    return tree


def walk_order(top):
    """The paths of the ".mp3" entries below top in the order a folder walk meets them:
    each folder's entries as the system lists them, a folder walked before its name is
    offered."""
    order = []

    def visit(folder):
        with os.scandir(folder) as it:
            entries = list(it)
        for e in entries:
            path = os.path.join(folder, e.name)
            if e.is_dir():
                visit(path)
            dot = e.name.rfind(".")
            if dot != -1 and e.name[dot:] == ".mp3":
                order.append(path)

    visit(top)
    return order


if __name__ == "__main__":
    if len(sys.argv) < 2 or not have_lame():
        sys.exit("usage: linked_tree.py ROOT [FOLDERS [PER_FOLDER]] (needs lame)")
    args = [int(a) for a in sys.argv[2:4]]
    print(make_tree(sys.argv[1], *(args + [1000, 200][len(args):])))
