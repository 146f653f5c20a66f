#!/usr/bin/env python3
"""Makes README.txt, the README as plain text for Windows users, from
README.md: ASCII only, CR LF line ends, at most 80 columns, no Markdown
marks (headings underlined, tables as aligned columns or as lists). Written
for Windows first: sections for Linux alone and for developers are left
out, and where a section tells Linux and Windows apart (paragraphs that
start "Linux" or "Windows"), Windows comes first.

  readme_text.py README.md README.txt
"""

import re
import sys
import textwrap

WIDTH = 78          # leaves room within 80 columns
SKIPPED = {"Try it", "Linux notes", "Developing"}   # headings of sections left out


def windows_first(lines):
    """Each section's paragraphs that start with "Windows" (and what follows
    them up to the next paragraph that starts with "Linux" or "Windows")
    moved before the section's first such paragraph."""
    out, section = [], []

    def flush():
        starts = [i for i, line in enumerate(section)
                  if (i == 0 or not section[i - 1].strip()) and re.match(r"(Linux|Windows)\b", line)]
        if not starts:
            out.extend(section)
        else:
            blocks = [section[a:b] for a, b in zip(starts, starts[1:] + [len(section)])]
            ordered = [b for b in blocks if b[0].startswith("Windows")] + \
                      [b for b in blocks if not b[0].startswith("Windows")]
            out.extend(section[:starts[0]])
            for block in ordered:
                body = block[:]
                while body and not body[-1].strip():
                    body.pop()
                out.extend(body + [""])
        section.clear()

    for line in lines:
        if line.startswith("#"):
            flush()
            out.append(line)
        else:
            section.append(line)
    flush()
    return out

# Punctuation with an ASCII form; any other character becomes "?", as a
# Windows console shows a character it has no form for (a name written with
# its accents dropped would be another name).
ASCII_FORMS = {
    "\u2014": "--", "\u2013": "-", "\u2212": "-", "\u2026": "...",
    "\u00d7": "x", "\u2018": "'", "\u2019": "'", "\u201c": '"', "\u201d": '"',
    "\u2192": "->", "\u2264": "<=", "\u2265": ">=", "\u00a0": " ",
}


def to_ascii(text):
    out = []
    for ch in text:
        if ord(ch) < 128:
            out.append(ch)
        elif ch in ASCII_FORMS:
            out.append(ASCII_FORMS[ch])
        else:
            out.append("?")
    return "".join(out)


def inline(text):
    """Markdown inline marks to plain text."""
    text = re.sub(r"\[([^\]]+)\]\(#[^)]*\)", r"\1", text)          # link inside
    text = re.sub(r"\[([^\]]+)\]\(([^)]+)\)", r"\1 (\2)", text)     # other links
    text = re.sub(r"\*\*([^*]+)\*\*", r"\1", text)
    text = re.sub(r"`([^`]+)`", r"\1", text)
    return to_ascii(text)


def wrap(text, first="", rest=""):
    return textwrap.wrap(text, WIDTH, initial_indent=first, subsequent_indent=rest,
                         break_long_words=False, break_on_hyphens=False) or [first.rstrip()]


def code_line(line):
    """A line of a code block, broken at spaces when it is too wide."""
    line = to_ascii(line)
    if len(line) <= WIDTH + 2:
        return [line]
    indent = re.match(r" *", line).group(0)
    return wrap(line.strip(), indent, indent + "    ")


def table(rows):
    cells = [[inline(c.strip()) for c in row.strip().strip("|").split("|")] for row in rows]
    cells = [r for r in cells if not all(re.fullmatch(r":?-+:?", c) for c in r if c)]
    head, body = cells[0], cells[1:]
    widths = [max(len(r[i]) if i < len(r) else 0 for r in cells) for i in range(len(head))]
    if sum(widths) + 2 * (len(widths) - 1) + 2 <= WIDTH:
        lines = []
        for r in [head, ["-" * w for w in widths]] + body:
            lines.append(("  " + "  ".join(c.ljust(w) for c, w in zip(r, widths))).rstrip())
        return lines
    lines = []
    if len(head) == 2 and widths[0] <= 12:
        # A short key and its text: the text in a hanging indent.
        for key, text in body:
            lines += wrap(text, "  " + key.ljust(widths[0] + 2), " " * (widths[0] + 4))
        return lines
    # Too wide for columns: each row as a list entry, "header: cell".
    for r in body:
        first = True
        for name, cell in zip(head, r):
            if not cell:
                continue
            item = (name + ": " if name else "") + cell
            lines += wrap(item, "  - " if first else "    ", "      ")
            first = False
    return lines


def convert(markdown):
    lines = windows_first(markdown.replace("\r\n", "\n").split("\n"))
    out = []
    paragraph = []
    skipping = False
    i = 0

    def flush():
        if paragraph:
            text = " ".join(p.strip() for p in paragraph)
            bullet = re.match(r"- ", paragraph[0])
            if bullet:
                out.extend(wrap(inline(text[2:]), "  - ", "    "))
            else:
                out.extend(wrap(inline(text)))
            paragraph.clear()

    while i < len(lines):
        line = lines[i]
        heading = re.match(r"(#+) (.*)", line)
        if heading:
            flush()
            title = inline(heading.group(2))
            skipping = heading.group(2) in SKIPPED
            if not skipping:
                if out and out[-1] != "":
                    out.append("")
                out += [title.upper() if len(heading.group(1)) == 1 else title,
                        ("=" if len(heading.group(1)) == 1 else "-") * len(title)]
            i += 1
            continue
        if skipping:
            i += 1
            continue
        if re.fullmatch(r"\s*<!--.*-->\s*", line):
            i += 1
            continue
        if line.startswith("|"):
            flush()
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                rows.append(lines[i])
                i += 1
            out += table(rows)
            continue
        if line.startswith("    ") and not paragraph:
            while i < len(lines) and (lines[i].startswith("    ") or not lines[i].strip()):
                if lines[i].strip() or (i + 1 < len(lines) and lines[i + 1].startswith("    ")):
                    out += code_line(lines[i].rstrip())
                else:
                    break
                i += 1
            continue
        if not line.strip():
            flush()
            if out and out[-1] != "":
                out.append("")
            i += 1
            continue
        if line.startswith("- ") and paragraph:
            flush()
        paragraph.append(line)
        i += 1
    flush()
    while out and out[-1] == "":
        out.pop()
    return "\r\n".join(out) + "\r\n"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as source:
        text = convert(source.read())
    with open(sys.argv[2], "w", encoding="ascii", newline="") as target:
        target.write(text)


if __name__ == "__main__":
    main()
