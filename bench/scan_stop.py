#!/usr/bin/env python3
"""Signal-to-exit of varnelo-cli scan on 200,000 files (hard links to a few lame-encoded
clips, made once by tools/linked_tree.py): SIGINT a set time into the scan, then the time
until the process has ended, against a run of the same program that only loads and saves
the database the interrupted scan left (its save, the part of the exit that is no stop).

Usage: bench/scan_stop.py VARNELO_CLI [--compare OTHER_CLI] [--root DIR] [--after SECONDS]
                          [--rounds N]
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import linked_tree  # noqa: E402
import mp3_fixtures  # noqa: E402


def interrupted_scan(cli, db, tree, after):
    """Seconds from SIGINT to the exit, and the number of entries the run saved."""
    if os.path.exists(db):
        os.remove(db)
    proc = subprocess.Popen([cli, "-q", "--db", db, "scan", tree], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    time.sleep(after)
    sent = time.monotonic()
    proc.send_signal(signal.SIGINT)
    proc.wait()
    took = time.monotonic() - sent
    return took, mp3_fixtures.read_header(db)[1]


def load_and_save(cli, db, song):
    """Seconds for one run that loads db, adds one file and saves it again."""
    started = time.monotonic()
    subprocess.run([cli, "-q", "--db", db, "add", song], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.monotonic() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("cli")
    parser.add_argument("--compare", help="another varnelo-cli to measure the same way")
    parser.add_argument("--root", default="/tmp/varnelo-bench-links")
    parser.add_argument("--after", type=float, default=2.0, help="seconds before the signal")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    if not linked_tree.have_lame():
        sys.exit("needs lame (tools/install-deps)")
    tree = linked_tree.make_tree(args.root, 1000, 200)
    song = os.path.join(args.root, "clips", "clip0.mp3")
    work = os.path.join(args.root, "work")
    os.makedirs(work, exist_ok=True)
    programs = [("this", args.cli)] + ([("compared", args.compare)] if args.compare else [])
    print(f"tree: {tree}, 200,000 files in 1,000 folders; SIGINT {args.after:.1f} s into the "
          f"scan; best of {args.rounds}")
    print(f"{'program':<10} {'entries':>8} {'signal-to-exit s':>17} {'load+save s':>12} "
          f"{'stop alone s':>13} {'exit / save':>12}")
    for name, cli in programs:
        best = None
        for _ in range(args.rounds):
            db = os.path.join(work, name + ".mp3db")
            took, entries = interrupted_scan(cli, db, tree, args.after)
            copy = os.path.join(work, name + "-copy.mp3db")
            shutil.copyfile(db, copy)
            save = load_and_save(cli, copy, song)
            if best is None or took < best[0]:
                best = (took, entries, save)
        took, entries, save = best
        print(f"{name:<10} {entries:>8} {took:>17.3f} {save:>12.3f} {max(took - save, 0):>13.3f} "
              f"{took / save:>11.2f}x")
    print("target: signal-to-exit under 0.2 s plus the save")


if __name__ == "__main__":
    main()
