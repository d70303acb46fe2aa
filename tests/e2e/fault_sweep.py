#!/usr/bin/env python3
"""Fault injection: fail the N-th OS call of an "-a" and of an "-x" run, for
every N and several Win32 codes, with the test-only build of the program
(vnarchive_faults), and check that every run ends cleanly: exit 0 or -1,
nothing or exactly one message with the usage text, an earlier file of the
archive's name left byte for byte by a failed "-a" and no temporary file
beside it, the source untouched, nothing written outside the
target and no partly written file left in it. Then the same with a real
full disk (a small tmpfs), where the machine lets us mount one. Then the
crash sweep: the run is killed before each call that changes the file
system, in turn, and a plain rerun must finish the job as if nothing had
happened.
"""
import argparse
import os
import shutil
import subprocess
import sys

from e2e_support import USAGE, require, run_program, snapshot, work_dir

MESSAGES = [
    "Unknown exception.",
    "Unable to open source location!\n",
    "Source location is neither a file nor a directory!\n",
    "Invalidly formatted VNArchive file.\n",
    "Archive location is the same as the source location!\n",
    "Some files could not be extracted.\n",
    "Some files or directories could not be archived.\n",
]
CODES = [112, 5, 2, 32, 30]


def run(program, args, cwd, env_extra=None):
    env = dict(os.environ)
    env.update(env_extra or {})
    return run_program([program] + args, cwd, env, timeout=60)


def message_of(result):
    code, out, err = result
    if err:
        return "stderr: " + err
    if code == 0:
        return None if out == "" else "output on success: " + out
    if code != 255:
        return "exit status %d" % code
    for m in MESSAGES:
        if out == m + "\n" + USAGE:
            return m
    return "unexpected output: " + repr(out)


class Sweep:
    def __init__(self, faulty, normal, work):
        self.faulty, self.normal, self.work = faulty, normal, work
        self.runs = {code: 0 for code in CODES}
        self.problems = []

    def problem(self, text):
        self.problems.append(text)

    def calls(self, args, changes=False):
        """How many seam calls the run makes (or how many change the file
        system)."""
        report = os.path.join(self.work, "calls.txt")
        result = run(self.faulty, args, self.work, {"VNA_FAULT_REPORT": report})
        require(result[0] == 0, "the counting run failed: %r" % (result,))
        with open(report) as fh:
            counts = [int(n) for n in fh.read().split()]
        os.remove(report)
        return counts[1] if changes else counts[0]

    def reads_as_valid(self, archive):
        probe = os.path.join(self.work, "probe")
        shutil.rmtree(probe, ignore_errors=True)
        code = run(self.normal, ["-x", archive, probe], self.work)[0]
        tree = snapshot(probe) if os.path.isdir(probe) else {}
        shutil.rmtree(probe, ignore_errors=True)
        return code == 0, tree

    def sweep_create(self, source_tree):
        total = self.calls(["-a", "src", "out.vna"])
        archive = os.path.join(self.work, "out.vna")
        earlier = b"an earlier file of the archive's name"
        others = sorted(set(os.listdir(self.work)) | {"out.vna"})
        for code in CODES:
            for n in range(1, total + 2):
                with open(archive, "wb") as fh:
                    fh.write(earlier)
                result = run(self.faulty, ["-a", "src", "out.vna"], self.work,
                             {"VNA_FAULT_AT": str(n), "VNA_FAULT_CODE": str(code)})
                self.runs[code] += 1
                where = "-a call %d code %d" % (n, code)
                m = message_of(result)
                if m is not None and m not in MESSAGES:
                    self.problem("%s: %s" % (where, m))
                if snapshot(os.path.join(self.work, "src")) != source_tree:
                    self.problem("%s: the source changed" % where)
                if sorted(os.listdir(self.work)) != others:
                    self.problem("%s: left %r beside the archive" % (where, sorted(os.listdir(self.work))))
                with open(archive, "rb") as fh:
                    kept = fh.read() == earlier
                if m is None or m == "Some files or directories could not be archived.\n":
                    if kept:
                        self.problem("%s: ended (%r) without replacing the earlier file" % (where, m))
                        continue
                    valid, tree = self.reads_as_valid(archive)
                    if m is None and (not valid or tree != source_tree):
                        self.problem("%s: success but the archive does not hold the source" % where)
                elif not kept:
                    # Only the flush of the move that gave the archive its
                    # name fails after the move: that failure is reported
                    # with the whole new archive in place, its data flushed
                    # before the move.
                    valid, tree = self.reads_as_valid(archive)
                    if not (valid and tree == source_tree):
                        self.problem("%s: failed (%r) and did not leave the earlier file as it was"
                                     % (where, m))
        os.remove(archive)

    def sweep_extract(self, source_tree):
        archive = os.path.join(self.work, "good.vna")
        require(run(self.normal, ["-a", "src", "good.vna"], self.work)[0] == 0,
                "the archive for the extraction sweep could not be made")
        total = self.calls(["-x", "good.vna", "t0"])
        shutil.rmtree(os.path.join(self.work, "t0"))
        outside = snapshot(self.work)
        for code in CODES:
            for n in range(1, total + 2):
                target = os.path.join(self.work, "target")
                shutil.rmtree(target, ignore_errors=True)
                # A file that stood before the run: replaced only when the
                # run succeeds with it, else left as it was.
                os.makedirs(target)
                with open(os.path.join(target, "a.txt"), "wb") as fh:
                    fh.write(b"old a")
                result = run(self.faulty, ["-x", "good.vna", "target"], self.work,
                             {"VNA_FAULT_AT": str(n), "VNA_FAULT_CODE": str(code)})
                self.runs[code] += 1
                where = "-x call %d code %d" % (n, code)
                m = message_of(result)
                if m is not None and m not in MESSAGES:
                    self.problem("%s: %s" % (where, m))
                tree = snapshot(target) if os.path.isdir(target) else {}
                shutil.rmtree(target, ignore_errors=True)
                if snapshot(self.work) != outside:
                    self.problem("%s: something outside the target changed" % where)
                if m is None and tree != source_tree:
                    self.problem("%s: success but the tree differs" % where)
                for name, content in tree.items():
                    if source_tree.get(name, "missing") != content and \
                            (name, content) != ("a.txt", b"old a"):
                        self.problem("%s: %s left behind in part or foreign" % (where, name))


def crash_sweep(faulty, normal, work, source_tree):
    """Kill "-x" over a tree that already stands, and "-a" over an earlier
    archive, before each change in turn. Every earlier file must then be old
    or new, never empty or partial; a plain rerun must succeed and leave
    exactly what a clean run leaves, no leftover beside it."""
    problems = []
    kills = {"-x": 0, "-x records lost": 0, "-a": 0}

    def lose_records(faulty, target, n, stand_old):
        """Kills the run at change n again, then cuts each journal it left
        after its magic, and zero-fills what was cut, as a power cut does to
        records that were never flushed. False when no journal was left."""
        stand_old(target)
        run(faulty, ["-x", "clean.vna", target], work, {"VNA_FAULT_CRASH_AT": str(n)})
        journals = [os.path.join(target, name) for name in os.listdir(target) if name.endswith(".jnl")]
        for path in journals:
            size = os.path.getsize(path)
            with open(path, "r+b") as fh:
                fh.seek(32)
                fh.write(b"\0" * max(0, size - 32))
        return bool(journals)
    require(run(normal, ["-a", "src", "clean.vna"], work)[0] == 0, "the clean archive failed")
    with open(os.path.join(work, "clean.vna"), "rb") as fh:
        clean_archive = fh.read()
    old = {name: b"old " + name.encode() for name, content in source_tree.items()
           if content is not None}

    def stand_old(target):
        shutil.rmtree(target, ignore_errors=True)
        for name, content in old.items():
            os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
            with open(os.path.join(target, name), "wb") as fh:
                fh.write(content)

    target = os.path.join(work, "crashed")
    stand_old(target)
    report = os.path.join(work, "calls.txt")
    require(run(faulty, ["-x", "clean.vna", target], work, {"VNA_FAULT_REPORT": report})[0] == 0,
            "the counting run failed")
    with open(report) as fh:
        changes = int(fh.read().split()[1])
    os.remove(report)
    outside = snapshot(work)
    outside.pop("crashed/", None)
    for key in list(outside):
        if key.startswith("crashed/"):
            del outside[key]

    def check_outside(where):
        now = {k: v for k, v in snapshot(work).items() if not k.startswith("crashed")}
        if now != outside:
            problems.append("%s: something outside the target changed" % where)

    for n in range(1, changes + 1):
        stand_old(target)
        result = run(faulty, ["-x", "clean.vna", target], work, {"VNA_FAULT_CRASH_AT": str(n)})
        where = "-x killed at change %d" % n
        if result[0] != 137 and result[0] != -9:
            problems.append("%s: not killed: %r" % (where, result))
            continue
        kills["-x"] += 1
        tree = snapshot(target)
        for name in tree:
            if name.endswith(".jnl") and os.stat(os.path.join(target, name)).st_mode & 0o077:
                problems.append("%s: the journal %s is open to other users" % (where, name))
        for name, content in old.items():
            if tree.get(name) not in (content, source_tree[name]):
                problems.append("%s: %s is neither old nor new: %r" % (where, name, tree.get(name)))
        rerun = run(normal, ["-x", "clean.vna", target], work)
        if rerun[0] != 0:
            problems.append("%s: the rerun failed: %r" % (where, rerun))
        if snapshot(target) != source_tree:
            problems.append("%s: after the rerun the target holds %r" % (where, sorted(snapshot(target))))
        check_outside(where)
        if lose_records(faulty, target, n, stand_old):
            kills["-x records lost"] += 1
            rerun = run(normal, ["-x", "clean.vna", target], work)
            if rerun[0] != 0 or snapshot(target) != source_tree:
                problems.append("%s, its journal's records lost: the rerun gave %r and left %r"
                                % (where, rerun, sorted(snapshot(target))))
    shutil.rmtree(target, ignore_errors=True)

    earlier = b"an earlier archive of that name"
    archive = os.path.join(work, "out.vna")
    beside = sorted(set(os.listdir(work)) | {"out.vna"})
    with open(archive, "wb") as fh:
        fh.write(earlier)
    require(run(faulty, ["-a", "src", "out.vna"], work, {"VNA_FAULT_REPORT": report})[0] == 0,
            "the counting run failed")
    with open(report) as fh:
        changes = int(fh.read().split()[1])
    os.remove(report)
    for n in range(1, changes + 1):
        with open(archive, "wb") as fh:
            fh.write(earlier)
        result = run(faulty, ["-a", "src", "out.vna"], work, {"VNA_FAULT_CRASH_AT": str(n)})
        where = "-a killed at change %d" % n
        if result[0] != 137 and result[0] != -9:
            problems.append("%s: not killed: %r" % (where, result))
            continue
        kills["-a"] += 1
        with open(archive, "rb") as fh:
            kept = fh.read()
        if kept not in (earlier, clean_archive):
            problems.append("%s: the archive's name holds %d other bytes" % (where, len(kept)))
        rerun = run(normal, ["-a", "src", "out.vna"], work)
        if rerun[0] != 0:
            problems.append("%s: the rerun failed: %r" % (where, rerun))
        with open(archive, "rb") as fh:
            if fh.read() != clean_archive:
                problems.append("%s: the rerun's archive differs from a clean run's" % where)
        if sorted(os.listdir(work)) != beside:
            problems.append("%s: the rerun left %r" % (where, sorted(os.listdir(work))))
    os.remove(archive)
    os.remove(os.path.join(work, "clean.vna"))
    print("crash sweep: %d kills of -x (%d with the records lost), %d of -a"
          % (kills["-x"], kills["-x records lost"], kills["-a"]))
    if kills["-x"] < 10 or kills["-a"] < 5:
        problems.append("crash sweep: too few kill points %r" % kills)
    return problems


def durability_order(faulty, work):
    """The order of the calls that make a run durable, as the fault build
    traces them: every file is flushed before it takes an earlier file's
    name, and the last call before a successful exit is a flush."""
    problems = []
    trace = os.path.join(work, "trace.txt")

    def traced(args):
        result = run(faulty, args, work, {"VNA_FAULT_TRACE": trace})
        require(result[0] == 0, "the traced run failed: %r" % (result,))
        with open(trace) as fh:
            return [line.split(" ", 1)[0] for line in fh.read().splitlines()]

    with open(os.path.join(work, "earlier.vna"), "wb") as fh:
        fh.write(b"an earlier archive")
    calls = traced(["-a", "src", "earlier.vna"])
    if calls != ["FlushFileBuffers", "replaceFile", "syncfs"]:
        problems.append("-a over an earlier file: %r" % calls)
    target = os.path.join(work, "durable")
    shutil.rmtree(target, ignore_errors=True)
    calls = traced(["-x", "earlier.vna", target])
    if calls != ["syncfs"]:
        problems.append("-x of new files: %r" % calls)
    # Now every file stands: each is replaced. The journal is made durable
    # before the first waiting file; its verified mark is flushed after the
    # files and before the first move.
    calls = traced(["-x", "earlier.vna", target])
    moves = [i for i, c in enumerate(calls) if c == "replaceFile"]
    if not moves or calls[:4] != ["FlushFileBuffers", "fsync", "syncfs", "FlushFileBuffers"] or \
            calls[-1] != "syncfs" or calls.count("syncfs") != 2 or moves[0] != 4 or \
            moves[-1] != len(calls) - 2:
        problems.append("-x replacing files: %r" % calls)
    # A directory of the target on a file system of its own is flushed too.
    mounted = os.path.join(target, "sub")
    if os.geteuid() == 0 and subprocess.call(["mount", "-t", "tmpfs", "tmpfs", mounted],
                                             stderr=subprocess.DEVNULL) == 0:
        try:
            # Files replaced above, new (then replaced) below: both flushes
            # cover both file systems.
            for state in ("new", "replaced"):
                calls = traced(["-x", "earlier.vna", target])
                if calls.count("syncfs") != 4:
                    problems.append("-x with sub/ mounted, its files %s: %r" % (state, calls))
        finally:
            subprocess.call(["umount", mounted])
    shutil.rmtree(target, ignore_errors=True)
    os.remove(os.path.join(work, "earlier.vna"))
    os.remove(trace)
    print("durability order: -a and -x checked")
    return problems


def make_source(work):
    src = os.path.join(work, "src")
    os.makedirs(os.path.join(src, "sub", "deeper"))
    with open(os.path.join(src, "a.txt"), "wb") as fh:
        fh.write(b"alpha\n" * 500)
    with open(os.path.join(src, "empty.txt"), "wb"):
        pass
    with open(os.path.join(src, "sub", "b.bin"), "wb") as fh:
        fh.write(os.urandom(70000))
    return snapshot(src)


def full_disk(normal, work):
    """Archive into and extract onto a tmpfs too small for the data."""
    small = os.path.join(work, "small")
    os.makedirs(small)
    if os.geteuid() != 0 or subprocess.call(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", small],
                                            stderr=subprocess.DEVNULL) != 0:
        print("full disk: skipped (this machine refuses to mount a tmpfs here)")
        return []
    problems = []
    try:
        big = os.path.join(work, "big")
        os.makedirs(big)
        with open(os.path.join(big, "1-large.bin"), "wb") as fh:
            fh.write(os.urandom(1 << 20))
        with open(os.path.join(small, "a.vna"), "wb") as fh:
            fh.write(b"earlier")
        result = run(normal, ["-a", "big", os.path.join(small, "a.vna")], work)
        if message_of(result) != "Unknown exception.":
            problems.append("full disk -a: %r" % (result,))
        if snapshot(small) != {"a.vna": b"earlier"}:
            problems.append("full disk -a left %r" % sorted(snapshot(small)))
        os.remove(os.path.join(small, "a.vna"))
        with open(os.path.join(big, "2-small.txt"), "wb") as fh:
            fh.write(b"fits")
        require(run(normal, ["-a", "big", "big.vna"], work)[0] == 0,
                "the large archive could not be made")
        result = run(normal, ["-x", "big.vna", os.path.join(small, "t")], work)
        if message_of(result) != "Some files could not be extracted.\n":
            problems.append("full disk -x: %r" % (result,))
        left = snapshot(os.path.join(small, "t"))
        if left != {"2-small.txt": b"fits"}:
            problems.append("full disk -x left %r" % sorted(left))
        print("full disk: -a and -x on a 256 KiB tmpfs checked")
    finally:
        subprocess.call(["umount", small])
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--faulty", required=True)
    parser.add_argument("--normal", required=True)
    args = parser.parse_args()
    work = work_dir("vna-faults-")
    try:
        sweep = Sweep(os.path.abspath(args.faulty), os.path.abspath(args.normal), work)
        source_tree = make_source(work)
        sweep.sweep_create(source_tree)
        sweep.sweep_extract(source_tree)
        problems = sweep.problems + durability_order(sweep.faulty, work) + \
            crash_sweep(sweep.faulty, sweep.normal, work, source_tree) + \
            full_disk(sweep.normal, work)
        for code in CODES:
            print("code %d: %d runs" % (code, sweep.runs[code]))
        print("total: %d runs" % sum(sweep.runs.values()))
        for p in problems[:50]:
            print("PROBLEM", p)
        return 1 if problems else 0
    finally:
        subprocess.call(["umount", os.path.join(work, "small")], stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
