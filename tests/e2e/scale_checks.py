#!/usr/bin/env python3
"""Scale checks of the native program: 100,000 small files, the deepest tree
the 254-byte name limit allows, a file just under 2 GiB that round-trips and
one just over that is refused (an entry over it is not extracted either), with time linear in the work and the peak
resident size flat in the input (under 8 MiB)."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zlib

from e2e_support import USAGE, work_dir

PROGRAM = None
MEASURE = None
GiB = 1 << 30


def measured(args, cwd):
    """(exit status, stdout, wall seconds, peak RSS in KiB)."""
    report = os.path.join(cwd, ".measure")
    with tempfile.TemporaryFile() as out:
        subprocess.call([MEASURE, report, PROGRAM] + args, cwd=cwd, stdout=out,
                        stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=1200)
        out.seek(0)
        text = out.read().decode("latin-1")
    with open(report) as fh:
        wall, _, rss, status = fh.read().split()
    os.remove(report)
    return int(status), text, float(wall), int(rss)

M64 = (1 << 64) - 1


def _unshift(value, shift):
    """Inverse of value ^= value >> shift on 64 bits."""
    result = value
    for _ in range(64 // shift + 1):
        result = value ^ (result >> shift)
    return result & M64


def _unmix(h):
    """Inverse of SplitMix64's finaliser."""
    h = _unshift(h, 31)
    h = (h * pow(0x94D049BB133111EB, -1, 1 << 64)) & M64
    h = _unshift(h, 27)
    h = (h * pow(0xBF58476D1CE4E5B9, -1, 1 << 64)) & M64
    return _unshift(h, 30)


def names_solved_against_an_unkeyed_path_hash(directory, count):
    """Names whose full paths below `directory` share the top 32 bits of a
    64-bit fingerprint that is a public, reversible function of the path
    (eight bytes at a time, multiply and shift, then SplitMix64's
    finaliser): in a set probed by those bits every one lands in one slot.
    A set keyed by what the archive cannot choose is not steered by them."""
    prefix = (directory + "/").encode()
    pad = b"q" * (8 - (len(prefix) + 1) % 8 if (len(prefix) + 1) % 8 else 8)
    head = prefix + pad
    head += b"q" * ((8 - len(head) % 8) % 8)
    state = 0xCBF29CE484222325
    for at in range(0, len(head), 8):
        state = (((state ^ int.from_bytes(head[at:at + 8], "little")) * 0x9E3779B97F4A7C15) & M64)
        state ^= state >> 29
    length = len(head) + 8
    names, low = [], 1
    while len(names) < count:
        wanted = (0x5EED << 32) | low
        low += 1
        h = _unmix(wanted) ^ length
        x = (_unshift(h, 29) * pow(0x9E3779B97F4A7C15, -1, 1 << 64)) & M64
        word = (x ^ state).to_bytes(8, "little")
        if any(b in b"\0/\\:%.\t\n\r " for b in word):
            continue
        names.append(head[len(prefix):] + word)
    return names


class Scale(unittest.TestCase):
    def setUp(self):
        self.dir = work_dir("vna-scale-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def p(self, *parts):
        return os.path.join(self.dir, *parts)

    def many_files(self, name, count):
        top = self.p(name)
        for i in range(count):
            folder = os.path.join(top, "d%04d" % (i // 100))
            if i % 100 == 0:
                os.makedirs(folder)
            with open(os.path.join(folder, "f%06d" % i), "wb") as fh:
                if i % 3:
                    fh.write(b"%d\n" % i * (i % 7))
        return top

    def roundtrip_seconds(self, name, count):
        top = self.many_files(name, count)
        status, out, create, rss_a = measured(["-a", top, self.p(name + ".vna")], self.dir)
        self.assertEqual((status, out), (0, ""))
        status, out, extract, rss_x = measured(["-x", self.p(name + ".vna"), self.p(name + "-out")], self.dir)
        self.assertEqual((status, out), (0, ""))
        return top, create + extract, max(rss_a, rss_x)

    def test_hundred_thousand_small_files_in_linear_time(self):
        _, small, _ = self.roundtrip_seconds("ten", 10000)
        top, large, rss = self.roundtrip_seconds("hundred", 100000)
        self.assertEqual(subprocess.call(["diff", "-r", "-q", top, self.p("hundred-out")]), 0)
        print("10,000 files: %.2f s, 100,000 files: %.2f s, peak RSS %d KiB" % (small, large, rss))
        self.assertLess(large, small * 20, "time grows faster than the work")
        self.assertLess(rss, 8 * 1024)

    def test_deepest_tree_the_name_limit_allows(self):
        deepest = self.p("deep")
        path = deepest
        for _ in range(126):
            path = os.path.join(path, "a")
        os.makedirs(path)
        with open(os.path.join(path, "f"), "wb") as fh:  # name "a\" * 126 + "f": 253 bytes
            fh.write(b"bottom")
        os.mkdir(os.path.join(path, "b"))                 # "a\" * 126 + "b\": 254 bytes
        status, out, _, _ = measured(["-a", deepest, self.p("deep.vna")], self.dir)
        self.assertEqual((status, out), (0, ""))
        status, out, _, _ = measured(["-x", self.p("deep.vna"), self.p("deep-out")], self.dir)
        self.assertEqual((status, out), (0, ""))
        self.assertEqual(subprocess.call(["diff", "-r", "-q", deepest, self.p("deep-out")]), 0)
        os.mkdir(os.path.join(path, "b", "c"))            # 256 bytes: over the limit
        status, out, _, _ = measured(["-a", deepest, self.p("deeper.vna")], self.dir)
        self.assertEqual((status, out), (255, "Unknown exception.\n" + USAGE))

    def test_directories_below_a_long_target_path_in_flat_memory(self):
        # 100,000 directory entries below a target path of about 3.5 KB: what
        # a run keeps per directory must not grow with either.
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        from run_e2e import archive_bytes, record
        target = self.dir
        while len(target) < 3500:
            target = os.path.join(target, "t" * 200)
        os.makedirs(target)
        records = b"".join(record("d%03d\\s%03d\\" % (i // 1000, i % 1000) if i % 1000 else
                                  "d%03d\\" % (i // 1000)) for i in range(100000))
        with open(self.p("dirs.vna"), "wb") as fh:
            fh.write(archive_bytes(records))
        status, out, _, rss = measured(["-x", self.p("dirs.vna"), target], self.dir)
        self.assertEqual((status, out), (0, ""))
        self.assertEqual(len(os.listdir(os.path.join(target, "d099"))), 999)
        self.assertLess(rss, 16 * 1024)

    def test_names_solved_against_a_path_hash_cost_what_ordinary_names_cost(self):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        from run_e2e import archive_bytes, record
        count = 60000
        seconds = {}
        for kind in ("ordinary", "solved"):
            target = self.p(kind)
            os.makedirs(target)
            if kind == "solved":
                names = names_solved_against_an_unkeyed_path_hash(target, count)
            else:
                names = [b"n%07d" % i for i in range(count)]
            with open(self.p(kind + ".vna"), "wb") as fh:
                fh.write(archive_bytes(b"".join(record(n) for n in names)))
            status, out, seconds[kind], _ = measured(["-x", self.p(kind + ".vna"), target], self.dir)
            self.assertEqual((status, out), (0, ""))
            self.assertEqual(len(os.listdir(target)), count)
        print("60,000 names: ordinary %.2f s, solved %.2f s" % (seconds["ordinary"], seconds["solved"]))
        self.assertLess(seconds["solved"], 3 * seconds["ordinary"] + 0.5)

    def test_file_just_under_two_gib_round_trips_in_flat_memory(self):
        source = self.p("under")
        os.mkdir(source)
        big = os.path.join(source, "big.bin")
        with open(big, "wb") as fh:
            fh.truncate(2 * GiB - 65536)
            fh.seek(GiB)
            fh.write(b"a marker in the middle")
        status, out, create, rss_a = measured(["-a", source, self.p("under.vna")], self.dir)
        self.assertEqual((status, out), (0, ""))
        status, out, extract, rss_x = measured(["-x", self.p("under.vna"), self.p("under-out")], self.dir)
        self.assertEqual((status, out), (0, ""))
        self.assertEqual(subprocess.call(["cmp", big, self.p("under-out", "big.bin")]), 0)
        print("2 GiB - 64 KiB: create %.1f s (%d KiB), extract %.1f s (%d KiB)" % (create, rss_a, extract, rss_x))
        self.assertLess(max(rss_a, rss_x), 8 * 1024)

    def test_file_just_over_two_gib_is_refused(self):
        source = self.p("over")
        os.mkdir(source)
        with open(os.path.join(source, "big.bin"), "wb") as fh:
            fh.truncate(2 * GiB + 4096)
        status, out, _, _ = measured(["-a", source, self.p("over.vna")], self.dir)
        self.assertEqual((status, out), (255, "Unknown exception.\n" + USAGE))
        status, out, _, _ = measured(["-x", self.p("over.vna"), self.p("over-out")], self.dir)
        self.assertNotEqual(status, 0, "the archive of a failed run must not read as valid")

    def test_entry_just_over_two_gib_is_not_extracted(self):
        # Written as the archive of a program without the limit would hold it:
        # 2 GiB + 1 zero bytes, then a small file. The check value is left
        # wrong (reckoning it here would take minutes): the run ends as
        # damaged, but only after every entry was met.
        archive = self.p("over-x.vna")
        stamp = b"Fri, 05 Mar 2004 14:07:09 +0000"
        entry = lambda name, size: (b"_" + bytes([len(name) + 1]) + name + b"\0" + bytes([len(stamp)]) +
                                    stamp + size.to_bytes(4, "little"))
        packer = zlib.compressobj(1)
        with open(archive, "wb") as fh:
            fh.write(b"##SC001\0" + b"\0" * 4)
            fh.write(packer.compress(entry(b"big.bin", 2 * GiB + 1)))
            zeros = bytes(1 << 20)
            for _ in range(2048):
                fh.write(packer.compress(zeros))
            fh.write(packer.compress(b"\0" + entry(b"after.txt", 5) + b"after" + b"_\0"))
            fh.write(packer.flush())
        status, out, _, _ = measured(["-x", archive, self.p("over-x")], self.dir)
        self.assertEqual((status, out), (255, "Invalidly formatted VNArchive file.\n\n" + USAGE))
        self.assertEqual(sorted(os.listdir(self.p("over-x"))), ["after.txt"])

    def test_memory_is_flat_from_one_megabyte_up(self):
        source = self.p("one")
        os.mkdir(source)
        with open(os.path.join(source, "m.bin"), "wb") as fh:
            fh.write(os.urandom(1 << 20))
        status, _, _, rss_a = measured(["-a", source, self.p("one.vna")], self.dir)
        status2, _, _, rss_x = measured(["-x", self.p("one.vna"), self.p("one-out")], self.dir)
        self.assertEqual((status, status2), (0, 0))
        print("1 MiB: peak RSS %d / %d KiB" % (rss_a, rss_x))
        self.assertLess(max(rss_a, rss_x), 8 * 1024)


def main():
    global PROGRAM, MEASURE
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--measure", required=True)
    args, rest = parser.parse_known_args()
    PROGRAM, MEASURE = os.path.abspath(args.program), os.path.abspath(args.measure)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
