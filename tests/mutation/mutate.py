#!/usr/bin/env python3
"""Plant each fault of a list alone in a scratch copy of the tree, rebuild, run the non-wm
suites and print which faults the suites catch. See README.md beside this file."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SKIP_DIRS = {".git", ".cache"}


class Fault:
    def __init__(self, name, line):
        self.name, self.line = name, line
        self.file = self.why = ""
        self.first = []
        self.original = self.faulty = None


def parse(path):
    """Blocks: '[name]', 'file = ...', 'why = ...', optional 'first = suite ...', then the
    original text between '<<<' and '===' and the faulty text between '===' and '>>>'."""
    faults, cur, mode, buf = [], None, None, []
    for n, raw in enumerate(open(path, encoding="utf-8"), 1):
        line = raw.rstrip("\n")
        if mode:
            if line == "===" and mode == "orig":
                cur.original, mode, buf = "\n".join(buf), "faulty", []
            elif line == ">>>" and mode == "faulty":
                cur.faulty, mode, buf = "\n".join(buf), None, []
            else:
                buf.append(line)
            continue
        if not line.strip() or line.startswith("#"):
            continue
        m = re.fullmatch(r"\[(.+)\]", line.strip())
        if m:
            cur = Fault(m.group(1), n)
            faults.append(cur)
        elif line == "<<<":
            mode, buf = "orig", []
        else:
            key, _, value = line.partition("=")
            key, value = key.strip(), value.strip()
            if cur is None or key not in ("file", "why", "first"):
                sys.exit(f"{path}:{n}: cannot read '{line}'")
            setattr(cur, key, value.split() if key == "first" else value)
    for f in faults:
        if not f.file or f.original is None or f.faulty is None:
            sys.exit(f"{path}:{f.line}: fault '{f.name}' needs file, <<< original === faulty >>>")
    return faults


def sync(src, dst):
    """Copy the tree, leaving unchanged files alone so the scratch build stays warm."""
    for dirpath, dirnames, filenames in os.walk(src):
        rel = os.path.relpath(dirpath, src)
        dirnames[:] = [d for d in dirnames if d not in SKIP_DIRS and not (rel == "." and d.startswith("build"))]
        os.makedirs(os.path.join(dst, rel), exist_ok=True)
        for name in filenames:
            s, d = os.path.join(dirpath, name), os.path.join(dst, rel, name)
            if os.path.islink(s):
                continue
            if os.path.exists(d):
                with open(s, "rb") as a, open(d, "rb") as b:
                    if a.read() == b.read():
                        continue
            # A fresh time, never the source's: an older time would hide the change from the build.
            shutil.copyfile(s, d)
            shutil.copymode(s, d)


def run(cmd, cwd, timeout, log):
    with open(log, "a") as out:
        out.write(f"\n$ {' '.join(cmd)}\n")
        out.flush()
        try:
            return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            out.write("(timed out)\n")
            return None


def failed_tests(log_text):
    part = log_text.rsplit("The following tests FAILED:", 1)
    return re.findall(r"^\s*\d+ - (\S+) \(", part[1], re.M) if len(part) == 2 else []


def run_suites(build, first, args, log, build_cmd=None):
    """Returns the failing suites, [] when all pass. The hinted suites are built and run first
    only to save time: a fault they miss is then built whole and meets every other non-wm suite."""
    env_cmd = ["nice", "-n", str(args.nice), "ctest", "-LE", "wm", "-j", str(args.jobs),
               "--timeout", str(args.test_timeout), "--stop-on-failure", "--output-on-failure"]
    runs = []
    if first:
        pattern = "^(" + "|".join(map(re.escape, first)) + ")$"
        runs = [["-R", pattern]] if args.quick else [["-R", pattern], ["-E", pattern]]
    else:
        runs = [[]]
    for n, extra in enumerate(runs):
        if build_cmd:
            targets = ["--target"] + first if first and n == 0 else []
            # A suite the tree does not have fails the partial build: then build everything.
            if run(build_cmd + targets, build, 3600, log) != 0 and (
                    not targets or run(build_cmd, build, 3600, log) != 0):
                return None
        start = os.path.getsize(log) if os.path.exists(log) else 0
        rc = run(env_cmd + extra, build, args.test_timeout * 4, log)
        with open(log, errors="replace") as f:
            f.seek(start)
            text = f.read()
        if rc is None:
            return ["(ctest timed out)"]
        if rc != 0:
            return failed_tests(text) or [f"(ctest exit {rc})"]
    return []


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("faults", nargs="?", default=os.path.join(os.path.dirname(__file__), "faults.txt"))
    p.add_argument("--only", help="regular expression: plant only the faults whose name matches")
    p.add_argument("--list", action="store_true", help="check the list (stale or not) and stop")
    p.add_argument("--source", default=ROOT, help="the tree to copy (default: this one), e.g. an older commit's export")
    # Inside the tree, laid out as the usual build: the compiler cache then serves both.
    p.add_argument("--scratch", default=os.path.join(ROOT, "build-mutation"))
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--nice", type=int, default=10)
    p.add_argument("--test-timeout", type=int, default=300, help="seconds per suite")
    p.add_argument("--no-baseline", action="store_true", help="skip the run without faults")
    p.add_argument("--quick", action="store_true",
                   help="run only each fault's 'first' suites: a quick look for faults that go through")
    args = p.parse_args()

    faults = parse(args.faults)
    if args.only:
        faults = [f for f in faults if re.search(args.only, f.name)]
    stale = []
    for f in faults:
        path = os.path.join(args.source, f.file)
        text = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
        if text.count(f.original) != 1:
            stale.append(f)
    if args.list:
        for f in faults:
            print(f"{'stale' if f in stale else 'ok   '}  {f.name:40} {f.file}")
        print(f"{len(faults)} faults, {len(stale)} stale")
        return 1 if stale else 0

    src, build = args.scratch, os.path.join(args.scratch, "build")
    log = os.path.join(build, "mutation-log.txt")
    os.makedirs(build, exist_ok=True)
    open(log, "w").close()
    sync(args.source, src)
    env = dict(os.environ)
    env.setdefault("CCACHE_CONFIGPATH", "/work/ccache.conf")
    env.setdefault("CCACHE_DIR", "/work/.ccache")
    os.environ.update(env)
    launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    if not os.path.exists(os.path.join(build, "build.ninja")):
        if run(["cmake", "-S", src, "-B", build, "-G", "Ninja", "-DTWINFOLD_TESTS=ON", "-DTWINFOLD_BENCH=OFF",
                "-DTWINFOLD_WERROR=ON"] + launcher, src, 600, log) != 0:
            sys.exit(f"configure failed, see {log}")
    build_cmd = ["nice", "-n", str(args.nice), "cmake", "--build", build, "-j", str(args.jobs)]
    if run(build_cmd, src, 3600, log) != 0:
        sys.exit(f"the tree without faults does not build, see {log}")
    if not args.no_baseline:
        bad = run_suites(build, [], args, log)
        if bad:
            sys.exit(f"the suites fail without any fault ({', '.join(bad)}), see {log}")

    results = {"caught": [], "missed": [], "stale": stale, "no build": []}
    for f in faults:
        if f in stale:
            print(f"stale     {f.name}: original text of {f.file} found "
                  f"{'more than once' if os.path.exists(os.path.join(src, f.file)) and f.original in open(os.path.join(src, f.file)).read() else 'nowhere'}", flush=True)
            continue
        path = os.path.join(src, f.file)
        original = open(path, encoding="utf-8").read()
        try:
            with open(path, "w", encoding="utf-8") as out:
                out.write(original.replace(f.original, f.faulty, 1))
            started = time.time()
            with open(log, "a") as out:
                out.write(f"\n===== {f.name}\n")
            bad = run_suites(build, f.first, args, log, build_cmd)
            if bad is None:
                results["no build"].append(f)
                print(f"no build  {f.name}", flush=True)
                continue
            took = int(time.time() - started)
            if bad:
                results["caught"].append(f)
                print(f"caught    {f.name} by {', '.join(bad)} ({took} s)", flush=True)
            else:
                results["missed"].append(f)
                print(f"MISSED    {f.name}: {f.why} ({took} s)", flush=True)
        finally:
            with open(path, "w", encoding="utf-8") as out:
                out.write(original)
    run(build_cmd, src, 3600, log)
    planted = len(results["caught"]) + len(results["missed"])
    print(f"\n{len(results['caught'])} of {planted} caught"
          + (f" ({100 * len(results['caught']) // planted}%)" if planted else "")
          + f"; {len(results['stale'])} stale, {len(results['no build'])} did not build; log: {log}")
    return 1 if results["missed"] or results["stale"] or results["no build"] else 0


if __name__ == "__main__":
    sys.exit(main())
