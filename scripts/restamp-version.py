#!/usr/bin/env python3
"""Gives a built program another version, in place, without building it again.

    scripts/restamp-version.py FILE VERSION

FILE is a copy of one of our programs: a Linux executable with the
".quarrin.version" section, or a Windows executable with a VERSIONINFO
resource. VERSION is four numbers joined by dots, written as text with as
many characters as the version the file carries (1.0.0.0 -> 1.0.1.0), since
the texts are rewritten where they lie. The upgrade tests make the package
"one build higher" from copies this way instead of compiling the tree again.
Exits 1 with a reason when the file holds no stamp or the text lengths differ.
"""
import re
import struct
import sys


def fail(message):
    print(f"restamp-version.py: {message}", file=sys.stderr)
    sys.exit(1)


def elf_section(data, wanted):
    """(offset, size) of the named section of an ELF64 little-endian file, or None."""
    if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
        return None
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A)
    def header(index):
        return struct.unpack_from("<IIQQQQIIQQ", data, shoff + index * shentsize)
    names_offset = header(shstrndx)[4]
    for index in range(shnum):
        name, _, _, _, offset, size = header(index)[:6]
        end = data.index(b"\0", names_offset + name)
        if data[names_offset + name:end] == wanted:
            return offset, size
    return None


def replace_value(data, start, end, key, old, new):
    """Rewrites the value that follows KEY (with padding) between START and END."""
    position = data.find(key, start, end)
    if position < 0:
        fail(f"no {key!r} in the version stamp")
    value = data.find(old, position + len(key), end)
    if value < 0 or value - (position + len(key)) > 4:
        fail(f"the value of {key!r} is not the stamped version")
    data[value:value + len(old)] = new


def restamp_elf(data, numbers, text):
    section = elf_section(data, b".quarrin.version")
    if section is None:
        return False
    offset, size = section
    if data[offset:offset + 16] != b"QUARRIN-VERSION\0":
        fail("the .quarrin.version section has no stamp header")
    old_numbers = struct.unpack_from("<4H", data, offset + 16)
    old = ".".join(map(str, old_numbers)).encode()
    if len(old) != len(text):
        fail(f"the version text must keep its length: {old.decode()} -> {text}")
    struct.pack_into("<4H4H", data, offset + 16, *numbers, *numbers)
    for key in (b"FileVersion\0", b"ProductVersion\0"):
        replace_value(data, offset + 40, offset + size, key, old + b"\0", text.encode() + b"\0")
    return True


def restamp_pe(data, numbers, text):
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    start = data.find(key)
    if start < 0 or data[:2] != b"MZ":
        return False
    length, = struct.unpack_from("<H", data, start - 6)
    end = start - 6 + length
    fixed = data.find(struct.pack("<I", 0xFEEF04BD), start, end)
    if fixed < 0:
        fail("the version resource has no fixed file information")
    ms_file, ls_file = struct.unpack_from("<II", data, fixed + 8)
    old = f"{ms_file >> 16}.{ms_file & 0xFFFF}.{ls_file >> 16}.{ls_file & 0xFFFF}"
    if len(old) != len(text):
        fail(f"the version text must keep its length: {old} -> {text}")
    ms = numbers[0] << 16 | numbers[1]
    ls = numbers[2] << 16 | numbers[3]
    struct.pack_into("<IIII", data, fixed + 8, ms, ls, ms, ls)
    for name in ("FileVersion\0", "ProductVersion\0"):
        replace_value(data, start, end, name.encode("utf-16-le"),
                      (old + "\0").encode("utf-16-le"), (text + "\0").encode("utf-16-le"))
    return True


def main():
    if len(sys.argv) != 3:
        fail("usage: restamp-version.py FILE VERSION")
    path, text = sys.argv[1], sys.argv[2]
    if not re.fullmatch(r"\d+\.\d+\.\d+\.\d+", text):
        fail(f"VERSION must be four numbers joined by dots, got {text!r}")
    numbers = [int(part) for part in text.split(".")]
    if any(number > 0xFFFF for number in numbers):
        fail(f"each number of VERSION must fit 16 bits, got {text!r}")
    with open(path, "rb") as file:
        data = bytearray(file.read())
    before = len(data)
    try:
        done = restamp_elf(data, numbers, text) or restamp_pe(data, numbers, text)
    except (struct.error, ValueError) as error:
        fail(f"{path}: not a well-formed executable ({error})")
    if not done:
        fail(f"{path} carries no version stamp")
    if len(data) != before:
        fail(f"{path}: the stamp's texts do not match its numbers")
    with open(path, "r+b") as file:
        file.write(data)


if __name__ == "__main__":
    main()
