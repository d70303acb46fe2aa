#!/usr/bin/env python3
"""Checks what make package built: the Debian package installs into a fresh
dpkg root, declares a dependency for every shared library its program loads,
holds exactly the files a user needs, passes lintian where it is installed,
and its program packs and unpacks the bundled sample; the Windows zip holds
the 32-bit program, the manual and the licence as CRLF text."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

from e2e_support import run_program, snapshot, work_dir

DEB_FILES = {"usr/bin/vnarchive", "usr/share/man/man1/vnarchive.1.gz",
             "usr/share/doc/vnarchive/copyright", "usr/share/doc/vnarchive/changelog.gz"}


def fail(message):
    print("package check: " + message)
    sys.exit(1)


def output(*command):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True).stdout


def packages_of_loaded_libraries(program):
    """The Debian packages owning each library the program loads: the
    dynamic loader's answer (ldd) and dpkg's, not the packager's."""
    owners = set()
    for path in re.findall(r"=> (/\S+)", output("ldd", program)):
        real = os.path.realpath(path)
        # Debian's usrmerge: dpkg may know the file under /usr only.
        for candidate in (path, real, "/usr" + real):
            found = subprocess.run(["dpkg", "-S", candidate], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True).stdout
            if found:
                owners.add(found.split(":")[0])
                break
        else:
            fail("no package owns " + path)
    return owners


def check_deb(deb, version, sample):
    fields = output("dpkg-deb", "--field", deb, "Package", "Version", "Architecture", "Depends")
    if f"Package: vnarchive\nVersion: {version}\nArchitecture: amd64\n" not in fields:
        fail("unexpected control fields:\n" + fields)
    depends = {d.strip().split(" ")[0] for d in fields.split("Depends:")[1].split(",")}
    files = {line.split()[-1].lstrip("./") for line in output("dpkg-deb", "--contents", deb).splitlines()
             if not line.startswith("d")}
    if files != DEB_FILES:
        fail("the package holds %s, expected %s" % (sorted(files), sorted(DEB_FILES)))
    copyright = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, stdout=subprocess.PIPE).stdout
    if b"License: Expat" not in copyright:
        fail("the copyright file does not give the Expat licence")
    root = work_dir("vna-dpkg-root-")
    try:
        for sub in ("var/lib/dpkg/info", "var/lib/dpkg/updates"):
            os.makedirs(os.path.join(root, sub))
        open(os.path.join(root, "var/lib/dpkg/status"), "w").close()
        # The fresh root has none of the libraries: their presence is the
        # host's, and the declaration is checked against the loader below.
        installed = subprocess.run(["dpkg", "--root=" + root, "--force-depends", "--log=/dev/null",
                                    "-i", deb], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if installed.returncode != 0:
            fail("dpkg could not install the package:\n" + installed.stdout.decode())
        program = os.path.join(root, "usr/bin/vnarchive")
        missing = packages_of_loaded_libraries(program) - depends
        if missing:
            fail("Depends lacks " + ", ".join(sorted(missing)))
        status = output("dpkg", "--root=" + root, "-s", "vnarchive")
        if "Status: install ok installed" not in status:
            fail("dpkg does not list the package as installed:\n" + status)
        code, out, _ = run_program([program, "-a", sample, os.path.join(root, "s.vna")], cwd=root)
        if code != 0 or out:
            fail("the installed program could not pack the sample: %d %r" % (code, out))
        code, out, _ = run_program([program, "-x", os.path.join(root, "s.vna"),
                                    os.path.join(root, "out")], cwd=root)
        if code != 0 or snapshot(os.path.join(root, "out")) != snapshot(sample):
            fail("the installed program did not give the sample back")
    finally:
        shutil.rmtree(root, ignore_errors=True)
    if shutil.which("lintian"):
        lint = subprocess.run(["lintian", "--tag-display-limit", "0", deb], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True).stdout
        if re.search(r"^[EW]: ", lint, re.M):
            fail("lintian:\n" + lint)


def check_zip(path, version):
    with zipfile.ZipFile(path) as z:
        names = sorted(z.namelist())
        if names != ["LICENSE.txt", "vnarchive.exe", "vnarchive.txt"]:
            fail("the zip holds " + ", ".join(names))
        exe = z.read("vnarchive.exe")
        pe = struct.unpack_from("<I", exe, 0x3C)[0]
        if exe[pe:pe + 4] != b"PE\0\0" or struct.unpack_from("<H", exe, pe + 4)[0] != 0x14C:
            fail("vnarchive.exe in the zip is not a 32-bit x86 program")
        text = z.read("vnarchive.txt")
        licence = z.read("LICENSE.txt")
    for name, body in (("manual", text), ("licence", licence)):
        if b"\n" in body.replace(b"\r\n", b"") or b"\x08" in body:
            fail("the %s text is not plain CRLF text" % name)
    if b"MIT License" not in licence or b"The VNArchive developers" not in licence:
        fail("LICENSE.txt in the zip is not the project's licence")
    for needed in (b"SYNOPSIS", b"EXIT STATUS", b"VNArchive " + version.encode()):
        if needed not in text:
            fail("the manual text lacks " + needed.decode())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--deb", required=True)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--sample", required=True)
    args = parser.parse_args()
    check_deb(args.deb, args.version, os.path.abspath(args.sample))
    check_zip(args.zip, args.version)
    print("package check: %s and %s install and run" % (os.path.basename(args.deb),
                                                        os.path.basename(args.zip)))


if __name__ == "__main__":
    main()
