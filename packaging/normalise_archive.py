#!/usr/bin/env python3
"""Rewrites a .tar.gz, .zip or .deb so that it depends on nothing but its contents.

Entries sorted by name; every time SOURCE_DATE_EPOCH; owner root (tar, ar) or
none (zip); modes 0755 for directories and executables, 0644 for the rest; no
name or time in the gzip header. The archive tools that made it record the
builder's user and umask, and their own order.

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


def normalise_tar_gz(packed, epoch):
    with tarfile.open(fileobj=io.BytesIO(packed), mode="r:gz") as archive:
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
    compressed = io.BytesIO()
    with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=compressed,
                       mtime=0) as output:
        output.write(written.getvalue())
    return compressed.getvalue()


# What a .deb holds, in this order, and how each member is made reproducible.
DEBIAN_MEMBERS = {b"debian-binary": lambda member, epoch: member,
                  b"control.tar.gz": normalise_tar_gz, b"data.tar.gz": normalise_tar_gz}


def normalise_deb(packed, epoch):
    """An ar archive of debian-binary, control.tar.gz and data.tar.gz, in that order.

    Any other member could carry what the builder left in it: it is refused.
    """
    if not packed.startswith(b"!<arch>\n"):
        raise ValueError("not an ar archive")
    rewritten, offset = [b"!<arch>\n"], 8
    while offset < len(packed):
        name, size = packed[offset:offset + 16], int(packed[offset + 48:offset + 58])
        member = packed[offset + 60:offset + 60 + size]
        offset += 60 + size + size % 2
        normalise = DEBIAN_MEMBERS.get(name.rstrip().removesuffix(b"/"))
        if normalise is None:
            raise ValueError(f"a .deb member it cannot make reproducible: {name.rstrip()!r}")
        member = normalise(member, epoch)
        header = b"%-16s%-12d%-6d%-6d%-8s%-10d`\n" % (name, epoch, 0, 0, b"100644", len(member))
        rewritten += [header, member, b"\n" if len(member) % 2 else b""]
    return b"".join(rewritten)


def normalise_zip(packed, epoch):
    with zipfile.ZipFile(io.BytesIO(packed)) as archive:
        entries = [(info, archive.read(info)) for info in archive.infolist()]
    date_time = time.gmtime(epoch)[:6]
    written = io.BytesIO()
    with zipfile.ZipFile(written, "w") as archive:
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
    return written.getvalue()


REWRITES = {".tar.gz": normalise_tar_gz, ".zip": normalise_zip, ".deb": normalise_deb}


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    epoch = int(sys.argv[1])
    for path in sys.argv[2:]:
        suffix = next((suffix for suffix in REWRITES if path.endswith(suffix)), None)
        if suffix is None:
            sys.exit(f"not one of {', '.join(REWRITES)}: {path}")
        with open(path, "rb") as packed:
            try:
                content = REWRITES[suffix](packed.read(), epoch)
            except ValueError as error:
                sys.exit(f"{path}: {error}")
        with open(path, "wb") as output:
            output.write(content)


if __name__ == "__main__":
    main()
