#!/usr/bin/env python3
"""Scale checks of the native program: 100,000 small files, the deepest tree
the 254-byte name limit allows, a file just under 2 GiB that round-trips and
one just over that is refused, with time linear in the work and the peak
resident size flat in the input (under 8 MiB)."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

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
