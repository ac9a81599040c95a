"""The headers and section table of a PE image, as the release script and the document and
release tests read the DLL. Standard library only.
"""

import struct
from typing import NamedTuple


class Section(NamedTuple):
    name: str
    va: int  # virtual address (an RVA)
    vsize: int
    roff: int  # where its bytes start in the file
    rsize: int
    flags: int  # characteristics


class Image(NamedTuple):
    machine: int
    timestamp: int
    symbols: int  # COFF symbols left in the image
    optional: int  # file offset of the optional header
    sections: list


def read(data):
    """The image's headers and sections; ValueError when `data` is no PE file."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise ValueError("not a PE file (no MZ header)")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file (no PE signature)")
    machine, count, stamp, symtab, nsyms, opt_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    strtab = symtab + nsyms * 18
    sections = []
    at = pe + 24 + opt_size
    for i in range(count):
        raw_name, vsize, va, rsize, roff = struct.unpack_from("<8sIIII", data, at + 40 * i)
        flags = struct.unpack_from("<I", data, at + 40 * i + 36)[0]
        name = raw_name.rstrip(b"\0").decode("latin-1")
        if name.startswith("/") and symtab:  # a long name, kept in the string table
            start = strtab + int(name[1:])
            name = data[start:data.index(b"\0", start)].decode("latin-1")
        sections.append(Section(name, va, vsize, roff, rsize, flags))
    return Image(machine, stamp, nsyms, pe + 24, sections)


def section_bytes(data, section):
    """A section's own bytes, without the file alignment's padding after them."""
    return data[section.roff:section.roff + min(section.vsize, section.rsize)]


def file_offset(image, rva):
    """Where the byte at `rva` lies in the file; ValueError when no section holds it."""
    for s in image.sections:
        if s.va <= rva < s.va + max(s.vsize, s.rsize):
            return s.roff + rva - s.va
    raise ValueError(f"RVA {rva:#x} in no section")
