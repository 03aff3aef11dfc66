#!/usr/bin/env python3
"""The fingerprint store's goals, in one run against one yardstick.

    run_store.py --scan build/app/twinfold-scan CORPUS [--kills 20] [--cold]

Runs on CORPUS (made by make_corpus.py; it must have stood still for 2 s) with a private
XDG_CACHE_HOME, and prints:
  - the yardstick: find CORPUS -type f -printf '%s %T@ %C@ %i\\n' (median of 3, warm);
  - a search without the store, a first search filling it, and a rescan of the unchanged tree
    (median of 3): seconds, ratio to the yardstick, bytes read (the tool's count, and rchar
    from /proc/PID/io, which includes the store itself);
  - 10% of the files rewritten (first byte flipped, same size, mtime restored): bytes the
    rescan reads, and whether its groups equal a search without the store; then put back;
  - --kills N: N searches killed with SIGKILL at a random moment, each followed by a rescan:
    the share of the bytes read before the kill that were not read again, and whether every
    rescan's groups equal a search without the store;
  - --cold: the yardstick and the rescan again after dropping the page cache (needs root).
"""
import argparse
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

SUMMARY = re.compile(rb"(\d+) files collected, (\d+) read \((\d+) bytes\)")


def run(command, env=None, kill_after=None):
    """Runs `command`; returns (seconds, stdout, stderr, rchar, tool's bytes, killed). With
    `kill_after`, sends SIGKILL after that many seconds unless it ended first."""
    out = tempfile.TemporaryFile()
    err = tempfile.TemporaryFile()
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=out, stderr=err, env=env)
    killed = False
    rchar = 0
    if kill_after is not None:
        try:
            process.wait(timeout=kill_after)  # ended first: reaped, its counts gone
        except subprocess.TimeoutExpired:
            rchar = io_of(process.pid)
            process.send_signal(signal.SIGKILL)
            killed = True
    else:
        # Waits without reaping, so /proc/PID/io still has the whole run's counts.
        os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOWAIT)
        rchar = io_of(process.pid)
    process.wait()
    seconds = time.monotonic() - start
    out.seek(0)
    err.seek(0)
    stdout, stderr = out.read(), err.read()
    match = SUMMARY.search(stderr)
    return seconds, stdout, stderr, rchar, int(match.group(3)) if match else 0, killed


def io_of(pid):
    try:
        with open(f"/proc/{pid}/io") as f:
            for line in f:
                if line.startswith("rchar:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def groups(stdout):
    return sorted(frozenset(g.split(b"\n")) for g in stdout.split(b"\n\n") if g.strip())


def median_run(command, env, times=3):
    runs = [run(command, env) for _ in range(times)]
    return statistics.median(r[0] for r in runs), runs[-1]


def drop_caches():
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scan", required=True)
    parser.add_argument("corpus")
    parser.add_argument("--kills", type=int, default=20)
    parser.add_argument("--cold", action="store_true")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    corpus = os.path.abspath(args.corpus)
    cache = tempfile.mkdtemp(prefix="twinfold-store-bench-")
    env = dict(os.environ, XDG_CACHE_HOME=cache)
    scan = [os.path.abspath(args.scan)]
    find = ["find", corpus, "-type", "f", "-printf", "%s %T@ %C@ %i\\n"]
    rows = []

    def forget():
        shutil.rmtree(os.path.join(cache, "twinfold"), ignore_errors=True)

    def row(name, seconds, result, yardstick):
        rows.append((name, seconds, seconds / yardstick, result[4], result[3]))

    run(find, env)  # warms the page cache
    yard, _ = median_run(find, env)
    without_time, without = median_run(scan + ["--no-cache", corpus], env)
    reference = groups(without[1])
    firsts = []
    for _ in range(3):
        forget()
        firsts.append(run(scan + [corpus], env))
    first_time = statistics.median(r[0] for r in firsts)
    rescan_time, rescan = median_run(scan + [corpus], env)
    print(f"corpus {corpus}: {without[2].decode(errors='replace').strip().splitlines()[0]}")
    row("find (yardstick)", yard, (0, b"", b"", 0, 0), yard)
    row("search without the store", without_time, without, yard)
    row("first search, filling the store", first_time, firsts[-1], yard)
    row("rescan, unchanged", rescan_time, rescan, yard)
    store_bytes = os.path.getsize(os.path.join(cache, "twinfold", "fingerprints"))
    same_unchanged = groups(rescan[1]) == reference

    # 10% of the non-empty files rewritten in place: same size, mtime put back.
    files = []
    for folder, _, names in os.walk(corpus):
        files += [os.path.join(folder, n) for n in names if not n.startswith(".")]
    files = sorted(f for f in files if not os.path.islink(f) and os.path.getsize(f) > 0)
    changed = files[::10]

    def flip(path):
        st = os.stat(path)
        with open(path, "r+b") as f:
            byte = f.read(1)
            f.seek(0)
            f.write(bytes([byte[0] ^ 0xFF]))
        os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))

    for path in changed:
        flip(path)
    _, reference_changed, *_ = run(scan + ["--no-cache", corpus], env)
    after = run(scan + [corpus], env)
    same_changed = groups(after[1]) == groups(reference_changed)
    row("rescan, 10% rewritten", after[0], after, yard)
    for path in changed:
        flip(path)
    time.sleep(2.1)  # what changed just now gets no fact until it has stood still
    run(scan + [corpus], env)  # relearns the files put back

    # SIGKILL at a random moment of a first search, then a rescan.
    rng = random.Random(args.seed)
    saved, wrong, early = [], 0, 0
    total = without[4]
    for _ in range(args.kills):
        forget()
        at = rng.uniform(0.1, 0.9) * without_time
        killed = run(scan + [corpus], env, kill_after=at)
        if not killed[5]:
            continue
        before = killed[3]  # rchar at the kill: collection bytes, a few library and /proc reads
        again = run(scan + [corpus], env)
        if groups(again[1]) != reference:
            wrong += 1
        if before < 1 << 20:
            early += 1  # killed while still walking: nothing read yet
            continue
        reread = max(0, again[4] - max(0, total - before))
        if before > 0:
            saved.append(1 - min(1.0, reread / before))

    if args.cold:
        drop_caches()
        cold_yard = run(find, env)[0]
        drop_caches()
        cold = run(scan + [corpus], env)
        row("find, cold", cold_yard, (0, b"", b"", 0, 0), cold_yard)
        row("rescan, unchanged, cold", cold[0], cold, cold_yard)

    print(f"{'':34} {'s':>7} {'x find':>7} {'bytes read':>14} {'rchar':>14}")
    for name, seconds, ratio, read, rchar in rows:
        print(f"{name:34} {seconds:7.2f} {ratio:7.2f} {read:14,} {rchar:14,}")
    files_count = len(files)
    print(f"store: {store_bytes:,} bytes, {store_bytes / max(1, files_count):.1f} a file")
    print(f"first search / without the store: {first_time / without_time:.3f}")
    print(f"rescan, unchanged: bytes read {rescan[4] / max(1, without[4]) * 100:.2f}% of the first search's, "
          f"groups {'equal' if same_unchanged else 'DIFFERENT'}")
    print(f"rescan, 10% rewritten: groups {'equal' if same_changed else 'DIFFERENT'} to a search without the store")
    if saved:
        print(f"{len(saved)} kills while reading ({early} more while walking): bytes not read again, "
              f"min {min(saved) * 100:.0f}%, median {statistics.median(saved) * 100:.0f}%; "
              f"wrong groups after a kill: {wrong}")
    shutil.rmtree(cache, ignore_errors=True)
    return 0 if same_unchanged and same_changed and wrong == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
