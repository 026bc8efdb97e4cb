#!/usr/bin/env python3
"""Writes the zip a player downloads, byte for byte the same whenever the files
are: entries in the order given, one fixed time, fixed attributes, fixed
compression. Text files are written with CR LF line endings (older Notepad
shows LF-only files as one long line) and must be plain ASCII.

usage: release_zip.py OUT.zip KIND:NAME=SOURCE...
  KIND is "text" or "binary", NAME the path inside the zip, SOURCE the file.
"""
import os
import sys
import zipfile

# The earliest time a zip entry can carry.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)


def crlf(data, source):
    try:
        data.decode("ascii")
    except UnicodeDecodeError as error:
        sys.exit(f"release_zip: {source}: not plain ASCII at byte {error.start}")
    lines = data.replace(b"\r\n", b"\n")
    if b"\r" in lines:
        sys.exit(f"release_zip: {source}: carriage return without line feed")
    if lines and not lines.endswith(b"\n"):
        lines += b"\n"
    return lines.replace(b"\n", b"\r\n")


def entry(argument):
    kind, _, rest = argument.partition(":")
    name, _, source = rest.partition("=")
    if kind not in ("text", "binary") or not name or not source:
        sys.exit(f"release_zip: bad entry '{argument}' (want KIND:NAME=SOURCE)")
    with open(source, "rb") as file:
        data = file.read()
    return name, crlf(data, source) if kind == "text" else data


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__.strip())
    out = argv[1]
    entries = [entry(argument) for argument in argv[2:]]
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    partial = out + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, FIXED_TIME)
            # A plain file readable by everyone; no MS-DOS attributes.
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)
    os.replace(partial, out)


if __name__ == "__main__":
    main(sys.argv)
