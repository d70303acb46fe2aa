"""Shared pieces of the end-to-end scripts (standard library only): the
usage text, running a program with its output captured, work folders on
tmpfs, tree snapshots and preconditions that hold under python -O."""
import os
import subprocess
import tempfile

USAGE = ("VNArchive usage:\n"
         "  vnarchive.exe -a <source file or directory> <name of archive>\n"
         "  vnarchive.exe -x <source archive> <target directory>\n")


def snapshot(root):
    """Every file and folder below `root`: relative name ("/" between levels,
    folders ending in "/") to content (None for folders)."""
    tree = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        for d in dirnames:
            tree[os.path.normpath(os.path.join(rel, d)) + "/"] = None
        for f in filenames:
            with open(os.path.join(dirpath, f), "rb") as fh:
                tree[os.path.normpath(os.path.join(rel, f))] = fh.read()
    return tree


def work_dir(prefix):
    """A fresh folder for one test, on tmpfs where the machine has it."""
    base = "/dev/shm" if os.path.isdir("/dev/shm") else None
    return tempfile.mkdtemp(prefix=prefix, dir=base)


def run_program(command, cwd, env=None, timeout=600):
    """(exit status, stdout, stderr) of `command`. Output goes through files:
    Wine's services inherit pipes and can stall a reader."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.call(command, cwd=cwd, stdout=out, stderr=err, env=env,
                               stdin=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return code, out.read().decode("latin-1"), err.read().decode("latin-1")


class PreconditionFailed(RuntimeError):
    """A test's set-up did not come out as the test needs."""


def require(condition, message):
    """A precondition that python -O cannot remove, unlike assert."""
    if not condition:
        raise PreconditionFailed(message)
