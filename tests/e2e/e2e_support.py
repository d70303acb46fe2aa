"""Shared pieces of the end-to-end scripts (standard library only)."""
import os

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
