#!/usr/bin/env python3
"""The configuration keys the server's sources read, against docs/configuration.md.

    configuration_keys.py SOURCE_DIR                 print "[Section] Key" per key read
    configuration_keys.py SOURCE_DIR DOCUMENT        also compare; status 1 on a difference

A key is read where a reader is called with a section and a key literal
(`file.readString("TCP", "port")`, `file.IsOne(section, "BCR")` with `section` bound to a
literal in the same file), through a one-key wrapper lambda over such a call
(`read("BasePort")`), or in a table row that pairs a field with its keys. A section is read
whole by `readSection`, `Section`, `sectionExists` or `HasSection`. The document names a key as
a table row "| `Key` |" under a heading that holds "`[Section]`".
"""
import pathlib
import re
import sys

READERS = r"(?:readString|findString|readInteger|Integer|IsOne|Text)"
WHOLE_SECTION = r"(?:readSection|Section|sectionExists|HasSection)"
LITERAL_OR_NAME = r'(?:"([^"]+)"|(\w+))'

BINDING = re.compile(r'(\w+)\s*=\s*"([^"]+)"')
KEY_CALL = re.compile(r"\b" + READERS + r"\(\s*" + LITERAL_OR_NAME + r'\s*,\s*"([^"]+)"\s*\)')
SECTION_CALL = re.compile(r"\b" + WHOLE_SECTION + r"\(\s*" + LITERAL_OR_NAME + r"\s*\)")
WRAPPER = re.compile(r"(\w+)\s*=\s*\[[^\]]*\]\s*\(\s*const\s+(?:char\s*\*|std::string\s*&)\s*(\w+)\s*\)"
                     r"\s*\{\s*return\s+\w+\s*\.\s*(?:readString|findString)\(\s*"
                     + LITERAL_OR_NAME + r"\s*,\s*(\w+)\s*\)")
TABLE_ROW = re.compile(r'\{\s*&\w+::\w+\s*,\s*"(\w+)"\s*,\s*"(\w+)"\s*\}')

DOC_HEADING = re.compile(r"^#+ .*`\[([^\]]+)\]`")
DOC_KEY_ROW = re.compile(r"^\| `(\w+)` \|")


def section_at(bindings, position, literal, name):
    """The section a call names: its literal, or the last literal bound to its name before it."""
    if literal:
        return literal
    bound = [value for start, bound_name, value in bindings
             if start < position and bound_name == name]
    return bound[-1] if bound else None


def keys_read(text):
    keys, sections = set(), set()
    bindings = [(m.start(), m.group(1), m.group(2)) for m in BINDING.finditer(text)]
    for call in KEY_CALL.finditer(text):
        section = section_at(bindings, call.start(), call.group(1), call.group(2))
        if section:
            keys.add((section, call.group(3)))
    for call in SECTION_CALL.finditer(text):
        section = section_at(bindings, call.start(), call.group(1), call.group(2))
        if section:
            sections.add(section)
    for wrapper in WRAPPER.finditer(text):
        if wrapper.group(2) != wrapper.group(5):
            continue
        section = section_at(bindings, wrapper.start(), wrapper.group(3), wrapper.group(4))
        for call in re.finditer(r"\b" + wrapper.group(1) + r'\(\s*"([^"]+)"\s*\)', text):
            keys.add((section, call.group(1)))
    for row in TABLE_ROW.finditer(text):
        section = section_at(bindings, row.start(), None, "section")
        if section:
            keys.update({(section, row.group(1)), (section, row.group(2))})
    return keys, sections


def sources(folder):
    return [p for p in sorted(pathlib.Path(folder).rglob("*")) if p.suffix in (".cpp", ".h")]


def documented(document):
    keys, sections, section = set(), set(), None
    for line in document.read_text(encoding="utf-8").splitlines():
        heading = DOC_HEADING.match(line)
        if heading:
            section = heading.group(1)
            sections.add(section.lower())
        elif line.startswith("#"):
            section = None
        row = DOC_KEY_ROW.match(line)
        if row and section:
            keys.add((section, row.group(1)))
    return keys, sections


def lowered(pairs):
    return {(section.lower(), key.lower()) for section, key in pairs}


def main(arguments):
    if len(arguments) not in (1, 2):
        print(__doc__, file=sys.stderr)
        return 2
    keys, sections = set(), set()
    texts = []
    for path in sources(arguments[0]):
        text = path.read_text(encoding="utf-8", errors="replace")
        texts.append(text)
        found_keys, found_sections = keys_read(text)
        keys |= found_keys
        sections |= found_sections
    if len(arguments) == 1:
        for section, key in sorted(keys):
            print(f"[{section}] {key}")
        return 0

    doc_keys, doc_sections = documented(pathlib.Path(arguments[1]))
    problems = []
    for section, key in sorted(keys):
        if (section.lower(), key.lower()) not in lowered(doc_keys):
            problems.append(f"[{section}] {key} is read by the server but not documented")
    for section in sorted(sections | {s for s, _ in keys}):
        if section.lower() not in doc_sections:
            problems.append(f"[{section}] is read by the server but has no heading")
    everything = "\n".join(texts)
    for section, key in sorted(doc_keys):
        if not re.search(r"\b" + re.escape(key) + r"\b", everything):
            problems.append(f"[{section}] {key} is documented but no source names it")
    for problem in problems:
        print(f"{arguments[1]}: {problem}")
    print(f"{len(keys)} keys read, {len(doc_keys)} documented, {len(problems)} differences")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
