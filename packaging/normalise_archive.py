#!/usr/bin/env python3
"""Rewrites a .tar.gz or .zip so that it depends on nothing but its contents.

Entries sorted by name; every time SOURCE_DATE_EPOCH; owner root (tar) or none
(zip); modes 0755 for directories and executables, 0644 for the rest; no name
or time in the gzip header. The archive tools that made it record the builder's
user and their own order.

Usage: normalise_archive.py SOURCE_DATE_EPOCH ARCHIVE...
"""
import gzip
import io
import sys
import tarfile
import time
import zipfile


def normal_mode(mode, is_directory):
    return 0o755 if is_directory or mode & 0o111 else 0o644


def normalise_tar_gz(path, epoch):
    with tarfile.open(path, "r:gz") as archive:
        members = sorted(archive.getmembers(), key=lambda member: member.name)
        contents = {member.name: archive.extractfile(member).read()
                    for member in members if member.isfile()}
    written = io.BytesIO()
    with tarfile.open(fileobj=written, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for member in members:
            member.mtime = epoch
            member.uid = member.gid = 0
            member.uname = member.gname = "root"
            member.mode = normal_mode(member.mode, member.isdir())
            data = contents.get(member.name)
            archive.addfile(member, io.BytesIO(data) if data is not None else None)
    with open(path, "wb") as output, \
            gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=output,
                          mtime=0) as compressed:
        compressed.write(written.getvalue())


def normalise_zip(path, epoch):
    with zipfile.ZipFile(path) as archive:
        entries = [(info, archive.read(info)) for info in archive.infolist()]
    date_time = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(path, "w") as archive:
        for old, data in sorted(entries, key=lambda entry: entry[0].filename):
            info = zipfile.ZipInfo(old.filename, date_time)
            info.create_system = 3  # Unix, so that the mode below is read
            mode = normal_mode(old.external_attr >> 16, old.is_dir())
            if old.is_dir():
                info.external_attr = (0o040000 | mode) << 16 | 0x10  # 0x10: MS-DOS directory
            else:
                info.external_attr = (0o100000 | mode) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    epoch = int(sys.argv[1])
    for path in sys.argv[2:]:
        if path.endswith(".tar.gz"):
            normalise_tar_gz(path, epoch)
        elif path.endswith(".zip"):
            normalise_zip(path, epoch)
        else:
            sys.exit(f"not a .tar.gz or .zip: {path}")


if __name__ == "__main__":
    main()
