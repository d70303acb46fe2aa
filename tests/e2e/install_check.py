#!/usr/bin/env python3
"""Installs the native build under a temporary prefix and checks what landed:
the program runs from there, and the manual page renders with its sections."""
import argparse
import gzip
import os
import shutil
import subprocess
import sys

from e2e_support import work_dir


def fail(message):
    print("install check: " + message)
    sys.exit(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--cmake", default="cmake")
    args = parser.parse_args()
    prefix = work_dir("vna-install-")
    try:
        subprocess.run([args.cmake, "--install", args.build_dir, "--prefix", prefix],
                       check=True, stdout=subprocess.DEVNULL)
        program = os.path.join(prefix, "bin", "vnarchive")
        page = os.path.join(prefix, "share", "man", "man1", "vnarchive.1.gz")
        for path in (program, page):
            if not os.path.isfile(path):
                fail(path + " was not installed")
        if not os.access(program, os.X_OK):
            fail(program + " is not executable")
        result = subprocess.run([program], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if result.returncode != 255 or b"VNArchive usage:" not in result.stdout:
            fail("the installed program did not answer with its usage text")
        with gzip.open(page, "rt", encoding="latin-1") as fh:
            text = fh.read()
        for section in ("NAME", "SYNOPSIS", "EXIT STATUS", "ARCHIVE FORMAT", "LIMITS"):
            if ".SH " + section not in text:
                fail("the manual page has no " + section + " section")
        if shutil.which("groff"):
            rendered = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z"], input=text.encode("latin-1"),
                                      stderr=subprocess.PIPE)
            if rendered.returncode != 0 or rendered.stderr:
                fail("groff warns about the manual page: " + rendered.stderr.decode())
    finally:
        shutil.rmtree(prefix, ignore_errors=True)
    print("install check: program and manual page installed under a prefix")


if __name__ == "__main__":
    main()
