#!/usr/bin/env python3
"""Reads the VERSIONINFO resource of a PE file (DLL or EXE) and checks it.

pe_version.py FILE --version 2.10.5.21 --product "Orvane SDK"

Walks the PE headers to the resource directory, finds the RT_VERSION resource and parses the
VS_VERSIONINFO block tree: the fixed file information (binary file and product versions) and the
strings of each StringTable. Exits 1 with the differences, 0 when everything matches.
"""
import argparse
import struct
import sys

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD


def sections_of(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
    table = optional + optional_size
    sections = []
    for i in range(count):
        virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        sections.append((rva, max(virtual_size, raw_size), raw_offset))
    return sections, resource_rva, resource_size


def file_offset(sections, rva):
    for start, size, raw in sections:
        if start <= rva < start + size:
            return raw + rva - start
    raise ValueError("RVA 0x%x is in no section" % rva)


def directory_entries(data, base, offset):
    named, numbered = struct.unpack_from("<12xHH", data, base + offset)
    for i in range(named + numbered):
        ident, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
        yield ident, target


def version_resource(data):
    sections, rva, size = sections_of(data)
    if size == 0:
        raise ValueError("the file has no resources")
    base = file_offset(sections, rva)
    for ident, target in directory_entries(data, base, 0):
        if ident != RT_VERSION or not target & 0x80000000:
            continue
        # Name level, then language level: the first of each.
        _, names = next(directory_entries(data, base, target & 0x7FFFFFFF))
        _, leaf = next(directory_entries(data, base, names & 0x7FFFFFFF))
        data_rva, data_size = struct.unpack_from("<II", data, base + leaf)
        start = file_offset(sections, data_rva)
        return data[start:start + data_size]
    raise ValueError("the file has no VERSIONINFO resource")


def align4(offset):
    return (offset + 3) & ~3


def parse_block(block, offset):
    """One block of the version tree: (key, value, children, length)."""
    length, value_length, kind = struct.unpack_from("<HHH", block, offset)
    end = block.index(b"\0\0", offset + 6)
    while (end - offset - 6) % 2:
        end = block.index(b"\0\0", end + 1)
    key = block[offset + 6:end].decode("utf-16-le")
    position = align4(end + 2)
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = block[position:position + value_bytes]
    if kind == 1:
        value = value.decode("utf-16-le").rstrip("\0")
    position = align4(position + value_bytes)
    children = []
    while position < offset + length:
        child = parse_block(block, position)
        children.append(child)
        position = align4(position + child[3])
    return key, value, children, length


def read_version_info(data):
    key, fixed, children, _ = parse_block(version_resource(data), 0)
    if key != "VS_VERSION_INFO":
        raise ValueError("root block is %r" % key)
    fields = struct.unpack_from("<13I", fixed)
    if fields[0] != FIXED_SIGNATURE:
        raise ValueError("no VS_FIXEDFILEINFO signature")

    def dotted(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    info = {"fixed file version": dotted(fields[2], fields[3]), "fixed product version": dotted(fields[4], fields[5])}
    strings = {}
    translations = []
    for child_key, _, grandchildren, _ in children:
        if child_key == "StringFileInfo":
            for _, _, entries, _ in grandchildren:
                strings.update({name: value for name, value, _, _ in entries})
        elif child_key == "VarFileInfo":
            for _, value, _, _ in grandchildren:
                translations += [struct.unpack_from("<HH", value, i) for i in range(0, len(value), 4)]
    return info, strings, translations


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--version", required=True)
    parser.add_argument("--product", required=True)
    args = parser.parse_args()
    info, strings, translations = read_version_info(open(args.file, "rb").read())
    expected = {
        "fixed file version": args.version, "fixed product version": args.version,
        "FileVersion": args.version, "ProductVersion": args.version, "ProductName": args.product,
    }
    found = dict(info, **strings)
    problems = ["%s: %r, expected %r" % (k, found.get(k), v) for k, v in expected.items() if found.get(k) != v]
    if (0x0409, 1200) not in translations:
        problems.append("translation %r lacks US English in UTF-16 (0x0409, 1200)" % translations)
    print("VERSIONINFO of %s: %s, translations %s" % (args.file, found, translations))
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
