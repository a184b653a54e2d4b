#!/usr/bin/env python3
"""Prints the file version of a Windows executable, "1.0.0.10", as its
version resource (VS_FIXEDFILEINFO) states it. Exit 1 when the file is not a
PE image or has no version resource.

    pe_version.py FILE.exe
"""
import struct
import sys

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD


class NotFound(Exception):
    pass


def unpack(fmt, data, offset):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise NotFound("truncated at 0x%X" % offset)
    return struct.unpack_from(fmt, data, offset)


def resource_section(data):
    if data[:2] != b"MZ":
        raise NotFound("not an MZ image")
    (pe,) = unpack("<I", data, 0x3C)
    if unpack("<4s", data, pe)[0] != b"PE\0\0":
        raise NotFound("no PE header")
    _, sections, _, _, _, opt_size, _ = unpack("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    (magic,) = unpack("<H", data, opt)
    dirs = opt + {0x10B: 96, 0x20B: 112}.get(magic, -1)
    if dirs < opt:
        raise NotFound("unknown optional header")
    rva, _ = unpack("<II", data, dirs + 2 * 8)  # the resource directory
    table = opt + opt_size
    for i in range(sections):
        _, vsize, vaddr, raw_size, raw_ptr = unpack("<8sIIII", data, table + 40 * i)
        if vaddr <= rva < vaddr + max(vsize, raw_size):
            return rva, vaddr, raw_ptr
    raise NotFound("no resource section")


def first_entry(data, base, directory, want_id=None):
    """Offset (from base) of the first entry, or of the entry with want_id."""
    named, ids = unpack("<HH", data, base + directory + 12)
    for i in range(named + ids):
        name, target = unpack("<II", data, base + directory + 16 + 8 * i)
        if want_id is None or (not name & 0x80000000 and name == want_id):
            return target
    raise NotFound("no resource of type %s" % want_id)


def file_version(data):
    rva, vaddr, raw_ptr = resource_section(data)
    base = raw_ptr + (rva - vaddr)
    entry = first_entry(data, base, 0, RT_VERSION)
    for _ in range(2):  # the name level, then the language level
        if not entry & 0x80000000:
            raise NotFound("malformed resource tree")
        entry = first_entry(data, base, entry & 0x7FFFFFFF)
    if entry & 0x80000000:
        raise NotFound("malformed resource tree")
    data_rva, size, _, _ = unpack("<IIII", data, base + entry)
    block = raw_ptr + (data_rva - vaddr)
    # VS_VERSIONINFO: three WORDs, L"VS_VERSION_INFO\0", padding to 4 bytes.
    fixed = (block + 6 + 2 * 16 + 3) & ~3
    if fixed + 52 > block + size:
        raise NotFound("version resource too short")
    signature, _, ms, ls = unpack("<IIII", data, fixed)
    if signature != FIXED_SIGNATURE:
        raise NotFound("no VS_FIXEDFILEINFO")
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        with open(argv[1], "rb") as f:
            print(file_version(f.read()))
    except (OSError, NotFound) as e:
        print("pe_version: %s: %s" % (argv[1], e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
