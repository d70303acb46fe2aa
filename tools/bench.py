#!/usr/bin/env python3
"""make bench: builds the corpora from files on this machine (on tmpfs), then
times vnarchive, the deflate bound and the peers, creating and extracting,
and prints one table per corpus (medians of RUNS runs, tools taking turns).
"""
import argparse
import base64
import bz2
import lzma
import multiprocessing
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
import zlib

WORK = "/dev/shm/vna-bench"

MiB = 1 << 20


def regular_files(top, limit_size=None):
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames.sort()
        for name in sorted(filenames):
            path = os.path.join(dirpath, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            try:
                size = os.path.getsize(path)
                if limit_size and size > limit_size:
                    continue
                with open(path, "rb"):
                    pass
            except OSError:
                continue
            yield path, size


def build_corpora():
    root = os.path.join(WORK, "corpora")
    done = os.path.join(root, ".built")
    if not os.path.exists(done):
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
        build_system_corpora(root)
        open(done, "w").close()
    # Corpora added later are built on their own, beside the ones above.
    for name, build in (("incompressible", build_incompressible), ("home", build_home)):
        marker = os.path.join(root, "." + name)
        if not os.path.exists(marker):
            shutil.rmtree(os.path.join(root, name), ignore_errors=True)
            build(os.path.join(root, name))
            write_list(os.path.join(root, name), os.path.join(root, name + ".list"))
            open(marker, "w").close()
    return root


def build_system_corpora(root):
    # 1. the headers
    for path, _ in regular_files("/usr/include"):
        target = os.path.join(root, "headers", os.path.relpath(path, "/usr/include"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(path, target)
    # 2. mixed files from /usr/lib and /usr/share/doc, about 420 MB
    total = 0
    for top in ("/usr/share/doc", "/usr/lib"):
        for path, size in regular_files(top, 16 * MiB):
            if total + size > 420_000_000:
                break
            target = os.path.join(root, "mixed", top.strip("/").replace("/", "_"), os.path.relpath(path, top))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(path, target)
            total += size
    # 3. one file of 512 MiB made from real files
    os.makedirs(os.path.join(root, "single"))
    with open(os.path.join(root, "single", "big.bin"), "wb") as out:
        left = 512 * MiB
        for path, size in regular_files("/usr/lib"):
            if size < 65536:
                continue
            with open(path, "rb") as fh:
                data = fh.read(left)
            out.write(data)
            left -= len(data)
            if left == 0:
                break
    # 4. 20,000 files of 1 KiB in 200 folders, cut from the headers
    stream = bytearray()
    for path, _ in regular_files(os.path.join(root, "headers")):
        with open(path, "rb") as fh:
            stream += fh.read()
        if len(stream) >= 20000 * 1024:
            break
    for i in range(20000):
        folder = os.path.join(root, "small", "d%03d" % (i // 100))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.txt" % i), "wb") as fh:
            fh.write(stream[i * 1024:(i + 1) * 1024])
    for corpus in ("headers", "mixed", "single", "small"):
        write_list(os.path.join(root, corpus), os.path.join(root, corpus + ".list"))


# Already-compressed data, made here without the network and the same on
# every machine: seeded pseudo-random text (words and base64 lines, about
# as compressible as source code) packed with xz, bzip2 or zlib, or plain
# seeded random bytes, as photos, music, video and downloads are to deflate.
KINDS = ("xz", "bz2", "zlib", "random")


def packed_file(job):
    path, kind, size, seed = job
    rng = random.Random(seed)
    if kind == "random":
        data = rng.randbytes(size)
    else:
        words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
                 for _ in range(2000)]
        # The packers shrink this text to about 0.6-0.7 of its size.
        text, length = [], 0
        while length < size * 1.5:
            line = b" ".join(rng.choices(words, k=12)) + b"\n" + base64.encodebytes(rng.randbytes(171))
            text.append(line)
            length += len(line)
        text = b"".join(text)
        if kind == "xz":
            data = lzma.compress(text, preset=1)
        elif kind == "bz2":
            data = bz2.compress(text, 9)
        else:
            data = zlib.compress(text, 6)
        data = data[:size] if len(data) > size else data
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as fh:
        fh.write(data)
    return len(data)


def packed_jobs(top, total, smallest, largest, seed, folders):
    """Files of sizes spread evenly on a log scale from smallest to largest,
    each kind in turn, until their sizes reach `total`."""
    rng = random.Random(seed)
    jobs, sum_sizes = [], 0
    while sum_sizes < total:
        size = int(smallest * (largest / smallest) ** rng.random())
        kind = KINDS[len(jobs) % len(KINDS)]
        folder = rng.choice(folders)
        name = "%s%04d.%s" % (kind, len(jobs), {"zlib": "zz", "random": "bin"}.get(kind, kind))
        jobs.append((os.path.join(top, folder, name), kind, size, rng.getrandbits(32)))
        sum_sizes += size
    return jobs


def make_packed(jobs):
    with multiprocessing.Pool(os.cpu_count()) as pool:
        pool.map(packed_file, jobs, chunksize=1)


def build_incompressible(top):
    """About 300 MB of already-compressed files of 40 KB to 24 MB."""
    make_packed(packed_jobs(top, 300_000_000, 40_000, 24_000_000, 36, ["a", "b", "c"]))


def build_home(top):
    """A home directory's proportions, about 250 MB in many folders: 70% of
    the bytes already compressed, 20% programs and libraries, 10% text."""
    rng = random.Random(37)
    media = ["Pictures/%d/%02d" % (y, m) for y in range(2019, 2026) for m in (1, 4, 7, 10)] + \
            ["Music/artist%02d/album%d" % (a, b) for a in range(12) for b in range(2)] + \
            ["Videos", "Downloads", "Downloads/old", ".cache/thumbnails"]
    make_packed(packed_jobs(top, 175_000_000, 40_000, 12_000_000, 38, media))
    code = ["projects/p%02d/%s" % (p, d) for p in range(10) for d in ("build", "bin", "lib")] + \
           [".local/lib", ".local/bin", "opt/tool/lib"]
    copy_files(top, code, 50_000_000, rng, ("/usr/lib", "/usr/bin"),
               lambda path: open(path, "rb").read(4) == b"\x7fELF")
    docs = ["Documents/%s" % d for d in ("notes", "letters", "work", "work/old", "papers")] + \
           ["projects/p%02d/src" % p for p in range(10)] + ["projects/p%02d/doc" % p for p in range(10)]
    copy_files(top, docs, 25_000_000, rng, ("/usr/include", "/usr/share/doc"),
               lambda path: not path.endswith(".gz"))


def copy_files(top, folders, total, rng, sources, wanted):
    copied = 0
    for source in sources:
        for path, size in regular_files(source, 8 * MiB):
            if copied + size > total:
                return
            if not wanted(path):
                continue
            target = os.path.join(top, rng.choice(folders), os.path.basename(path))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if os.path.exists(target):
                continue
            shutil.copyfile(path, target)
            copied += size


def write_list(corpus, list_path):
    with open(list_path, "w") as out:
        out.write(corpus + "\n")
        for dirpath, dirnames, filenames in os.walk(corpus):
            dirnames.sort()
            rel = os.path.relpath(dirpath, corpus)
            for d in dirnames:
                out.write("D %s\n" % os.path.normpath(os.path.join(rel, d)))
            for f in sorted(filenames):
                p = os.path.join(dirpath, f)
                out.write("F %d %s\n" % (os.path.getsize(p), os.path.normpath(os.path.join(rel, f))))


MEASURE = None
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wine-run")


def measure(command, cwd=None, env=None, accepted=(0,)):
    """Wall seconds, CPU seconds and peak RSS (KiB) of one command, whose
    exit status must be one of `accepted`."""
    result = os.path.join(WORK, "measure.txt")
    subprocess.check_call([MEASURE, result] + list(command), cwd=cwd, env=env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    with open(result) as fh:
        wall, cpu, rss, status = fh.read().split()
    if int(status) not in accepted:
        raise RuntimeError("%s failed with %s" % (command, status))
    return float(wall), float(cpu), int(rss)


def sh(text):
    return ["sh", "-c", text]


ISAL_BOUND = "bound (zlib stream, ISA-L inflate)"
ONE_PROCESSOR = "vnarchive on one processor (taskset -c 0)"
PIGZ_ALL = "tar + pigz -6 (threads: pigz's default)"
# A plain copy of the tree into one file and back: what storing costs.
COPY = "tar -cf / tar -xf (copy bound)"
PROCESSORS = len(os.sched_getaffinity(0))


BASELINE = "vnarchive, the build compared with"


def tools(program, windows, bound, isal_bound, baseline=None):
    z = lambda p: "Z:" + p.replace("/", "\\")
    # The project's launcher picks Wine's loader and prefix for the build.
    wine_run = WINE_RUN
    wine_env = dict(os.environ, WINEDEBUG="-all")
    if windows:
        build = os.path.basename(os.path.dirname(windows))
        wine_label = "vnarchive.exe under Wine (info, %s build)" % (
            "64-bit test" if build == "windows64" else "32-bit")
    table = [
        ("vnarchive", lambda c, l, a: [program, "-a", c, a], lambda a, l, d: [program, "-x", a, d], None, "vna"),
        (ONE_PROCESSOR, lambda c, l, a: ["taskset", "-c", "0", program, "-a", c, a],
         lambda a, l, d: ["taskset", "-c", "0", program, "-x", a, d], None, "vna"),
        ("bound (one zlib stream)", lambda c, l, a: [bound, "deflate", l, a],
         lambda a, l, d: [bound, "inflate", l, a, d], None, "z"),
        (ISAL_BOUND, lambda c, l, a: [bound, "deflate", l, a],
         lambda a, l, d: [isal_bound, l, a, d], None, "z"),
        (COPY, lambda c, l, a: ["tar", "-cf", a, "-C", c, "."],
         lambda a, l, d: sh("mkdir -p '%s' && tar -xf '%s' -C '%s'" % (d, a, d)), None, "tar"),
        ("tar + gzip -6", lambda c, l, a: sh("tar -cf - -C '%s' . | gzip -6 > '%s'" % (c, a)),
         lambda a, l, d: sh("mkdir -p '%s' && gzip -dc '%s' | tar -xf - -C '%s'" % (d, a, d)), None, "tgz"),
        ("tar + pigz -p1 -6", lambda c, l, a: sh("tar -cf - -C '%s' . | pigz -p1 -6 > '%s'" % (c, a)),
         lambda a, l, d: sh("mkdir -p '%s' && pigz -p1 -dc '%s' | tar -xf - -C '%s'" % (d, a, d)), None, "tgz"),
        (PIGZ_ALL, lambda c, l, a: sh("tar -cf - -C '%s' . | pigz -6 > '%s'" % (c, a)),
         lambda a, l, d: sh("mkdir -p '%s' && pigz -dc '%s' | tar -xf - -C '%s'" % (d, a, d)), None, "tgz"),
        ("tar + igzip -3", lambda c, l, a: sh("tar -cf - -C '%s' . | igzip -3 -c > '%s'" % (c, a)),
         lambda a, l, d: sh("mkdir -p '%s' && igzip -dc '%s' | tar -xf - -C '%s'" % (d, a, d)), None, "tgz"),
        ("bsdtar -z", lambda c, l, a: ["bsdtar", "-czf", a, "-C", c, "."],
         lambda a, l, d: sh("mkdir -p '%s' && bsdtar -xf '%s' -C '%s'" % (d, a, d)), None, "tgz"),
        ("zip -6 / unzip", lambda c, l, a: sh("cd '%s' && zip -r -6 -q '%s' ." % (c, a)),
         lambda a, l, d: ["unzip", "-q", a, "-d", d], None, "zip"),
        ("7z -tzip -mx5 -mmt1", lambda c, l, a: sh("cd '%s' && 7z a -tzip -mx5 -mmt1 -bd -bso0 '%s' . >/dev/null" % (c, a)),
         lambda a, l, d: ["7z", "x", "-bd", "-bso0", "-o" + d, a], None, "zip"),
    ]
    if baseline:
        table.insert(1, (BASELINE, lambda c, l, a: [baseline, "-a", c, a],
                         lambda a, l, d: [baseline, "-x", a, d], None, "vna"))
    if windows and shutil.which("wine"):
        table.append((wine_label,
                      lambda c, l, a: [wine_run, "--direct", windows, "-a", z(c), z(a)],
                      lambda a, l, d: [wine_run, "--direct", windows, "-x", z(a), z(d)], wine_env, "vna"))
    if not isal_bound:
        table = [t for t in table if t[0] != ISAL_BOUND]
    # A pipeline row needs its second program (igzip, pigz) as well.
    needs = {"tar + igzip -3": "igzip", "tar + pigz -p1 -6": "pigz", PIGZ_ALL: "pigz",
             ONE_PROCESSOR: "taskset"}
    table = [t for t in table if t[0] not in needs or shutil.which(needs[t[0]])]
    return [t for t in table if shutil.which(t[1]("x", "x", "x")[0]) or t[1]("x", "x", "x")[0] in (program, bound, baseline)]


def tree_size(top):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(top) for f in fs)


def run_corpus(name, corpus, list_path, table, runs):
    out = os.path.join(WORK, "out")
    os.makedirs(out, exist_ok=True)
    results = {t[0]: {"create": [], "extract": [], "size": 0} for t in table}
    for _ in range(runs):
        for label, create, extract, env, ext in table:
            archive = os.path.join(out, "archive." + ext)
            if os.path.exists(archive):
                os.remove(archive)
            results[label]["create"].append(measure(create(corpus, list_path, archive), env=env))
            results[label]["size"] = os.path.getsize(archive)
            dest = os.path.join(out, "dest")
            shutil.rmtree(dest, ignore_errors=True)
            # Under Windows rules names that differ only in letter case meet,
            # and extraction refuses the later one (exit status 255) rather
            # than overwrite the first: accepted for the informational row.
            accepted = (0, 255) if env is not None else (0,)
            results[label]["extract"].append(
                measure(extract(archive, list_path, dest), env=env, accepted=accepted))
            if env is not None:
                # Wine's server and services linger and poll: end them, so
                # that they take no CPU from the next tool's timing.
                subprocess.call([WINE_RUN, "--stop-server", extract(archive, list_path, dest)[2]],
                                env=env)
            shutil.rmtree(dest, ignore_errors=True)
            os.remove(archive)
    return results


def median(samples, index):
    return statistics.median(s[index] for s in samples)


def report(name, corpus, results, table):
    files = sum(len(fs) for _, _, fs in os.walk(corpus))
    isal = results.get(ISAL_BOUND)
    lines = ["### %s: %d files, %.0f MB" % (name, files, tree_size(corpus) / 1e6), "",
             "| tool | create wall s | CPU s | peak RSS MiB | output MB | x bound | extract wall s | CPU s | peak RSS MiB | x bound |"
             + (" x ISA-L bound |" if isal else ""),
             "|---|---|---|---|---|---|---|---|---|---|" + ("---|" if isal else "")]
    bound = results["bound (one zlib stream)"]
    bc, bx = median(bound["create"], 0), median(bound["extract"], 0)
    ix = median(isal["extract"], 0) if isal else None
    # What creation could reach if the bound's one stream were spread over
    # every processor without any cost: the row the parallel writer is held to.
    lines.append("| serial zlib bound / %d processors | %.3f | | | | %.3f | | | | |" % (
        PROCESSORS, bc / PROCESSORS, 1.0 / PROCESSORS) + (" |" if isal else ""))
    for label, *_ in table:
        r = results[label]
        c, x = r["create"], r["extract"]
        lines.append("| %s | %.3f | %.3f | %.1f | %.2f | %.3f | %.3f | %.3f | %.1f | %.3f |" % (
            label, median(c, 0), median(c, 1), median(c, 2) / 1024, r["size"] / 1e6, median(c, 0) / bc,
            median(x, 0), median(x, 1), median(x, 2) / 1024, median(x, 0) / bx)
            + (" %.3f |" % (median(x, 0) / ix) if isal else ""))
    # The rows the targets are stated against, in one line.
    ours = results.get("vnarchive")
    if ours:
        against = []
        for label, what in ((COPY, "the copy bound"), (PIGZ_ALL, "tar | pigz -6"),
                            (BASELINE, "the build compared with")):
            if label in results:
                other = results[label]
                against.append("%s: create %.2fx, extract %.2fx, size %.4fx" % (
                    what, median(ours["create"], 0) / median(other["create"], 0),
                    median(ours["extract"], 0) / median(other["extract"], 0),
                    ours["size"] / other["size"]))
        inputs = tree_size(corpus)
        lines += ["", "vnarchive against %s; archive %.4fx the input bytes." % (
            "; ".join(against), ours["size"] / inputs)]
    return "\n".join(lines) + "\n"


def durability(faulty, root, runs):
    """What making the results durable costs, on a real ext4 (a loop-mounted
    image on tmpfs; tmpfs itself has no disk to flush to): the fault build,
    flushing and with VNA_FAULT_NO_FLUSH, in turns. Needs root for the mount."""
    if os.geteuid() != 0 or shutil.which("mkfs.ext4") is None:
        return "### durability on ext4: skipped (needs root and mkfs.ext4)\n"
    image, mount = os.path.join(WORK, "ext4.img"), os.path.join(WORK, "ext4")
    os.makedirs(mount, exist_ok=True)
    with open(image, "wb") as fh:
        fh.truncate(3 << 30)
    subprocess.check_call(["mkfs.ext4", "-q", "-F", image])
    subprocess.check_call(["mount", "-o", "loop", image, mount])
    lines = ["### durability on ext4 (loop image on tmpfs): flushed against unflushed, same build",
             "", "| job | unflushed wall s | flushed wall s | ratio | target |", "|---|---|---|---|---|"]
    try:
        out = os.path.join(WORK, "out")
        os.makedirs(out, exist_ok=True)
        jobs = []
        for name, target in (("small", 1.10), ("single", 1.05)):
            archive = os.path.join(out, name + ".vna")
            subprocess.check_call([faulty, "-a", os.path.join(root, name), archive])
            dest = os.path.join(mount, "t")
            jobs.append(("-x %s" % name, [faulty, "-x", archive, dest], dest, target))
        earlier = os.path.join(mount, "a.vna")
        jobs.append(("-a small over an earlier archive",
                     [faulty, "-a", os.path.join(root, "small"), earlier], None, 1.03))
        for label, command, dest, target in jobs:
            times = {True: [], False: []}
            for _ in range(runs):
                for flushed in (False, True):
                    if dest:
                        shutil.rmtree(dest, ignore_errors=True)
                    else:
                        with open(earlier, "wb") as fh:
                            fh.write(b"earlier")
                    # Nothing of the last run is left to write back meanwhile.
                    subprocess.check_call(["sync", "-f", mount])
                    env = dict(os.environ)
                    if not flushed:
                        env["VNA_FAULT_NO_FLUSH"] = "1"
                    times[flushed].append(measure(command, env=env)[0])
            plain, durable = statistics.median(times[False]), statistics.median(times[True])
            lines.append("| %s | %.3f | %.3f | %.2fx | %.2fx |" % (label, plain, durable,
                                                                 durable / plain, target))
            if dest:
                shutil.rmtree(dest, ignore_errors=True)
        for name in ("small", "single"):
            os.remove(os.path.join(out, name + ".vna"))
    finally:
        subprocess.call(["umount", mount])
        os.remove(image)
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--windows")
    parser.add_argument("--bound", required=True)
    parser.add_argument("--isal-bound")
    parser.add_argument("--measure", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--corpora", default="headers,mixed,single,small,incompressible,home")
    parser.add_argument("--tools", help="comma-separated labels' beginnings; all when absent")
    parser.add_argument("--faulty", help="the fault build, for the cost of flushing")
    parser.add_argument("--output")
    parser.add_argument("--baseline", help="another build of vnarchive, timed beside this one")
    args = parser.parse_args()
    global MEASURE
    MEASURE = os.path.abspath(args.measure)
    root = build_corpora()
    table = tools(os.path.abspath(args.program), args.windows and os.path.abspath(args.windows),
                  os.path.abspath(args.bound), args.isal_bound and os.path.abspath(args.isal_bound),
                  args.baseline and os.path.abspath(args.baseline))
    if args.tools:
        wanted = args.tools.split(",")
        table = [t for t in table if t[0].startswith("bound (one") or t[0] in (COPY, BASELINE) or any(t[0] == w or t[0].startswith(w + " ") for w in wanted)]
    if args.windows:
        # A server left running (make test keeps one per prefix) polls.
        subprocess.call([WINE_RUN, "--stop-server", os.path.abspath(args.windows)])
    text = "Measured %s on %s (%d cores), medians of %d runs, work on tmpfs.\n\n" % (
        time.strftime("%Y-%m-%d"), os.uname().nodename, os.cpu_count(), args.runs)
    print(text, flush=True)
    for name in args.corpora.split(","):
        corpus = os.path.join(root, name)
        results = run_corpus(name, corpus, os.path.join(root, name + ".list"), table, args.runs)
        section = report(name, corpus, results, table)
        print(section, flush=True)
        text += section + "\n"
    if args.faulty:
        section = durability(os.path.abspath(args.faulty), root, args.runs)
        print(section, flush=True)
        text += section + "\n"
    if args.output:
        with open(args.output, "w") as fh:
            fh.write(text)


if __name__ == "__main__":
    main()
