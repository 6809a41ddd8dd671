#!/usr/bin/env python3
"""MP3 files to scan and .mp3db databases read back, for the end-to-end tests, the tools and
the benchmarks: one copy of each, written from the file formats, never from the programs.

MP3-like files are audio bytes between an optional ID3v2 tag and an optional ID3v1 tag; real
MP3s are encoded by lame from raw 16-bit PCM. As a command, for scripts:
    mp3_fixtures.py noise-mp3 PATH SEED SECONDS KBPS   a real MP3 of mono noise
"""
import hashlib
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

# ---- MP3-like files: the audio region between the tags -------------------------------------

def id3v2_tag(body):
    """An ID3v2.3 tag of body bytes after its 10-byte header (the size is synchsafe)."""
    size = bytes([(body >> 21) & 0x7F, (body >> 14) & 0x7F, (body >> 7) & 0x7F, body & 0x7F])
    return b"ID3\x03\x00\x00" + size + b"\x00" * body


def id3v1_tag(title):
    """The 128-byte ID3v1 tag with title (cut to its 30 bytes) and nothing else."""
    raw = title.encode()[:30]
    return b"TAG" + raw + b"\x00" * (125 - len(raw))


def make_mp3(audio, id3v2_body=None, title=None):
    """An ID3v2 tag (when id3v2_body is given), the audio bytes, an ID3v1 tag (with title)."""
    head = id3v2_tag(id3v2_body) if id3v2_body is not None else b""
    tail = id3v1_tag(title) if title is not None else b""
    return head + audio + tail


def audio(seed, n=3000):
    """n bytes of audio of their own for each seed, the same on every run."""
    return random.Random(seed).randbytes(n)


def audio_digest(sound):
    """The digest the programs give a file holding sound between its tags."""
    return hashlib.md5(sound).hexdigest()


def write(path, data):
    """Writes data to path (str or bytes), making its folders first."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_mp3(path, sound, id3v2_body=None, title=None):
    """Writes make_mp3(sound, id3v2_body, title) to path; returns the digest of sound."""
    write(path, make_mp3(sound, id3v2_body, title))
    return audio_digest(sound)


# ---- Real MP3s, encoded by lame -------------------------------------------------------------

def have_lame():
    return shutil.which("lame") is not None


def tone(frequency, seconds, rate=22050):
    """A sine tone as mono 16-bit little-endian PCM."""
    return b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * frequency * i / rate)))
                    for i in range(int(rate * seconds)))


def encode(path, pcm, rate=44100, channels=2, kbps=None):
    """Encodes 16-bit little-endian PCM (channels interleaved) with lame into path."""
    argv = ["lame", "--quiet", "--noreplaygain", "-r", "-s", f"{rate / 1000:g}",
            "--bitwidth", "16", "--signed", "--little-endian"]
    if channels == 1:
        argv += ["-m", "m"]
    if kbps is not None:
        argv += ["-b", str(kbps)]
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    # From a file, not a pipe: lame's input library may seek in what it reads.
    with tempfile.NamedTemporaryFile(suffix=".pcm") as raw:
        raw.write(pcm)
        raw.flush()
        subprocess.run(argv + [raw.name, path], check=True, capture_output=True)


# ---- .mp3db databases: a 16-byte header, the digests, then the file records ----------------

MAGIC = 0x05DE8638
HEADER = struct.Struct("<IIII")  # magic, hashnum, filenum, stamp
RECORD_HEAD = struct.Struct("<iII")  # hashid, filesize, namelen
DIGEST_BYTES = 16


def _header(data, path):
    if len(data) < HEADER.size:
        raise ValueError(f"{path}: header cut short")
    magic, hashnum, filenum, stamp = HEADER.unpack_from(data, 0)
    if magic != MAGIC:
        raise ValueError(f"{path}: bad magic")
    return hashnum, filenum, stamp


def read_header(path):
    """(hashnum, filenum, stamp) of a database, from its first 16 bytes."""
    with open(path, "rb") as f:
        return _header(f.read(HEADER.size), path)


def read_database(path):
    """Reads a .mp3db file: (digests hex, [(hashid, size, name bytes)] in file order).
    Raises ValueError on a file a load would refuse."""
    with open(path, "rb") as f:
        data = f.read()
    hashnum, filenum, _stamp = _header(data, path)
    pos = HEADER.size
    if len(data) < pos + DIGEST_BYTES * hashnum:
        raise ValueError(f"{path}: digests cut short")
    digests = [data[pos + DIGEST_BYTES * i:pos + DIGEST_BYTES * (i + 1)].hex()
               for i in range(hashnum)]
    pos += DIGEST_BYTES * hashnum
    files = []
    for _ in range(filenum):
        if len(data) < pos + RECORD_HEAD.size:
            raise ValueError(f"{path}: record cut short")
        hashid, size, namelen = RECORD_HEAD.unpack_from(data, pos)
        pos += RECORD_HEAD.size
        name = data[pos:pos + namelen]
        if len(name) != namelen or namelen == 0:
            raise ValueError(f"{path}: name cut short")
        pos += namelen
        files.append((hashid, size, name))
    return digests, files


def entry_names(path):
    """The paths listed in a database, in its order (bytes not UTF-8 kept as os.fsdecode
    keeps them)."""
    return [os.fsdecode(name) for _hashid, _size, name in read_database(path)[1]]


def entry_digests(path):
    """{path: digest hex} of the entries of a database, paths as entry_names gives them."""
    digests, files = read_database(path)
    # A hashid outside the table is loaded as it is and listed under no digest.
    return {os.fsdecode(name): digests[hashid] if 0 <= hashid < len(digests) else None
            for hashid, _size, name in files}


if __name__ == "__main__":
    if len(sys.argv) != 6 or sys.argv[1] != "noise-mp3":
        sys.exit("usage: mp3_fixtures.py noise-mp3 PATH SEED SECONDS KBPS (needs lame)")
    _, _, out, seed, seconds, kbps = sys.argv
    encode(out, audio(int(seed), 44100 * 2 * int(seconds)), channels=1, kbps=int(kbps))
