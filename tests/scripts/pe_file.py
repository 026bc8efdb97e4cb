"""Reads what the package tests need from a 32-bit Windows image (PE32): its
link time, its sections and its version resource. Written from the PE format
itself, so that it does not share a mistake with the tools that built the file.
"""
import struct

RT_VERSION = 16
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


class PeError(Exception):
    pass


class Section:
    def __init__(self, name, virtual_size, rva, raw_size, raw_offset, characteristics):
        self.name = name
        self.virtual_size = virtual_size
        self.rva = rva
        self.raw_size = raw_size
        self.raw_offset = raw_offset
        self.characteristics = characteristics


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        (pe,) = struct.unpack_from("<I", data, 0x3C)
        if data[pe : pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        coff = pe + 4
        (self.machine, count, self.time_date_stamp, _, _, optional_size, self.characteristics) = (
            struct.unpack_from("<HHIIIHH", data, coff)
        )
        optional = coff + 20
        (magic,) = struct.unpack_from("<H", data, optional)
        if magic != 0x10B:
            raise PeError(f"optional header magic {magic:#x} is not PE32")
        (directories,) = struct.unpack_from("<I", data, optional + 92)
        self.directories = [
            struct.unpack_from("<II", data, optional + 96 + 8 * i) for i in range(directories)
        ]
        table = optional + optional_size
        self.sections = []
        for i in range(count):
            raw = struct.unpack_from("<8sIIIIIIHHI", data, table + 40 * i)
            name = raw[0].rstrip(b"\0").decode("latin-1")
            self.sections.append(Section(name, raw[1], raw[2], raw[3], raw[4], raw[9]))

    def section_bytes(self, section):
        """The bytes a section holds in the file, cut to its size in memory."""
        size = min(section.raw_size, section.virtual_size or section.raw_size)
        return self.data[section.raw_offset : section.raw_offset + size]

    def offset_of(self, rva):
        for s in self.sections:
            if s.rva <= rva < s.rva + max(s.virtual_size, s.raw_size):
                if rva - s.rva >= s.raw_size:
                    break
                return s.raw_offset + rva - s.rva
        raise PeError(f"RVA {rva:#x} is not backed by the file")

    def resource(self, type_id):
        """The data of the first resource of a type (its first name, first language)."""
        if len(self.directories) <= 2 or self.directories[2][0] == 0:
            raise PeError("no resource directory")
        base = self.offset_of(self.directories[2][0])

        def entry(directory, wanted):  # the target of the wanted id, or of the first entry
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if wanted is None or (not name & 0x80000000 and name == wanted):
                    return target
            raise PeError(f"no resource of type {type_id}")

        names = entry(0, type_id)  # type -> names -> languages -> data
        if not names & 0x80000000:
            raise PeError("resource type without a name directory")
        languages = entry(names & 0x7FFFFFFF, None)
        if not languages & 0x80000000:
            raise PeError("resource name without a language directory")
        leaf = entry(languages & 0x7FFFFFFF, None)
        if leaf & 0x80000000:
            raise PeError("resource tree deeper than type, name, language")
        rva, size, _, _ = struct.unpack_from("<IIII", self.data, base + leaf)
        start = self.offset_of(rva)
        return self.data[start : start + size]


def _align4(n):
    return (n + 3) & ~3


def _block(data, at):
    """One node of a version resource: (key, value, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, at)
    if length < 6 or at + length > len(data):
        raise PeError(f"version block at {at} has length {length}")
    end = at + length
    key_end = at + 6
    while data[key_end : key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= end:
            raise PeError("version block key not terminated")
    key = data[at + 6 : key_end].decode("utf-16-le")
    value_at = _align4(key_end + 2)
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[value_at : value_at + value_bytes]
    if value_type == 1:
        value = value.decode("utf-16-le").rstrip("\0")
    children = []
    child = _align4(value_at + value_bytes)
    while child < end:
        node = _block(data, child)
        children.append(node)
        child = _align4(node[3])
    return key, value, children, end


class VersionInfo:
    def __init__(self, file_version, product_version, file_type, strings):
        self.file_version = file_version  # four numbers
        self.product_version = product_version
        self.file_type = file_type
        self.strings = strings  # name -> text, from the first string table


def version_info(pe):
    data = pe.resource(RT_VERSION)
    key, fixed, children, _ = _block(data, 0)
    if key != "VS_VERSION_INFO":
        raise PeError(f"version resource root is '{key}'")
    if len(fixed) < 52:
        raise PeError("no fixed file information")
    fields = struct.unpack_from("<13I", fixed)
    if fields[0] != FIXED_FILE_INFO_SIGNATURE:
        raise PeError(f"fixed file information signature {fields[0]:#x}")

    def split(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    strings = {}
    for child_key, _, tables, _ in children:
        if child_key == "StringFileInfo" and tables:
            for name, text, _, _ in tables[0][2]:
                strings[name] = text
    return VersionInfo(split(fields[2], fields[3]), split(fields[4], fields[5]), fields[9], strings)
