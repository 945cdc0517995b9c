#!/usr/bin/env python3
"""Writes a zip archive whose bytes depend only on its files' contents and
the commit: the members in the order given, each stamped with the same time,
stored with the same attributes, compressed at one level.

  make_zip.py [--source DIR] ARCHIVE NAME=PATH...

The time is SOURCE_DATE_EPOCH when it is set, else the commit time of HEAD in
DIR (git), else 1980-01-01 00:00, the earliest a zip can hold. Zip times
have no zone; the UTC time is written.
"""
import argparse
import os
import subprocess
import sys
import time
import zipfile

ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC
FILE_ATTRIBUTE_ARCHIVE = 0x20


def source_date(source):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"], check=True,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             env=dict(os.environ, LC_ALL="C")).stdout
        return int(out.strip())
    except (OSError, subprocess.CalledProcessError, ValueError):
        return ZIP_EPOCH


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", default=".")
    parser.add_argument("archive")
    parser.add_argument("members", nargs="+", metavar="NAME=PATH")
    args = parser.parse_args()

    stamp = time.gmtime(max(source_date(args.source), ZIP_EPOCH))[:6]
    partial = args.archive + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for member in args.members:
            name, _, path = member.partition("=")
            if not name or not path:
                sys.exit(f"make_zip: {member!r} is not NAME=PATH")
            info = zipfile.ZipInfo(name, date_time=stamp)
            # Written as by Windows: DOS attributes (an ordinary file), no
            # Unix permissions, which the machine's umask would colour.
            info.create_system = 0
            info.external_attr = FILE_ATTRIBUTE_ARCHIVE
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    os.replace(partial, args.archive)


if __name__ == "__main__":
    main()
