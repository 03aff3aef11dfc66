#!/usr/bin/env python3
"""Times twinfold-scan against the duplicate finders Debian ships, on a warm or a cold page cache.

    run_peers.py [--runs 3] [--cold] [--scan build/app/twinfold-scan] [--tools twinfold,jdupes,...] FOLDER

Two builds of twinfold-scan, and jdupes, in turns, with ratios to jdupes:

    run_peers.py --scan before=/path/to/old/twinfold-scan --scan after=build/app/twinfold-scan \
        --tools before,after,jdupes --versus jdupes --runs 7 [--cold] FOLDER

Warm: each tool runs once untimed (warming the cache), then --runs times under /usr/bin/time.
--cold: the page cache is dropped before every run (sync, then 3 into /proc/sys/vm/drop_caches,
which needs root; without it the runs are warm and the script says so), and the tools take turns
(A B A B ...) so that a noisy machine weighs on each alike; --probe adds scan_probe's limit.
Prints the median wall time, CPU time (user + system) and peak memory of each, the ratio
of each to the fastest peer (or to --versus), and whether each found the same groups as the
first twinfold-scan: as sets of paths, and as sets of files (device and inode, so hard links
count once). Each --scan NAME=PATH adds a build of twinfold-scan as the tool NAME; a plain
--scan PATH is the tool "twinfold".
Peers write their own files (rmlint, rdfind) in a temporary folder, never in FOLDER.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SCAN = os.path.join(HERE, "..", "..", "build", "app", "twinfold-scan")


def split_blank_lines(text):
    groups, group = [], []
    for line in text.split("\n"):
        if line:
            group.append(line)
        elif group:
            groups.append(group)
            group = []
    if group:
        groups.append(group)
    return groups


def parse_nul(data):
    groups, group = [], []
    for item in data.split(b"\0")[:-1]:
        if item:
            group.append(os.fsdecode(item))
        else:
            groups.append(group)
            group = []
    return groups


def parse_duff(text):
    groups, group = [], None
    for line in text.split("\n"):
        if line == "#":
            if group:
                groups.append(group)
            group = []
        elif line and group is not None:
            group.append(line)
    if group:
        groups.append(group)
    return groups


def parse_rdfind(path):
    by_id = {}
    with open(path, encoding="utf-8", errors="surrogateescape") as results:
        for line in results:
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split(" ", 7)
            by_id.setdefault(abs(int(fields[1])), []).append(fields[7])
    return list(by_id.values())


# Each peer set to count empty files, skip hidden ones and leave links alone, as Twinfold does.
def tools(scans, folder, work):
    rdfind_out = os.path.join(work, "results.txt")
    builds = {name: ([scan, "-0", folder], lambda out: parse_nul(out)) for name, scan in scans.items()}
    return {
        **builds,
        "jdupes": (["jdupes", "-r", "-z", "-A", "-q", folder], lambda out: split_blank_lines(out.decode())),
        "fdupes": (["fdupes", "-r", "-A", "-q", folder], lambda out: split_blank_lines(out.decode())),
        "rmlint": (["rmlint", "-T", "df", "--size", "0", "-L", "-F", "-o", "fdupes:stdout", folder],
                   lambda out: split_blank_lines(out.decode())),
        "rdfind": (["rdfind", "-ignoreempty", "false", "-outputname", rdfind_out, folder],
                   lambda out: parse_rdfind(rdfind_out)),
        "duff": (["duff", "-r", "-p", "-f", "#", folder], lambda out: parse_duff(out.decode())),
    }


def timed(command, work):
    stats = os.path.join(work, "time.txt")
    run = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "-o", stats] + command, cwd=work,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if run.returncode != 0:
        sys.exit("%s failed (%d): %s" % (command[0], run.returncode, run.stderr.decode()[-500:]))
    with open(stats) as f:
        wall, user, system, rss = f.read().split()[-4:]
    return float(wall), float(user) + float(system), int(rss) / 1024.0, run.stdout


def drop_caches():
    """True when the page cache was dropped."""
    try:
        os.sync()
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def probe_limit(probe, folder):
    run = subprocess.run([probe, folder], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    line = run.stdout.decode().strip().splitlines()[-1]
    return line


def as_paths(groups):
    return {frozenset(g) for g in groups if len(g) >= 2}


def as_files(groups):
    result = set()
    for g in groups:
        files = set()
        for path in g:
            st = os.lstat(path)
            files.add((st.st_dev, st.st_ino))
        if len(files) >= 2:
            result.add(frozenset(files))
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--scan", action="append", help="PATH, or NAME=PATH for one of several builds")
    parser.add_argument("--tools", default="twinfold,jdupes,fdupes,rmlint,rdfind,duff")
    parser.add_argument("--cold", action="store_true", help="drop the page cache before every run")
    parser.add_argument("--probe", help="scan_probe to run (cold too, with --cold) after each round")
    parser.add_argument("--versus", help="the tool the ratios are taken to (default: the fastest peer)")
    args = parser.parse_args()
    folder = os.path.abspath(args.folder)
    scans = {}
    for given in args.scan or [DEFAULT_SCAN]:
        name, _, path = given.rpartition("=")
        scans[name or "twinfold"] = os.path.abspath(path)

    rows = []
    groups = {}
    with tempfile.TemporaryDirectory(prefix="twinfold-bench-") as work:
        commands = tools(scans, folder, work)
        names = args.tools.split(",")
        runs = {name: [] for name in names}
        cold = args.cold and drop_caches()
        if args.cold and not cold:
            print("cannot drop the page cache (needs root): these runs are WARM", file=sys.stderr)
        if not cold:
            for name in names:
                timed(commands[name][0], work)  # warm-up
        for _ in range(args.runs):
            for name in names:  # A B A B: turns, so load changes hit every tool
                if cold:
                    drop_caches()
                runs[name].append(timed(commands[name][0], work))
            if args.probe:
                if cold:
                    drop_caches()
                print("probe    %s" % probe_limit(args.probe, folder), file=sys.stderr)
        for name in names:
            groups[name] = commands[name][1](runs[name][-1][3])
            rows.append((name, statistics.median(r[0] for r in runs[name]),
                         statistics.median(r[1] for r in runs[name]), statistics.median(r[2] for r in runs[name])))
            print("%-8s %s" % (name, " ".join("%.2fs (CPU %.2fs, %.1f MiB)" % r[:3] for r in runs[name])),
                  file=sys.stderr)

    peers = [r for r in rows if r[0] not in scans]
    versus = next((r for r in rows if r[0] == args.versus), None) if args.versus else \
        min(peers, key=lambda r: r[1], default=None)
    first_scan = next((name for name in names if name in scans), None)
    reference = groups.get(first_scan)
    against = versus[0] if versus else "fastest peer"
    print("| tool | wall s (median) | CPU s | peak MiB | wall / %s | CPU / %s | groups | same paths | same files |"
          % (against, against))
    print("|---|---|---|---|---|---|---|---|---|")
    for name, wall, cpu, rss in rows:
        found = groups[name]
        same_paths = same_files = "-"
        if reference is not None:
            same_paths = "yes" if as_paths(found) == as_paths(reference) else "no"
            same_files = "yes" if as_files(found) == as_files(reference) else "no"
        ratio = "%.2f" % (wall / versus[1]) if versus and versus[1] else "-"
        cpu_ratio = "%.2f" % (cpu / versus[2]) if versus and versus[2] else "-"
        print("| %s | %.2f | %.2f | %.1f | %s | %s | %d | %s | %s |" % (
            name, wall, cpu, rss, ratio, cpu_ratio, len(as_paths(found)), same_paths, same_files))
    if reference is not None:
        mine = as_paths(reference)
        for name in groups:
            if name == first_scan:
                continue
            theirs = as_paths(groups[name])
            if theirs != mine:
                only_mine = sorted(sorted(g) for g in mine - theirs)
                only_theirs = sorted(sorted(g) for g in theirs - mine)
                print("\n%s: %d groups only in %s, %d only in %s; e.g. %s / %s" % (
                    name, len(only_mine), first_scan, len(only_theirs), name, only_mine[:1], only_theirs[:1]),
                    file=sys.stderr)


if __name__ == "__main__":
    main()
