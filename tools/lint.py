#!/usr/bin/env python3
"""Source rules a script can check, over the project's own C and C++ files.

Rules (each finding is printed as "rule: file:line: detail"):
  line-length  a line wider than 120 columns (East Asian wide characters
               count two, as the formatter counts them)
  log-text     a text given to LogPrintf / LogPrintfWide ends in "\\n"
               (those calls end the line themselves)
  colour-name  an identifier spelled with "Colour" (ours say "Color")
  enum-case    an enum constant that is not UPPER_SNAKE
  c-cast       a C cast to a built-in or Windows scalar type, in C++
  null         NULL in C++ (nullptr is the form)

Findings listed in tools/lint-baseline.txt are known and tolerated; any
other fails the run. `--write-baseline` rewrites that file from the
present findings (after fixing some, to shrink it).
"""

import os
import re
import subprocess
import sys
import unicodedata

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASELINE = os.path.join(ROOT, "tools", "lint-baseline.txt")
COLUMN_LIMIT = 120
# Generated data, not written by hand.
GENERATED = {"game/StoredRandomTable.cpp"}

SCALAR_TYPES = (r"(?:(?:unsigned|signed|const)\s+)*(?:int|char|short|long|float|double|bool|void|BYTE|WORD|DWORD|"
                r"UINT|LONG|ULONG|SHORT|USHORT|size_t|ptrdiff_t|u?int(?:8|16|32|64)_t|u?intptr_t|wchar_t)"
                r"(?:\s*\*+)?(?:\s*const)?")
C_CAST = re.compile(r"(?<![\w)\]>])\(\s*" + SCALAR_TYPES + r"\s*\)\s*(?=[\w(&*~-])")
IDENTIFIER = re.compile(r"\b[A-Za-z_]\w*\b")
UPPER_SNAKE = re.compile(r"^[A-Z][A-Z0-9_]*$")
ENUM_BODY = re.compile(r"\benum\b(?:\s+(?:class|struct))?\s*(\w*)\s*(?::\s*[\w:\s]+)?\{([^{}]*)\}")


def source_files():
    listed = subprocess.run(["git", "ls-files", "--", "*.cpp", "*.h", "*.inl", "*.c"], cwd=ROOT,
                            check=True, capture_output=True, text=True).stdout.split("\n")
    return [f for f in listed if f and f not in GENERATED and os.path.exists(os.path.join(ROOT, f))]


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        return f.read()


def width(line):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line)


def blank_out(text):
    """The text with comments, string and character literals replaced by
    spaces (line breaks kept), so code checks see code only."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            delim_end = text.find("(", i + 2)
            delim = text[i + 2:delim_end]
            end = text.find(")" + delim + '"', delim_end)
            end = n if end < 0 else end + len(delim) + 2
        elif c in "\"'":
            end = i + 1
            while end < n and text[end] != c and text[end] != "\n":
                end += 2 if text[end] == "\\" else 1
            end = min(end + 1, n)
        else:
            out.append(c)
            i += 1
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:end]))
        i = end
    return "".join(out)


def line_of(text, offset):
    return text.count("\n", 0, offset) + 1


# --- log texts -------------------------------------------------------------

def read_literals(text, i):
    """Adjacent string literals (narrow or L) at `i`: (last literal's source
    text or None, position after them)."""
    last = None
    while True:
        at = i
        while at < len(text) and text[at].isspace():
            at += 1
        if at < len(text) and text[at] == "L":
            at += 1
        if at >= len(text) or text[at] != '"':
            return last, i
        end = at + 1
        while end < len(text) and text[end] != '"':
            end += 2 if text[end] == "\\" else 1
        last = text[at + 1:end]
        i = end + 1


def check_log_texts(files, texts_of):
    named_local, named = {}, {}
    for f in files:
        text = texts_of[f]
        for m in re.finditer(r"(\w+)\s*(?:\[\s*\])?\s*=(?!=)", text):
            literal, _ = read_literals(text, m.end())
            if literal is not None:
                named_local[(f, m.group(1))] = literal
                named[m.group(1)] = literal
    findings = []
    for f in files:
        text = texts_of[f]
        for m in re.finditer(r"(?<![\w])LogPrintf(?:Wide)?\(", text):
            literal, after = read_literals(text, m.end())
            if literal is None:
                name = re.match(r"\s*(\w*)", text[after:]).group(1)
                literal = named_local.get((f, name), named.get(name))
            if literal is not None and literal.endswith("\\n"):
                findings.append(("log-text", f, line_of(text, m.start()), '"%s"' % literal[-40:]))
    return findings


# --- naming and forms --------------------------------------------------------

def check_code(f, text):
    findings = []
    code = blank_out(text)
    is_cpp = not f.endswith(".c")
    for number, line in enumerate(text.split("\n"), 1):
        if width(line) > COLUMN_LIMIT:
            findings.append(("line-length", f, number, "%d columns" % width(line)))
    seen = set()
    for m in IDENTIFIER.finditer(code):
        name = m.group(0)
        if "colour" in name.lower() and name not in seen:
            seen.add(name)
            findings.append(("colour-name", f, line_of(code, m.start()), name))
    for m in ENUM_BODY.finditer(code):
        for item in m.group(2).split(","):
            name = item.split("=")[0].strip()
            if name and re.match(r"^\w+$", name) and not UPPER_SNAKE.match(name):
                findings.append(("enum-case", f, line_of(code, m.start(2)), name))
    if is_cpp:
        for m in C_CAST.finditer(code):
            findings.append(("c-cast", f, line_of(code, m.start()), re.sub(r"\s+", " ", m.group(0).strip())))
        for m in re.finditer(r"\bNULL\b", code):
            findings.append(("null", f, line_of(code, m.start()), "NULL"))
    return findings


def key(finding, texts_of):
    """A finding's baseline key: its rule, file and what it is (not its
    line number, so unrelated edits keep the baseline valid)."""
    rule, f, number, detail = finding
    if rule in ("line-length", "c-cast", "null"):
        detail = texts_of[f].split("\n")[number - 1].strip()
    return "%s\t%s\t%s" % (rule, f, detail)


def main(argv):
    files = source_files()
    texts_of = {f: read(f) for f in files}
    findings = check_log_texts(files, texts_of)
    for f in files:
        findings.extend(check_code(f, texts_of[f]))
    keys = [key(x, texts_of) for x in findings]

    if "--write-baseline" in argv:
        with open(BASELINE, "w", encoding="utf-8") as out:
            out.write("# Findings of tools/lint.py that predate the rule; tolerated, not to grow.\n")
            out.write("# Regenerate with tools/lint.py --write-baseline after fixing some.\n")
            for k in sorted(set(keys)):
                out.write(k + "\n")
        print("lint: %d findings written to %s" % (len(set(keys)), os.path.relpath(BASELINE, ROOT)))
        return 0

    known = set()
    if os.path.exists(BASELINE):
        with open(BASELINE, encoding="utf-8") as f:
            known = {line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")}
    new = [(x, k) for x, k in zip(findings, keys) if k not in known]
    for (rule, f, number, detail), _ in new:
        print("%s: %s:%d: %s" % (rule, f, number, detail))
    fixed = len(known - set(keys))
    if fixed:
        print("lint: %d baseline entries no longer occur (tools/lint.py --write-baseline shrinks the file)" % fixed)
    if new:
        print("lint: %d findings" % len(new))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
