#!/usr/bin/env python3
"""Checks that every program message the README and the manual page quote is
one the program prints, built from the string literals of its sources.

What counts as a quoted message:
  README.md     text in double quotes outside code ("File access denied."),
                and each line of an indented block that follows a line
                <!-- program output --> (lines starting with "$ " are the
                command and are skipped);
  doc/quilbo.1  text in \\(lq...\\(rq, the tags (.TP lines) under DIAGNOSTICS,
                and each line of a .nf block after a line .\\" program output.

A quote matches when it reads as the program's text with values filled in:
the runs of text between values are whole pieces of the program's string
literals (a literal is cut into pieces at its printf conversions and line
ends), the first run may be the end of a piece, the last one its start.
A value is one word, brackets and punctuation around it aside: a path, a
number, a word in capitals (N), a whole literal (EInOutError), in the manual
page an italic word (shown as <name>); any other word only right after a
piece (Archive folder : backup).
A final "." (the report adds one) and a trailing "..." (an abridged quote)
are allowed.

  doc_messages.py            lists every quote, exits 1 if one does not match
"""

import re
import sys
from functools import lru_cache
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
OUTPUT_MARK_MD = "<!-- program output -->"
OUTPUT_MARK_ROFF = '.\\" program output'

# ---- The program's strings ---------------------------------------------------

TOKEN = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'', re.S)
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "0": "\0", "\\": "\\", '"': '"', "'": "'"}
CONVERSION = re.compile(r"%[-+ #0]*(?:\d+|\*)?(?:\.(?:\d+|\*))?(?:hh|h|ll|l|z|j|t)?[diouxXscp]")


def unescape(body):
    return re.sub(r"\\(x[0-9a-fA-F]+|.)",
                  lambda m: chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == "x"
                  else ESCAPES.get(m.group(1), m.group(1)), body)


def source_literals(root=ROOT):
    """The string literals of the program (tests excluded), adjacent ones
    joined as the compiler joins them."""
    literals = []
    for path in sorted((root / "src").rglob("*")):
        if path.suffix not in (".cpp", ".h") or path.name.endswith("_test.cpp"):
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        last_end, current = None, None
        for m in TOKEN.finditer(text):
            token = m.group(0)
            if token[0] != '"':
                continue            # comments, character literals
            if current is not None and text[last_end:m.start()].strip() == "":
                current += unescape(token[1:-1])
            else:
                if current is not None:
                    literals.append(current)
                current = unescape(token[1:-1])
            last_end = m.end()
        if current is not None:
            literals.append(current)
    return literals


def pieces_of(literals):
    pieces = set()
    for literal in literals:
        for part in CONVERSION.split(literal.replace("%%", "%")):
            pieces.update(p for p in re.split(r"[\r\n]+", part) if p)
    return pieces


# ---- Matching ----------------------------------------------------------------

VALUE_LIKE = re.compile(r"[0-9/\\*?<>]|\w\.\w|^[A-Z]+$")


def value_spans(quote):
    """(start, end) of every stretch of the quote that may be a value: any
    word, without the brackets or punctuation around it or with them."""
    spans = set()
    for m in re.finditer(r"\S+", quote):
        word = m.group(0)
        for lead in range(0, len(word)):
            if lead and word[lead - 1] not in "([\"'":
                break
            for trail in range(0, len(word) - lead):
                if trail and word[len(word) - trail] not in ".,;:)]\"'":
                    break
                spans.add((m.start() + lead, m.end() - trail))
    return sorted(spans)


def matches(quote, pieces, whole_literals):
    quote = quote.strip()
    if quote.endswith("...") or quote.endswith("\u2026"):
        quote = quote.rstrip(".\u2026").rstrip()
    spans = value_spans(quote)


    def run_ok(run, first, last):
        if run == "" or (not first and not last and run.isspace()):
            return True
        candidates = [run]
        if last and run.endswith("."):
            candidates.append(run[:-1])
        for text in candidates:
            if text == "":
                return True
            if first and last:
                ok = any(text in p for p in pieces)
            elif first:
                ok = any(p.endswith(text) for p in pieces)
            elif last:
                ok = any(p.startswith(text) for p in pieces) or (
                    text is not run and text in pieces)
            else:
                ok = text in pieces
            if ok:
                return True
        return False

    def value_like(word):
        return bool(VALUE_LIKE.search(word)) or word in whole_literals

    @lru_cache(maxsize=None)
    def rest(i, after_plain):
        """Whether quote[i:] matches, i being the start of a run of text
        (after a value when i > 0; after_plain: a value that is a plain word)."""
        first = i == 0
        if run_ok(quote[i:], first, True) and not (after_plain and quote[i:].isspace()):
            return True
        for s, e in spans:
            if s < i or (s == i and not first):
                continue     # two values need text between them
            run, plain = quote[i:s], not value_like(quote[s:e])
            if run.isspace() and (after_plain or plain):
                continue     # only values like numbers and paths stand side by side
            if plain and run.strip() == "":
                continue     # a plain word is a value only right after the program's text
            if run_ok(run, first, False) and rest(e, plain):
                return True
        return False

    return rest(0, False)


# ---- The quotes --------------------------------------------------------------

def readme_quotes(text):
    """(line number, quote) of README.md."""
    quotes = []
    lines = text.split("\n")
    paragraph, start = [], 0
    marked = False
    for n, line in enumerate(lines + [""], 1):
        if line.strip() == OUTPUT_MARK_MD:
            marked = True
            continue
        if line.startswith("    "):
            if marked and not line.strip().startswith("$ "):
                quotes.append((n, line.strip()))
            continue
        if line.strip() and not line.startswith("|") and not line.startswith("#"):
            if not paragraph:
                start = n
            paragraph.append(line.strip())
            marked = False
            continue
        if line.startswith("|") or line.startswith("#"):
            paragraph.append(line)
        prose = re.sub(r"`[^`]*`", "", " ".join(paragraph))
        quotes += [(start, m.group(1)) for m in re.finditer(r'"([^"]+)"', prose)]
        paragraph = []
        if line.strip():
            marked = False
    return quotes


def roff_inline(text):
    """Roff text to plain text; italic words become <word>."""
    out, italic = [], False
    i = 0
    while i < len(text):
        if text.startswith("\\f", i):
            font = text[i + 2]
            if font == "I" and not italic:
                out.append("<")
                italic = True
            elif font in "RBP" and italic:
                out.append(">")
                italic = False
            i += 3
            continue
        out.append(text[i])
        i += 1
    if italic:
        out.append(">")
    text = "".join(out)
    for escape, plain in (("\\(lq", "\u201c"), ("\\(rq", "\u201d"), ("\\(aq", "'"),
                          ("\\(dq", '"'), ("\\(mu", "x"), ("\\(bu", "*"), ("\\-", "-"),
                          ("\\e", "\\"), ("\\ ", " "), ("\\c", ""), ("\\&", "")):
        text = text.replace(escape, plain)
    return text.replace("<>", "")


def roff_args(line):
    return [a[1:-1] if a.startswith('"') else a
            for a in re.findall(r'"[^"]*"|(?:\\ |\S)+', line)]


FONTS = {"B": "B", "I": "I", "R": "R", "BI": "BI", "IB": "IB", "BR": "BR", "RB": "RB",
         "IR": "IR", "RI": "RI", "SM": "R", "SB": "B"}


def roff_line(line):
    """One line of the page as plain text ('' for other requests)."""
    if not line.startswith("."):
        return roff_inline(line)
    name, _, rest = line[1:].partition(" ")
    if name not in FONTS:
        return ""
    args = roff_args(rest)
    if len(FONTS[name]) == 1:
        text = " ".join(args)
        return roff_inline(("\\fI" + text + "\\fR") if FONTS[name] == "I" else text)
    parts = [("\\fI" + a + "\\fR") if FONTS[name][k % 2] == "I" else a
             for k, a in enumerate(args)]
    return roff_inline("".join(parts))


def man_quotes(text):
    """(line number, quote) of the manual page."""
    quotes = []
    lines = text.split("\n")
    section, marked, nofill, tag_next = "", False, False, False
    joined = []          # (line number, text) of every line, for the quotes
    for n, line in enumerate(lines, 1):
        if line.startswith(".SH"):
            section = " ".join(roff_args(line[3:]))
        if line.strip() == OUTPUT_MARK_ROFF:
            marked = True
            continue
        if line.startswith('.\\"'):
            continue
        if line.startswith(".nf"):
            nofill = True
            continue
        if line.startswith(".fi"):
            nofill, marked = False, False
            continue
        plain = roff_line(line)
        if nofill and marked and plain and not plain.startswith("$ "):
            quotes.append((n, plain))
        if tag_next and section == "DIAGNOSTICS" and plain:
            quotes.append((n, plain))
        tag_next = line.startswith(".TP")
        joined.append((n, plain))
    flat = " ".join(t for _, t in joined)
    starts, at = [], 0
    for n, t in joined:
        starts.append((at, n))
        at += len(t) + 1
    for m in re.finditer("\u201c(.*?)\u201d", flat):
        n = max(line for pos, line in starts if pos <= m.start())
        quotes.append((n, m.group(1)))
    return quotes


def check(root=ROOT):
    """[(file, line, quote, ok)] for the README and the manual page."""
    literals = source_literals(root)
    pieces = pieces_of(literals)
    whole = {l.strip() for l in literals if l.strip()}
    found = []
    for name, reader in (("README.md", readme_quotes), ("doc/quilbo.1", man_quotes)):
        text = (root / name).read_text(encoding="utf-8")
        for line, quote in reader(text):
            found.append((name, line, quote, matches(quote, pieces, whole)))
    return found


def main():
    found = check()
    for name, line, quote, ok in found:
        print("%s %s:%d: %s" % ("ok  " if ok else "FAIL", name, line, quote))
    bad = [f for f in found if not f[3]]
    print("%d quoted messages, %d not printed by the program" % (len(found), len(bad)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
