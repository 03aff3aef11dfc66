#!/usr/bin/env python3
"""Builds a deterministic corpus for the duplicate-search benchmarks.

    make_corpus.py small|pictures|big DEST [--seed N] [--scale F]

small     ~200,000 files of 0-16 KiB in a deep tree, ~10% copies, some empty, a few
          hidden files, symbolic links, hard links and same-size files that differ in one byte.
pictures  ~20,000 files of 50 KB-4 MB (~10 GB) in a nested tree, ~20% copies.
big       48 files of 64 MiB, all one size: pairs that differ only in the first byte,
          pairs that differ only in the last byte, two identical pairs, the rest distinct.

Contents are slices of one seeded random pool, so equal seeds give equal corpora.
--scale multiplies the file counts (e.g. 0.1 for a quick try).
"""
import argparse
import os
import random
import sys

POOL_SIZE = 64 << 20


def make_pool(rng):
    return rng.randbytes(POOL_SIZE)


def slice_of(pool, offset, size):
    """`size` bytes of the pool starting at `offset`, wrapping round; distinct offsets give
    distinct contents."""
    offset %= POOL_SIZE
    if offset + size <= POOL_SIZE:
        return pool[offset:offset + size]
    out = bytearray()
    while len(out) < size:
        take = min(size - len(out), POOL_SIZE - offset)
        out += pool[offset:offset + take]
        offset = 0
    return bytes(out)


def write(path, data):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
    finally:
        os.close(fd)


def folders(rng, dest, count, depth):
    """`count` folders in a tree up to `depth` levels below dest."""
    made = [dest]
    while len(made) < count:
        parent = rng.choice(made)
        if parent.count(os.sep) - dest.count(os.sep) >= depth:
            continue
        child = os.path.join(parent, "d%d" % len(made))
        os.mkdir(child)
        made.append(child)
    return made


def small(dest, rng, scale):
    pool = make_pool(rng)
    total = int(200_000 * scale)
    dirs = folders(rng, dest, max(1, total // 100), 7)
    originals = []
    stats = dict(files=0, copies=0, empty=0, hidden=0, links=0, hardlinks=0, near=0)
    for i in range(total):
        folder = rng.choice(dirs)
        path = os.path.join(folder, "f%06d.dat" % i)
        roll = rng.random()
        if roll < 0.01:
            write(path, b"")
            stats["empty"] += 1
        elif roll < 0.11 and originals:
            source, data = rng.choice(originals)
            write(path, data)
            stats["copies"] += 1
        elif roll < 0.115 and originals:
            # Same size as another file, one byte different (first, last or middle).
            source, data = rng.choice(originals)
            data = bytearray(data)
            at = rng.choice([0, len(data) - 1, len(data) // 2])
            data[at] ^= 0x01
            write(path, bytes(data))
            stats["near"] += 1
        else:
            size = rng.randint(1, 16 * 1024)
            data = slice_of(pool, rng.randrange(POOL_SIZE), size)
            write(path, data)
            if len(originals) < 50_000 or rng.random() < 0.1:
                originals.append((path, data))
        stats["files"] += 1
    # Hidden copies, links and hard links: Twinfold skips the first two and meets each
    # file of a hard-linked set once.
    for i in range(max(1, total // 2000)):
        source, data = rng.choice(originals)
        write(os.path.join(rng.choice(dirs), ".hidden%d" % i), data)
        stats["hidden"] += 1
        os.symlink(source, os.path.join(rng.choice(dirs), "link%d" % i))
        stats["links"] += 1
        os.link(source, os.path.join(rng.choice(dirs), "hard%d" % i))
        stats["hardlinks"] += 1
    return stats


def pictures(dest, rng, scale):
    pool = make_pool(rng)
    total = int(20_000 * scale)
    dirs = folders(rng, dest, max(1, total // 60), 4)
    header = b"\xff\xd8\xff\xe1" + slice_of(pool, 12345, 508)  # a shared JPEG-like start
    originals = []
    stats = dict(files=0, copies=0, bytes=0)
    for i in range(total):
        folder = rng.choice(dirs)
        if originals and rng.random() < 0.2:
            source, size, offset = rng.choice(originals)
            name = "copy of " + os.path.basename(source) if rng.random() < 0.5 else "IMG_%05d.jpg" % i
            stats["copies"] += 1
        else:
            # Skewed towards small pictures: 50 KB to 4 MB, about 500 KB on average.
            size = int(50_000 * 80 ** (rng.random() ** 2.6))
            offset = rng.randrange(POOL_SIZE)
            name = "IMG_%05d.jpg" % i
            originals.append((os.path.join(folder, name), size, offset))
        path = os.path.join(folder, name)
        while os.path.exists(path):
            path += "_"
        write(path, header + slice_of(pool, offset, size - len(header)))
        stats["files"] += 1
        stats["bytes"] += size
    return stats


def big(dest, rng, scale):
    pool = make_pool(rng)
    size = 64 << 20
    count = max(8, int(48 * scale))
    stats = dict(files=0, first_byte_pairs=0, last_byte_pairs=0, identical_pairs=0, distinct=0)
    offsets = rng.sample(range(POOL_SIZE), count)
    i = 0
    kinds = ["first"] * 8 + ["last"] * 8 + ["same"] * 2
    for kind in kinds:
        if i + 2 > count:
            break
        data = bytearray(slice_of(pool, offsets[i], size))
        write(os.path.join(dest, "a%02d.bin" % i), data)
        if kind == "first":
            data[0] ^= 0xFF
            stats["first_byte_pairs"] += 1
        elif kind == "last":
            data[-1] ^= 0xFF
            stats["last_byte_pairs"] += 1
        else:
            stats["identical_pairs"] += 1
        write(os.path.join(dest, "b%02d.bin" % i), data)
        i += 2
        stats["files"] += 2
    while i < count:
        write(os.path.join(dest, "c%02d.bin" % i), slice_of(pool, offsets[i], size))
        stats["files"] += 1
        stats["distinct"] += 1
        i += 1
    return stats


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("shape", choices=["small", "pictures", "big"])
    parser.add_argument("dest")
    parser.add_argument("--seed", type=int, default=20240601)
    parser.add_argument("--scale", type=float, default=1.0)
    args = parser.parse_args()
    if os.path.exists(args.dest) and os.listdir(args.dest):
        sys.exit("%s exists and is not empty" % args.dest)
    os.makedirs(args.dest, exist_ok=True)
    rng = random.Random("%s-%d" % (args.shape, args.seed))
    stats = {"small": small, "pictures": pictures, "big": big}[args.shape](args.dest, rng, args.scale)
    print(args.shape, " ".join("%s=%s" % kv for kv in stats.items()))


if __name__ == "__main__":
    main()
