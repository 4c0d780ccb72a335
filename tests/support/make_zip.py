#!/usr/bin/env python3
"""Makes a zip archive of a folder with Python's zipfile, in one of several styles.

usage: make_zip.py STYLE SOURCE_DIR ARCHIVE
styles: stored, deflated, streamed (data descriptors), comment (100-byte
archive comment), bzip2 (method 12), empty (no entries; SOURCE_DIR unused)
"""
import io
import os
import sys
import zipfile


class Unseekable(io.RawIOBase):
    """A write-only stream that cannot seek, so zipfile writes data descriptors."""

    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, b):
        return self.f.write(b)


def files(src):
    for root, dirs, names in os.walk(src):
        dirs.sort()
        rel_root = os.path.relpath(root, src)
        if rel_root != ".":
            yield rel_root.replace(os.sep, "/") + "/", None
        for n in sorted(names):
            path = os.path.join(root, n)
            yield os.path.relpath(path, src).replace(os.sep, "/"), path


def main():
    style, src, out = sys.argv[1:4]
    method = {"stored": zipfile.ZIP_STORED, "bzip2": zipfile.ZIP_BZIP2}.get(style, zipfile.ZIP_DEFLATED)
    with open(out, "wb") as raw:
        target = Unseekable(raw) if style == "streamed" else raw
        with zipfile.ZipFile(target, "w", compression=method) as z:
            if style == "comment":
                z.comment = b"c" * 100
            if style == "empty":
                return
            for name, path in files(src):
                if path is None:
                    z.writestr(zipfile.ZipInfo(name), b"")
                elif style == "streamed":
                    with open(path, "rb") as f, z.open(name, "w") as w:
                        w.write(f.read())
                else:
                    z.write(path, name)


if __name__ == "__main__":
    main()
