#!/usr/bin/python3
"""The README's recipe that turns a crash's module offset into a function and a line, run as
written on every export of the built DLL: the offset is the export's RVA, read from the DLL's
export table, and the recipe must name that export and a source file:line.

The recipe is the one code line of README.md that calls i686-w64-mingw32-addr2line; it names the
debug file Vorel_PCI.dll.debug (run here in a folder that has it) and the example offset 0x1234,
which the test replaces. Exit 77: the Windows build is not there (CTest skips).
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import pe_image  # noqa: E402

EXAMPLE_OFFSET = "0x1234"


def recipe_of(readme):
    lines = [line.strip() for line in open(readme, encoding="utf-8")
             if line.startswith("    ") and "i686-w64-mingw32-addr2line" in line]
    if len(lines) != 1:
        sys.exit(f"FAIL: README.md should hold one indented code line with "
                 f"i686-w64-mingw32-addr2line, found {len(lines)}")
    recipe = lines[0]
    for needed in (EXAMPLE_OFFSET, "Vorel_PCI.dll.debug"):
        if needed not in recipe:
            sys.exit(f"FAIL: the README's recipe does not contain {needed}: {recipe}")
    return recipe


def image_facts(path):
    """(ImageBase, {export name: RVA}) of a PE32 DLL."""
    data = open(path, "rb").read()
    image = pe_image.read(data)
    if struct.unpack_from("<H", data, image.optional)[0] != 0x10B:
        sys.exit("FAIL: not a PE32 image")
    image_base, = struct.unpack_from("<I", data, image.optional + 28)
    export_rva, _ = struct.unpack_from("<II", data, image.optional + 96)

    def at(rva):
        return pe_image.file_offset(image, rva)

    e = at(export_rva)
    base, n_functions, n_names, functions, names, ordinals = struct.unpack_from("<IIIIII", data, e + 16)
    exports = {}
    for i in range(n_names):
        name_at = at(struct.unpack_from("<I", data, at(names) + 4 * i)[0])
        name = data[name_at:data.index(b"\0", name_at)].decode("ascii")
        ordinal, = struct.unpack_from("<H", data, at(ordinals) + 2 * i)
        exports[name] = struct.unpack_from("<I", data, at(functions) + 4 * ordinal)[0]
    return image_base, exports


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--readme", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--debug", required=True)
    args = parser.parse_args()
    recipe = recipe_of(args.readme)
    if not (os.path.isfile(args.dll) and os.path.isfile(args.debug)):
        print(f"SKIPPED: the Windows build's {args.dll} and its debug file are not built")
        return 77

    image_base, exports = image_facts(args.dll)
    bases = [int(h, 16) for h in re.findall(r"0x[0-9a-fA-F]+", recipe) if h != EXAMPLE_OFFSET]
    if bases != [image_base]:
        sys.exit(f"FAIL: the recipe adds {[hex(b) for b in bases]}, the DLL's ImageBase is "
                 f"{image_base:#x}: correct the README (or the pinned base in interface/CMakeLists.txt)")
    if len(exports) != 18:
        sys.exit(f"FAIL: expected the driver's 18 exports, read {len(exports)}")

    passed = failed = 0
    with tempfile.TemporaryDirectory() as folder:
        os.symlink(os.path.abspath(args.debug), os.path.join(folder, "Vorel_PCI.dll.debug"))
        for name, rva in sorted(exports.items()):
            command = recipe.replace(EXAMPLE_OFFSET, f"{rva:#x}")
            run = subprocess.run(["bash", "-c", command], cwd=folder, capture_output=True, text=True)
            lines = run.stdout.split("\n")
            # -f -i: a function line and a file:line for every inlined frame, the export itself last.
            frames = [(lines[i], lines[i + 1]) for i in range(0, len(lines) - 1, 2)]
            ok = (run.returncode == 0 and frames
                  and re.fullmatch(re.escape(name) + r"(@\d+)?", frames[-1][0])
                  and re.fullmatch(r"\S+\.(cpp|h):[1-9][0-9]*( \(discriminator \d+\))?", frames[-1][1]))
            if ok:
                passed += 1
                print(f"ok   {name} (+{rva:#x}): {frames[-1][0]} at {frames[-1][1]}")
            else:
                failed += 1
                print(f"FAIL {name} (+{rva:#x}): `{command}` printed {run.stdout!r} {run.stderr!r}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
