#!/usr/bin/env python3
"""Writes a release package: one folder with the given files, the same bytes on every build.

Usage: make_zip.py OUT.zip --folder NAME --date YYYY-MM-DD {--file NAME=PATH | --text NAME=PATH}...

The files follow the folder in the order given. Every entry carries the same date
(midnight), MS-DOS attributes and no extra fields, so neither the time of the build, nor the
builder's user, time zone or umask reaches the archive. A --text file is UTF-8 with line feeds;
it is stored with a byte-order mark and CR LF line ends, as Notepad on any Windows shows right.
"""

import argparse
import datetime
import os
import sys
import zipfile

DOS_DIRECTORY = 0x10
DOS_ARCHIVE = 0x20


def windows_text(data):
    text = data.decode("utf-8")
    if text.startswith("\ufeff") or "\r" in text:
        raise ValueError("expected UTF-8 with line feeds only and no byte-order mark")
    return b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("utf-8")


def entry(name, date, attributes):
    info = zipfile.ZipInfo(name, date_time=(date.year, date.month, date.day, 0, 0, 0))
    info.create_system = 0  # MS-DOS: the external attributes are DOS attributes
    info.external_attr = attributes
    info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else zipfile.ZIP_DEFLATED
    return info


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--folder", required=True)
    parser.add_argument("--date", required=True, type=datetime.date.fromisoformat)
    parser.add_argument("--file", dest="entries", action="append", type=lambda s: (s, False))
    parser.add_argument("--text", dest="entries", action="append", type=lambda s: (s, True))
    args = parser.parse_args()

    contents = []
    for argument, is_text in args.entries or []:
        name, _, path = argument.partition("=")
        with open(path, "rb") as f:
            data = f.read()
        contents.append((name, windows_text(data) if is_text else data))

    temporary = args.out + ".part"
    with zipfile.ZipFile(temporary, "w") as archive:
        archive.writestr(entry(args.folder + "/", args.date, DOS_DIRECTORY), b"")
        for name, data in contents:
            info = entry(args.folder + "/" + name, args.date, DOS_ARCHIVE)
            archive.writestr(info, data, compresslevel=9)
    os.replace(temporary, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
