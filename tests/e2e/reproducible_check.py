#!/usr/bin/env python3
"""Checks that make package is reproducible: the working tree is copied to
another path of another length, its product alone is built there (native
and 32-bit Windows, without tests) and packaged with the same
SOURCE_DATE_EPOCH, and both packages must equal the given ones byte for
byte."""
import argparse
import os
import shutil
import subprocess
import sys

from e2e_support import work_dir

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def run(*command, cwd=None):
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def copy_tree(target):
    """The files git knows and those it would add, as they stand now."""
    names = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                           cwd=ROOT, check=True, stdout=subprocess.PIPE).stdout.split(b"\0")
    for name in filter(None, (n.decode() for n in names)):
        source = os.path.join(ROOT, name)
        if not os.path.lexists(source):
            continue  # deleted in the working tree
        os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
        shutil.copy2(source, os.path.join(target, name), follow_symlinks=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--packages", required=True, help="the directory make package filled")
    args = parser.parse_args()
    epoch = subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=ROOT, check=True,
                           stdout=subprocess.PIPE, text=True).stdout.strip()
    other = os.path.join(work_dir("vna-reproducible-"), "another", "checkout")
    try:
        copy_tree(other)
        for preset in ("native", "windows"):
            run("cmake", "--preset", preset, "-DBUILD_TESTING=OFF", cwd=other)
            run("cmake", "--build", "--preset", preset, "-j", str(os.cpu_count() or 1), cwd=other)
        env = dict(os.environ, SOURCE_DATE_EPOCH=epoch)
        subprocess.run([os.path.join(other, "tools", "make-packages"), "build/native", "build/windows",
                        "build/package"], cwd=other, env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        built = sorted(n for n in os.listdir(os.path.join(other, "build", "package")))
        given = sorted(n for n in os.listdir(args.packages) if n.endswith((".deb", ".zip")))
        if built != given:
            print("reproducible check: the other checkout made %s, not %s" % (built, given))
            return 1
        for name in built:
            with open(os.path.join(args.packages, name), "rb") as a, \
                    open(os.path.join(other, "build", "package", name), "rb") as b:
                if a.read() != b.read():
                    print("reproducible check: %s differs when built at another path" % name)
                    return 1
        print("reproducible check: %s the same from %s" % (" and ".join(built), other))
        return 0
    finally:
        shutil.rmtree(os.path.dirname(os.path.dirname(other)), ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
