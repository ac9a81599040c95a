#!/usr/bin/env python3
"""The plant engineer's guide cannot drift from the driver.

Every driver text the guide quotes is marked 「…」. Each must occur in the built DLL exactly as the
driver writes it: the code's texts as code page 936 (GBK) bytes in the DLL's data (the build
compiles its literals with -fexec-charset=GBK), the version resource's strings (DeviceName and the
other captions that Windows keeps as UTF-16) as UTF-16LE in the resource section. Every picture the
guide shows must exist. Each text or picture that is missing is reported with its line, and the
exit status is then 1.

    check_guide.py --guide docs/guide.zh-CN.md --dll build/win32/interface/Vorel_PCI.dll
    check_guide.py ... --self-test    # the check itself: altered copies of the guide must fail

Standard library only.
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

QUOTE = re.compile(r"「([^「」\n]*)」")
# Markdown pictures ![alt](path "title") and HTML <img src="path">.
MD_IMAGE = re.compile(r"!\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HTML_IMAGE = re.compile(r"<img\b[^>]*\bsrc\s*=\s*[\"']([^\"']+)[\"']", re.IGNORECASE)

IMAGE_SCN_MEM_EXECUTE = 0x20000000


class Dll:
    """The DLL's bytes split the way the driver stores its texts.

    The compiler keeps a text in one of three ways: whole, as GBK bytes in a data section (.rdata);
    for the many short texts that an optimised build copies straight into a string's buffer, as
    the immediate operands of the store instructions that do the copy (mov [reg+disp], imm32 and
    mov reg, imm32), four bytes at a time, in the code section; and, for the version resource's
    strings, as UTF-16LE in .rsrc. A text is found when its GBK bytes occur whole in the data, or
    when, from its first byte on, every four-byte piece of it is the operand of such a store (see
    _in_immediates for its last piece), or as UTF-16LE in the resource section.
    """

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.text_data = b""  # sections that hold data, not code: where whole literals live
        self.resources = b""  # .rsrc: the version resource's UTF-16 strings
        self.immediates = set()  # four-byte store operands of the code
        self.short_immediates = set()  # two- and one-byte store operands (the ends of texts)
        self._split_sections()

    def _split_sections(self):
        d = self.data
        data_parts, rsrc_parts = [], []
        for section in pe_image.read(d).sections:
            body = pe_image.section_bytes(d, section)
            if section.name == ".rsrc":
                rsrc_parts.append(body)
            if section.flags & IMAGE_SCN_MEM_EXECUTE:
                self._collect_immediates(body)
            else:
                data_parts.append(body)
        # A separator no text can contain keeps a match from straddling two sections.
        self.text_data = b"\0\xff\0".join(data_parts)
        self.resources = b"\0\xff\0".join(rsrc_parts)

    def _collect_immediates(self, code):
        """Operands of mov r/m32, imm32 (C7 /0), mov r32, imm32 (B8+r), mov r/m16, imm16 (66 C7 /0)
        and mov r/m8, imm8 (C6 /0), decoded at every offset (the code is not disassembled)."""
        n = len(code)
        for i in range(n - 1):
            op = code[i]
            if 0xB8 <= op <= 0xBF and i + 5 <= n:
                self.immediates.add(code[i + 1:i + 5])
                continue
            size, p = 4, i
            if op == 0x66:
                size, p = 2, i + 1
                if p >= n:
                    continue
                op = code[p]
            if op == 0xC6 and size == 4:
                size = 1
            elif op != 0xC7:
                continue
            p += 1
            if p >= n:
                continue
            modrm = code[p]
            mod, reg, rm = modrm >> 6, (modrm >> 3) & 7, modrm & 7
            if reg != 0:
                continue
            p += 1
            if mod != 3 and rm == 4:
                if p >= n:
                    continue
                base = code[p] & 7
                p += 1
                if mod == 0 and base == 5:
                    p += 4
            p += {0: 4 if rm == 5 else 0, 1: 1, 2: 4, 3: 0}[mod]
            value = code[p:p + size]
            if len(value) == size:
                (self.immediates if size == 4 else self.short_immediates).add(value)

    def _in_immediates(self, data):
        """Whether the text is copied by stores: four-byte operands in a row from its first byte,
        its last one to three bytes (if any) a two- or one-byte store's operand or the start of a
        four-byte one that also covers what follows the text. A text that begins inside a
        store's operand is not matched: too little of it would be checked."""
        if len(data) < 4:
            return False  # too short to tell from chance
        pieces = [data[k:k + 4] for k in range(0, len(data), 4)]
        for index, piece in enumerate(pieces):
            if len(piece) == 4:
                if piece not in self.immediates:
                    return False
            elif not (piece in self.short_immediates or
                      (len(piece) > 2 and any(v.startswith(piece) for v in self.immediates))):
                return False
        return True

    def find(self, text):
        """How the text is stored ('GBK', 'GBK in code', 'UTF-16LE resource'), or None."""
        gbk = text.encode("gbk")
        if gbk in self.text_data:
            return "GBK"
        if self._in_immediates(gbk):
            return "GBK in code"
        if text.encode("utf-16-le") in self.resources:
            return "UTF-16LE resource"
        return None


def quoted_texts(lines):
    """(line number, text) of every 「…」, and (line number, problem) of every broken mark."""
    texts, problems = [], []
    for number, line in enumerate(lines, 1):
        for m in QUOTE.finditer(line):
            texts.append((number, m.group(1)))
        rest = QUOTE.sub("", line)
        if "「" in rest or "」" in rest:
            problems.append((number, "a 「 without its 」 on the same line (a quote may not span lines)"))
    return texts, problems


def pictures(lines):
    found = []
    for number, line in enumerate(lines, 1):
        for pattern in (MD_IMAGE, HTML_IMAGE):
            for m in pattern.finditer(line):
                found.append((number, m.group(1)))
    return found


def check(guide_path, dll_path, image_root=None, verbose=False):
    """Returns the list of failure lines; empty when the guide is in step with the DLL."""
    with open(guide_path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    image_root = image_root or os.path.dirname(os.path.abspath(guide_path))
    name = os.path.basename(guide_path)
    dll = Dll(dll_path)
    failures = []

    texts, problems = quoted_texts(lines)
    for number, problem in problems:
        failures.append(f"{name}:{number}: {problem}")
    if not texts:
        failures.append(f"{name}: no 「…」 driver text found; the guide should quote the driver's texts")
    stored = {"GBK": 0, "GBK in code": 0, "UTF-16LE resource": 0}
    for number, text in texts:
        if not text.strip():
            failures.append(f"{name}:{number}: empty driver text 「{text}」")
            continue
        try:
            where = dll.find(text)
        except UnicodeEncodeError:
            failures.append(f"{name}:{number}: 「{text}」 has characters that code page 936 cannot hold")
            continue
        if where is None:
            failures.append(f"{name}:{number}: driver text 「{text}」 is not in {os.path.basename(dll_path)}")
        else:
            stored[where] += 1
            if verbose:
                print(f"  {name}:{number}: 「{text}」 ({where})")

    shown = pictures(lines)
    for number, target in shown:
        if re.match(r"^[a-z]+:", target, re.IGNORECASE):
            failures.append(f"{name}:{number}: picture {target} is not a file beside the guide")
            continue
        if not os.path.isfile(os.path.join(image_root, target)):
            failures.append(f"{name}:{number}: picture {target} does not exist")

    if not failures:
        distinct = len({t for _, t in texts})
        print(f"{name}: {len(texts)} driver texts quoted ({distinct} distinct) all found in "
              f"{os.path.basename(dll_path)} ({stored['GBK']} as GBK data, {stored['GBK in code']} as GBK store "
              f"operands in the code, {stored['UTF-16LE resource']} as UTF-16LE in the version resource); {len(shown)} pictures all present")
    return failures


def alter(text):
    """The text with one character changed, so that it is no longer the driver's."""
    for i in range(len(text) - 1, -1, -1):
        c = text[i]
        if "\u4e00" <= c <= "\u9fff":
            replacement = "错" if c != "错" else "对"
            return text[:i] + replacement + text[i + 1:]
    return text + "Z"


def self_test(guide_path, dll_path):
    """The check must pass on the guide and fail, naming the line, on altered copies of it."""
    script = os.path.abspath(__file__)
    image_root = os.path.dirname(os.path.abspath(guide_path))
    with open(guide_path, encoding="utf-8") as f:
        original = f.read()
    lines = original.split("\n")
    texts, _ = quoted_texts(lines)
    if not texts:
        print("self-test: the guide quotes no driver text")
        return 1
    if check(guide_path, dll_path):
        print("self-test: the check does not pass on the guide itself; run it without --self-test")
        return 1

    # One alteration per case: the first, a middle and the longest quoted text, and a picture.
    cases = []
    longest = max(texts, key=lambda t: len(t[1]))
    picked = [texts[0], texts[len(texts) // 2], longest]
    # And one of each other way the DLL stores a text: the weaker matches must bite too.
    dll = Dll(dll_path)
    for kind in ("GBK in code", "UTF-16LE resource"):
        picked += [t for t in texts if dll.find(t[1]) == kind][:1]
    for number, text in picked:
        changed = alter(text)
        line = lines[number - 1].replace(f"「{text}」", f"「{changed}」", 1)
        cases.append((f"quoted text 「{text}」 changed to 「{changed}」", number, line))
    shown = pictures(lines)
    if shown:
        number, target = shown[0]
        line = lines[number - 1].replace(target, "missing_" + os.path.basename(target), 1)
        cases.append((f"picture {target} renamed", number, line))

    failed = 0
    with tempfile.TemporaryDirectory(prefix="check_guide_") as tmp:
        for description, number, new_line in cases:
            altered = list(lines)
            altered[number - 1] = new_line
            copy = os.path.join(tmp, os.path.basename(guide_path))
            with open(copy, "w", encoding="utf-8") as f:
                f.write("\n".join(altered))
            run = subprocess.run(
                [sys.executable, script, "--guide", copy, "--dll", dll_path, "--image-root", image_root],
                capture_output=True, text=True, encoding="utf-8")
            named = f":{number}:" in run.stdout
            if run.returncode != 0 and named:
                print(f"self-test: {description} (line {number}): the check fails as it should")
                for out in run.stdout.splitlines():
                    if f":{number}:" in out:
                        print(f"    {out}")
            else:
                failed += 1
                print(f"self-test: {description} (line {number}): the check did NOT fail on it "
                      f"(exit {run.returncode})\n{run.stdout}{run.stderr}")
    print(f"self-test: {len(cases) - failed} of {len(cases)} alterations caught")
    return 1 if failed else 0


def main():
    sys.stdout.reconfigure(encoding="utf-8")
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--guide", required=True, help="the guide (Markdown, UTF-8)")
    p.add_argument("--dll", required=True, help="the built Vorel_PCI.dll")
    p.add_argument("--image-root", help="folder the pictures are relative to (default: the guide's)")
    p.add_argument("--self-test", action="store_true", help="check that altered copies of the guide fail")
    p.add_argument("--verbose", action="store_true", help="list every quoted text and where it is stored")
    args = p.parse_args()
    if args.self_test:
        return self_test(args.guide, args.dll)
    failures = check(args.guide, args.dll, args.image_root, args.verbose)
    for failure in failures:
        print(failure)
    if failures:
        print(f"{len(failures)} problem(s): the guide no longer matches the driver (quote its texts exactly, "
              "as in the source, or change the guide with the driver)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
