#!/usr/bin/env python3
"""Writes the sample game folder used by the demo and the end-to-end tests.

The same seed always gives the same folder, byte for byte: Main.exe (copied from the given
test game), a Data folder of a few hundred files of mixed sizes in subfolders (small ones the
publisher packs, large ones it publishes alone), and a DataUltra folder.
"""
import argparse
import os
import random
import shutil
import sys

KIB = 1024
MIB = 1024 * KIB

DATA_FOLDERS = ["Interface", "Item", "Monster", "Player", "Sound", "World1", "World2", "World3",
                "M\u00fasica"]
EXTENSIONS = {"Interface": "ozt", "Item": "bmd", "Monster": "bmd", "Player": "bmd", "Sound": "wav",
              "World1": "att", "World2": "att", "World3": "map", "M\u00fasica": "ogg"}


def data_size(rng):
    """Mostly small files, some medium, a few large: so packs and stand-alone objects both occur."""
    roll = rng.random()
    if roll < 0.85:
        return int(2 ** rng.uniform(6, 16))             # 64 B .. 64 KiB
    if roll < 0.96:
        return rng.randrange(64 * KIB, 900 * KIB)
    return rng.randrange(MIB + MIB // 8, 2 * MIB + MIB // 2)


def plan(rng, count):
    files = {}
    for i in range(count):
        folder = DATA_FOLDERS[i % len(DATA_FOLDERS)]
        name = "Data/%s/%s_%03d.%s" % (folder, folder.lower(), i, EXTENSIONS[folder])
        files[name] = data_size(rng)
    files["Data/Local/Espa\u00f1ol/textos.txt"] = 4 * KIB + 17
    files["Data/Local/empty.dat"] = 0
    for i in range(12):
        files["DataUltra/Texture/ultra_%02d.ozj" % i] = rng.randrange(200 * KIB, 2 * MIB)
    files["DataUltra/ultra.cfg"] = 321
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", help="folder to create (must not exist or be empty)")
    parser.add_argument("--main", required=True, help="the test game program to copy as Main.exe")
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--files", type=int, default=300, help="number of files in Data")
    args = parser.parse_args()

    if os.path.exists(args.out) and (not os.path.isdir(args.out) or os.listdir(args.out)):
        sys.exit("error: %s exists and is not an empty folder" % args.out)
    if not os.path.isfile(args.main):
        sys.exit("error: %s is not a file (build the test game first)" % args.main)

    rng = random.Random(args.seed)
    files = plan(rng, args.files)
    os.makedirs(args.out, exist_ok=True)
    shutil.copyfile(args.main, os.path.join(args.out, "Main.exe"))
    total = 0
    for name in sorted(files):
        path = os.path.join(args.out, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(rng.randbytes(files[name]))
        total += files[name]
    print("Wrote %d files (%.1f MiB) and Main.exe to %s" % (len(files), total / MIB, args.out))


if __name__ == "__main__":
    main()
