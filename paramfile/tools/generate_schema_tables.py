#!/usr/bin/env python3
"""Writes paramfile/schema_tables.cpp from the schema tables (a markdown text).

Usage: generate_schema_tables.py <schema tables .md> <output .cpp>

The schema tables describe every group and key of the initialisation file and
of the two machine-correction files: a template layout per group (E blank row,
C comment row, k next key), key tables with type, default, range, print format
and comment, and comment rows given in prose. This script reads them as they
stand and expands them row by row, so the committed C++ table never drifts
from its source by a slip of the hand. The build does not run it.
"""

import copy as copy_module
import re
import sys

HEADER_NOTICE = "Vantor Automation KG - Initialisierungdatei für CAN-Steuerungen"
NO_RANGE = (0, -1)

QUOTED = re.compile(r'"([^"]*)"')


def section(text, title):
    """The text under the top-level heading that ends with the title."""
    lines = text.splitlines()
    start = next(i for i, l in enumerate(lines)
                 if l.startswith("# ") and l.rstrip().endswith(title))
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("# ")),
               len(lines))
    return lines[start + 1:end]


def table_after(lines, index):
    """Rows (lists of cells) of the first markdown table at or after index."""
    i = index
    while not lines[i].startswith("|"):
        i += 1
    header = [c.strip() for c in lines[i].strip().strip("|").split("|")]
    rows = []
    i += 2
    while i < len(lines) and lines[i].startswith("|"):
        rows.append([c.strip() for c in lines[i].strip().strip("|").split("|")])
        i += 1
    return header, rows


def find_line(lines, pattern, start=0):
    rx = re.compile(pattern)
    return next(i for i in range(start, len(lines)) if rx.search(lines[i]))


def per_n(text, n):
    """Evaluates "X for n = a..b; Y for n = c, d" (or a plain X) for block n."""
    if " for n = " not in text:
        return text
    for m in re.finditer(r'(?P<val>"[^"]*"|[^;,]+?) for n = (?P<set>\d+(?:\.\.\d+)?(?:, \d+)*)',
                         text):
        for part in m.group("set").split(", "):
            lo, _, hi = part.partition("..")
            if int(lo) <= n <= int(hi or lo):
                return m.group("val").strip()
    raise ValueError(f"no value for n = {n} in {text!r}")


def n_expression(text, n):
    m = re.fullmatch(r"n(?: \+ (\d+))?", text)
    if m:
        return str(n + int(m.group(1) or 0))
    return text


def strip_note(text):
    """Drops a trailing parenthetical note that carries no quoted text."""
    return re.sub(r"\s*\([^\"]*\)$", "", text).strip()


class Row:
    def __init__(self, kind, **fields):
        self.kind = kind
        self.comment = fields.get("comment", "")
        self.key = fields.get("key", "")
        self.default_text = fields.get("default_text", "")
        self.double_default = fields.get("double_default", 0.0)
        self.double_range = fields.get("double_range", NO_RANGE)
        self.integer_default = fields.get("integer_default", 0)
        self.integer_range = fields.get("integer_range", NO_RANGE)
        self.bool_default = fields.get("bool_default", False)
        self.print_format = fields.get("print_format", "")
        self.array_size = fields.get("array_size", 0)


def number(text):
    return float(text) if re.search(r"[.eE]", text) else int(text)


def parse_range(text):
    """Gives (range pair or None, quoted key comment or None, library-copy range or None)."""
    comment = None
    library = None
    m = re.search(r"\(the programming interface library's copy: ([^)]*)\)", text)
    if m:
        library = tuple(number(v) for v in m.group(1).split(".."))
        text = text[:m.start()].strip()
    m = re.search(r'\("([^"]*)"\)', text)
    if m:
        comment = m.group(1)
        text = text[:m.start()].strip()
    text = strip_note(text)
    if text in ("—", ""):
        return None, comment, library
    if ".." in text:
        lo, hi = re.fullmatch(r"(-?[\d.e+]+)\.\.(-?[\d.e+]+)", text).groups()
        return (number(lo), number(hi)), comment, library
    return (0, int(text)), comment, library


def make_key_row(key, type_cell, default, range_cell, fmt, comment):
    """One schema row from the cells of a key table (block values already chosen)."""
    type_cell = type_cell.strip()
    m = re.fullmatch(r'double "([^"]*)"', type_cell)
    if m:
        type_cell, fmt = "double", m.group(1)
    array_size = 0
    m = re.fullmatch(r"(longarray|doublearray), (\d+) elements", type_cell)
    if m:
        type_cell, array_size = m.group(1), int(m.group(2))
    rng, range_comment, library = parse_range(range_cell)
    m = re.fullmatch(r'(.*?)\s*\("([^"]*)"\)', default)
    if m:
        default, range_comment = m.group(1), range_comment or m.group(2)
    if comment in (None, "", "—"):
        comment = range_comment or ""
    else:
        comment = QUOTED.fullmatch(comment).group(1)
    default = strip_note(default)
    fields = dict(key=key, comment=comment, array_size=array_size)
    if type_cell == "bool":
        fields.update(bool_default=QUOTED.fullmatch(default).group(1) == "true", print_format="%b")
    elif type_cell == "string":
        fields.update(default_text="" if default == "empty" else QUOTED.fullmatch(default).group(1),
                      integer_range=rng or NO_RANGE, print_format="%s")
    elif type_cell in ("double", "doublearray"):
        fields.update(double_default=float(default), double_range=rng or NO_RANGE,
                      print_format=fmt or "%f")
    elif type_cell in ("byte", "short", "word", "int", "long", "longarray"):
        fields.update(integer_default=int(default), integer_range=rng or NO_RANGE,
                      print_format="%d")
    else:
        raise ValueError(f"unknown type {type_cell!r} of key {key}")
    row = Row(type_cell, **fields)
    row.library_range = library
    return row


def column(header, cells, name, fallback=""):
    return cells[header.index(name)] if name in header else fallback


def keys_from_table(header, rows, n=None, with_comments=True):
    """Expands a key table into rows; comment rows of the table become C rows."""
    out = []
    for cells in rows:
        key_cell = column(header, cells, "key")
        comment_cell = column(header, cells, "comment", "—")
        if key_cell.startswith("(comment row"):
            texts = [m.group(1) if m.group(1) is not None else ""
                     for m in re.finditer(r'"([^"]*)"|\bempty\b', comment_cell)]
            out.extend(("C", t) for t in texts)
            continue
        key = key_cell.replace("`", "")
        if key.endswith("n") and n is not None:
            key = key[:-1] + str(n)
        default = n_expression(per_n(column(header, cells, "default"), n), n) if n else \
            column(header, cells, "default")
        rng = per_n(column(header, cells, "range", "—"), n) if n else column(header, cells, "range", "—")
        comment = comment_cell if with_comments else "—"
        out.append(("k", make_key_row(key, column(header, cells, "type"), default, rng,
                                      column(header, cells, "format").strip('"'), comment)))
    return out


def expand_layout(symbols):
    """Expands "E k E, then for n = 1..8: C k k k E" and "k (14 keys)" into (symbol, block)."""
    out = []
    head, _, repeat = symbols.partition(", then for n = ")
    def tokens(text, block):
        text = re.sub(r"k \((\d+) keys\)", lambda m: " ".join(["k"] * int(m.group(1))), text)
        text = re.sub(r"(\d+) keys", lambda m: " ".join(["k"] * int(m.group(1))), text)
        return [(t, block) for t in re.findall(r"\b[ECk]\b", text)]
    out.extend(tokens(head, None))
    if repeat:
        rng, _, body = repeat.partition(": ")
        lo, hi = (int(v) for v in rng.split(".."))
        for n in range(lo, hi + 1):
            out.extend(tokens(body, n))
    return out


def assemble(group, comment, layout, comments, keys, block_keys=None, block_comments=None):
    """Fills a group's layout with its comment rows and keys in order."""
    rows = [Row("GROUP", key=group, comment=comment)]
    comments = list(comments)
    keys = list(keys)
    per_block = {}
    for symbol, block in expand_layout(layout):
        if symbol == "E":
            rows.append(Row("EMPTY"))
        elif symbol == "C":
            source = comments if block is None else per_block.setdefault(
                ("C", block), list(block_comments(block)))
            rows.append(Row("COMMENT", comment=source.pop(0)))
        else:
            source = keys if block is None else per_block.setdefault(
                ("k", block), list(block_keys(block)))
            rows.append(source.pop(0))
    return rows


def split_table_items(items):
    comments = [text for kind, text in items if kind == "C"]
    keys = [row for kind, row in items if kind == "k"]
    return comments, keys


def build_initialisation(lines):
    layout_header, layout_rows = table_after(lines, find_line(lines, r"^\| group \| rows after"))
    layouts = {cells[0].strip("`"): cells[1] for cells in layout_rows}
    group_comments = {}
    gline = lines[find_line(lines, r"^Group comments:")]
    for m in re.finditer(r'((?:`[^`]+`(?: and )?)+) "([^"]*)"', gline):
        for g in re.findall(r"`([^`]+)`", m.group(1)):
            group_comments[g] = m.group(2)

    schema = []
    head_comments = ["", HEADER_NOTICE, ""]
    schema.extend(Row("COMMENT", comment=c) for c in head_comments)

    def group_table(name):
        i = find_line(lines, rf"^\*+Group `{re.escape(name)}`\*+")
        return i, table_after(lines, i)

    def heading_comments(i):
        m = re.search(r"\(comment rows? (.*)\)$", lines[i])
        return QUOTED.findall(m.group(1)) if m else []

    for group in layouts:
        if group == "(file head)":
            continue
        layout = layouts[group]
        gcomment = group_comments.get(group, "")
        if group == "Remarks":
            line = lines[find_line(lines, r"^\*\*Group `Remarks`\*\*:")]
            key, typ, default, rng, comment = [c.strip() for c in
                                               line.split(":", 1)[1].strip().rstrip(".").split(", ")]
            keys = [make_key_row(key.strip("`"), typ, default, rng, "", comment)]
            schema.extend(assemble(group, gcomment, layout, [], keys))
            continue
        i, (header, rows) = group_table(group)
        items = keys_from_table(header, rows)
        comments, keys = split_table_items(items)
        comments = heading_comments(i) + comments
        block_keys = block_comments = None
        if group == "CAN-Hardware":
            prose = lines[find_line(lines, r"^Comment blocks before", i)]
            prose = re.sub(r'"CAN-Bus Anschluss 1 = 1 \(default\)" up to "CAN-Bus Anschluss 4 = 4"',
                           lambda m: '"CAN-Bus Anschluss 1 = 1 (default)", ' +
                           ", ".join(f'"CAN-Bus Anschluss {k} = {k}"' for k in range(2, 5)),
                           prose)
            comments = QUOTED.findall(prose)
            key_comments = dict(re.findall(r'`([^`]+)` "([^"]*)"',
                                           lines[find_line(lines, r"^Key comments:", i)]))
            for row in keys:
                row.comment = key_comments.get(row.key, row.comment)
        if group == "HandlingAxis":
            prose = lines[find_line(lines, r"^Comment rows then:", i)]
            comments = [m.group(1) if m.group(1) is not None else ""
                        for m in re.finditer(r'"([^"]*)"|an empty comment', prose.split(". Then")[0])]
        if group in ("Axis", "HandlingAxis", "Coordinates"):
            j = find_line(lines, r"Then (eight|six) blocks", i)
            block_line = lines[j]
            bheader, brows = table_after(lines, j)
            first_block_only = "in block 1 only" in block_line or "comments on the keys of block 1" in block_line
            if group == "Axis":
                block_comments = lambda n, t=QUOTED.findall(block_line)[0]: [t.replace(" n", f" {n}")]
            elif group == "Coordinates":
                heads = QUOTED.findall(block_line)
                block_comments = lambda n, h=heads: [h[n - 1]]
            else:
                block_comments = lambda n: []
            block_keys = lambda n, h=bheader, r=brows, f=first_block_only: [
                row for kind, row in keys_from_table(h, r, n, with_comments=(n == 1 or not f))]
        if group == "Velocity":
            prose = lines[find_line(lines, r"^The three pairs are headed", i)]
            comments = QUOTED.findall(prose)
        schema.extend(assemble(group, gcomment, layout, comments, keys, block_keys, block_comments))
    schema.append(Row("EOF"))
    return schema


def build_machine_correction(lines, head_rows):
    identifiers = sorted(set(re.findall(r'"(VANTORCANCNCMACHINECORRECTION(?:_D)?)"', "\n".join(lines))))
    plain, double = identifiers

    def head(identifier):
        rows = []
        for row in head_rows:
            copy = copy_module.copy(row)
            if copy.key == "ID":
                copy.default_text = identifier
            rows.append(copy)
        return rows

    # The long variant: General, then LengthCorrection1..6.
    i = find_line(lines, r"^\| group \| rows after")
    _, layout_rows = table_after(lines, i)
    layouts = {cells[0]: cells[1] for cells in layout_rows}
    general_layout = layouts["`General`"]
    block_layout = re.sub(r"\s*\(block 6 ends.*\)$", "", layouts["`LengthCorrection`n, n = 1..6"])
    gh, gr = table_after(lines, find_line(lines, r"^Group `General`:"))
    bh, br = table_after(lines, find_line(lines, r"^Groups `LengthCorrection1` to"))
    schema = head(plain)
    schema.extend(assemble("General", "", general_layout, [], [r for _, r in keys_from_table(gh, gr)]))
    for n in range(1, 7):
        comments, keys = split_table_items(keys_from_table(bh, br))
        rows = assemble(f"LengthCorrection{n}", "", block_layout, comments, keys)
        if n == 6:
            assert rows[-1].kind == "EMPTY"
            rows[-1] = Row("EOF")
        schema.extend(rows)

    # The short variant: one correction table in doubles.
    j = find_line(lines, r"^Layout after the shared head:")
    layout_line = lines[j]
    dh, dr = table_after(lines, j)
    dschema = head(double)
    for m in re.finditer(r"`([^`]+)` ((?:[Ek] ?)+)", layout_line):
        group = m.group(1)
        rows = [r for r in dr if r[0].strip("`") == group]
        keys = [row for _, row in keys_from_table(dh, rows)]
        dschema.extend(assemble(group, "", m.group(2).strip(), [], keys))
    dschema.append(Row("EOF"))
    return schema, dschema


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def c_double(value):
    text = repr(float(value))
    return text if ("e" in text or "." in text) else text + ".0"


KIND_NAMES = {
    "EMPTY": "Empty", "COMMENT": "Comment", "bool": "Bool", "byte": "Byte", "short": "Short",
    "word": "Word", "int": "Int", "long": "Long", "double": "Double", "string": "String",
    "GROUP": "Group", "EOF": "Eof", "longarray": "LongArray", "doublearray": "DoubleArray",
}


def emit_rows(name, rows):
    out = [f"constexpr ParameterSchemaEntry {name}[] = {{"]
    for r in rows:
        out.append("    {ParameterType::%s, %s, %s, %s, %s, %s, %s, %d, %d, %d, %s, %s, %d}," % (
            KIND_NAMES[r.kind], c_string(r.comment), c_string(r.key), c_string(r.default_text),
            c_double(r.double_default), c_double(r.double_range[0]), c_double(r.double_range[1]),
            r.integer_default, r.integer_range[0], r.integer_range[1],
            "true" if r.bool_default else "false", c_string(r.print_format), r.array_size))
    out.append("};")
    return out


def library_overrides(name, rows, version_text):
    """Rows whose interface-library copy differs: the Version default and a wider range."""
    out = []
    group = ""
    for index, r in enumerate(rows):
        if r.kind == "GROUP":
            group = r.key
        if group == "Version" and r.kind == "string" and r.key == "Version":
            out.append("    {%s, %d, %s, 0.0, -1.0, true}," % (name, index, c_string(version_text)))
        if getattr(r, "library_range", None):
            lo, hi = r.library_range
            out.append("    {%s, %d, {}, %s, %s, false}," % (name, index, c_double(lo), c_double(hi)))
    return out


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    init_lines = section(text, "Initialisation-file schema")
    mc_lines = section(text, "Machine-correction file schemas")
    init = build_initialisation(init_lines)
    head = init[:init.index(next(r for r in init if r.kind == "GROUP" and r.key == "CANInit"))]
    mc, mcd = build_machine_correction(mc_lines, head)
    library_version = re.search(r'"([\d.]+)" in the programming interface library\'s copy',
                                "\n".join(init_lines)).group(1)

    out = [
        "// Generated by paramfile/tools/generate_schema_tables.py from the schema tables.",
        "// Do not edit by hand: change the tables and run the generator again.",
        "",
        '#include "paramfile/schema_tables.h"',
        "",
        "namespace vantor::paramfile::detail {",
        "",
    ]
    out += emit_rows("kInitialisationFileRows", init) + [""]
    out += emit_rows("kMachineCorrectionRows", mc) + [""]
    out += emit_rows("kMachineCorrectionDRows", mcd) + [""]
    out += [
        "const std::span<const ParameterSchemaEntry> kInitialisationFileTable{kInitialisationFileRows};",
        "const std::span<const ParameterSchemaEntry> kMachineCorrectionTable{kMachineCorrectionRows};",
        "const std::span<const ParameterSchemaEntry> kMachineCorrectionDTable{kMachineCorrectionDRows};",
        "",
        "// Where the interface library's copy of a table differs from the configuration program's.",
        "constexpr InterfaceLibraryOverride kInterfaceLibraryOverrideRows[] = {",
    ]
    out += [line for line in
            library_overrides("SchemaKind::InitialisationFile", init, library_version)
            + library_overrides("SchemaKind::MachineCorrection", mc, library_version)
            + library_overrides("SchemaKind::MachineCorrectionD", mcd, library_version)]
    out += [
        "};",
        "const std::span<const InterfaceLibraryOverride> kInterfaceLibraryOverrides{",
        "    kInterfaceLibraryOverrideRows};",
        "",
        "}  // namespace vantor::paramfile::detail",
        "",
    ]
    with open(target, "w", encoding="utf-8") as f:
        f.write("\n".join(out))
    print(f"rows: initialisation {len(init)}, machine correction {len(mc)}, short {len(mcd)}")


if __name__ == "__main__":
    main()
