#!/usr/bin/env python3
"""Writes docs/library.md from the library's public header: its families (the comment blocks)
and every export declared under them. Usage: library_reference.py KRB_lib.h > docs/library.md"""
import re
import sys

DECLARATION = re.compile(r"KRB_API\s+(KRBText|void)\s+(\w+)\s*\(([^)]*)\)\s*;")


def blocks(text):
    """Yields ("comment", text) and ("declaration", match) in the order of the header."""
    position = 0
    pattern = re.compile(r"/\*(.*?)\*/|" + DECLARATION.pattern, re.S)
    for found in pattern.finditer(text, position):
        if found.group(1) is not None:
            yield "comment", found.group(1)
        else:
            yield "declaration", DECLARATION.match(found.group(0))


def comment_lines(comment):
    return [re.sub(r"^\s*\*\s?", "", line).rstrip() for line in comment.strip().splitlines()]


def heading_problem(title):
    """Why a family comment's first line cannot stand as a heading, or None."""
    if not title[:1].isupper():
        return "does not begin as a heading does"
    if title.count("(") != title.count(")"):
        return "opens a parenthesis it does not close"
    if title[-1] in ".,;:":
        return "is a sentence, or is cut mid-sentence"
    return None


def families(text):
    """The header's first comment is its preamble; each later comment opens a family (or adds
    to the notes of one that has no export yet)."""
    current = None
    result = []
    preamble = None
    for kind, value in blocks(text):
        if kind == "comment" and preamble is None:
            preamble = comment_lines(value)
        elif kind == "comment":
            lines = comment_lines(value)
            if current is None or current["exports"]:
                title = lines[0].strip()
                problem = heading_problem(title)
                if problem:
                    sys.exit(f"the family comment's first line {problem} (make it a title of its "
                             f"own and put the text below it): {title}")
                current = {"title": title, "notes": lines[1:], "exports": []}
                result.append(current)
            else:  # a second comment before the first export of a family adds to its notes
                current["notes"] += lines
        elif current is not None:
            result_type, name, arguments = value.groups()
            names = [argument.split()[-1] for argument in arguments.split(",") if argument.strip()]
            current["exports"].append((name, names, "text" if result_type == "KRBText" else "none"))
    return preamble or [], [family for family in result if family["exports"]]


def write(preamble, families_found, out):
    count = sum(len(family["exports"]) for family in families_found)
    out.write("# KRB_lib exports\n\n")
    out.write("Written by `scripts/library_reference.py` from `lib/include/KRB_lib.h`; a test keeps\n")
    out.write("this file equal to that output.\n")
    out.write(f"{count} exports.\n\n")
    out.write("\n".join(preamble).strip() + "\n")
    for family in families_found:
        out.write(f"\n## {family['title']}\n\n")
        notes = "\n".join(family["notes"]).strip()
        if notes:
            out.write(notes + "\n\n")
        out.write("| Export | Arguments | Result |\n|---|---|---|\n")
        for name, arguments, result in family["exports"]:
            out.write(f"| `{name}` | {', '.join(arguments)} | {result} |\n")


def main():
    with open(sys.argv[1], encoding="utf-8") as header:
        preamble, found = families(header.read())
    if not found:
        sys.exit("no exports found in " + sys.argv[1])
    write(preamble, found, sys.stdout)


if __name__ == "__main__":
    main()
