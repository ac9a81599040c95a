#!/usr/bin/python3
"""scripts/dist on the Windows build's DLL, with a guide and release notes of the test's own:
the archives hold what they should, the same input packed twice at two times gives the same bytes,
and a missing document stops the packing with a message that names it.

Exit 77: the Windows build is not there (CTest skips).
"""

import argparse
import hashlib
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

PNG = bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                    "1f15c4890000000d4944415478da63f8cfc0f01f0005000201a2c4a5a90000000049454e44ae426082")

failures = []
passes = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    (passes if condition else failures).append(what)


def make_source(root, source, guide=True, notes=True):
    os.makedirs(os.path.join(root, "docs"))
    os.makedirs(os.path.join(root, "interface"))
    shutil.copy(os.path.join(source, "interface", "version_values.h"), os.path.join(root, "interface"))
    if guide:
        with open(os.path.join(root, "docs", "guide.zh-CN.md"), "w", encoding="utf-8") as f:
            f.write("# 测试手册\n\n| 文字 | 含义 |\n|---|---|\n| 「通讯正常!」 | 正常 |\n\n"
                    "![起始页](shot.png)\n")
        with open(os.path.join(root, "docs", "shot.png"), "wb") as f:
            f.write(PNG)
    if notes:
        with open(os.path.join(root, "docs", "更新说明.md"), "w", encoding="utf-8") as f:
            f.write("# 更新说明\n\n第一行\n第二行\n")


def run_dist(source, root, build_interface, out, epoch):
    build = os.path.dirname(build_interface)
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    return subprocess.run(["/usr/bin/python3", os.path.join(source, "scripts", "dist"), "--source", root,
                           "--build", build, "--out", out], env=env, capture_output=True, text=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build-interface", required=True)
    args = parser.parse_args()
    dll_path = os.path.join(args.build_interface, "Vorel_PCI.dll")
    if not os.path.isfile(dll_path):
        print(f"SKIPPED: the Windows build's {dll_path} is not built")
        return 77
    dll = open(dll_path, "rb").read()

    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.join(tmp, "tree")
        make_source(root, args.source)
        first = run_dist(args.source, root, args.build_interface, os.path.join(tmp, "out1"), 1700000000)
        check(first.returncode == 0, f"scripts/dist packs the build: {first.stderr.strip()}")
        if first.returncode:
            return 1
        version = first.stdout.split("FileVersion ")[1].split(",")[0]
        name = f"Vorel_PCI-{version}-win32.zip"
        time.sleep(1.1)
        second = run_dist(args.source, root, args.build_interface, os.path.join(tmp, "out2"), 1700000000)
        for zip_name in (name, name.replace(".zip", "-symbols.zip")):
            a = open(os.path.join(tmp, "out1", zip_name), "rb").read()
            b = open(os.path.join(tmp, "out2", zip_name), "rb").read()
            check(second.returncode == 0 and a == b, f"{zip_name} packed again a second later is the same bytes")

        raw = open(os.path.join(tmp, "out1", name), "rb").read()
        z = zipfile.ZipFile(io.BytesIO(raw), metadata_encoding="gbk")
        folder = f"Vorel_PCI-{version}/"
        expected = sorted([folder] + [folder + n for n in (
            "SHA256SUMS", "Vorel_PCI.dll", "guide.zh-CN.html", "guide.zh-CN.md", "shot.png", "更新说明.txt")])
        check(z.namelist() == expected, f"the archive holds, in name order, {expected}: {z.namelist()}")
        check(all(i.date_time == (2023, 11, 14, 22, 13, 20) for i in z.infolist()),
              "every entry's time is SOURCE_DATE_EPOCH's")
        check(z.read(folder + "Vorel_PCI.dll") == dll, "the DLL is the build's, byte for byte")
        notes = z.getinfo(folder + "更新说明.txt")
        check(not notes.flag_bits & 0x800 and notes.extra[:2] == struct.pack("<H", 0x7075)
              and "更新说明.txt".encode("utf-8") in notes.extra,
              "the release notes' name is code page 936 in the header, UTF-8 in a Unicode Path field")
        text = z.read(folder + "更新说明.txt")
        check(text.startswith(b"\xef\xbb\xbf") and b"\r\n" in text and b"\n" not in text.replace(b"\r\n", b""),
              "the release notes are UTF-8 with a byte order mark and CRLF line ends")
        check(text.decode("utf-8-sig").split("\r\n")[:3] == ["# 更新说明", "", "第一行"],
              "the release notes keep their text")
        page = z.read(folder + "guide.zh-CN.html").decode("utf-8-sig")
        check('<img alt="起始页" src="shot.png"' in page and "<table>" in page and "「通讯正常!」" in page
              and 'charset=utf-8' in page,
              "the guide's HTML shows its picture beside it, its table and its text, and names its charset")
        check(z.read(folder + "shot.png") == PNG, "the guide's picture is in the archive")
        sums = z.read(folder + "SHA256SUMS").decode("utf-8").split("\r\n")
        listed = {line.split("  ", 1)[1]: line.split("  ", 1)[0] for line in sums if line}
        check(sorted(listed) == sorted(n[len(folder):] for n in expected if n != folder and
                                       not n.endswith("SHA256SUMS")),
              "SHA256SUMS lists every other file of the archive")
        check(all(hashlib.sha256(z.read(folder + n)).hexdigest() == h for n, h in listed.items()),
              "SHA256SUMS gives each file's SHA-256")
        symbols = zipfile.ZipFile(os.path.join(tmp, "out1", name.replace(".zip", "-symbols.zip")))
        check(symbols.namelist() == [folder, folder + "Vorel_PCI.dll.debug"],
              f"the symbols archive holds the debug file: {symbols.namelist()}")
        if shutil.which("unzip"):
            listing = subprocess.run(["unzip", "-Z1", os.path.join(tmp, "out1", name)],
                                     capture_output=True, text=True).stdout
            check(folder + "更新说明.txt" in listing.split("\n"), "unzip reads the release notes' UTF-8 name")

        for missing, doc in (("guide", "docs/guide.zh-CN.md"), ("notes", "docs/更新说明.md")):
            bare = os.path.join(tmp, "no-" + missing)
            make_source(bare, args.source, guide=missing != "guide", notes=missing != "notes")
            out = os.path.join(tmp, "out-" + missing)
            result = run_dist(args.source, bare, args.build_interface, out, 1700000000)
            check(result.returncode == 1 and f"{doc} is missing" in result.stderr and not os.path.exists(out),
                  f"without {doc} nothing is packed and the message names it: {result.stderr.strip()}")

    print(f"{len(passes)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
