#!/usr/bin/env python3
"""Compares the protocol cells the OLE test double saved (the Windows build's
run) with the protocol LibreOffice wrote in the Linux build's run of the same
scenario, read back from its flat ODF export:

    protocol_cells.py DOUBLE.cells LINUX.fods DATE_CELL COUNT

The double must hold COUNT cells, and each must be in the Linux workbook with
the same kind (number or text) and value; DATE_CELL, the moment of writing,
only has to be in both. Prints the cells compared; exits 1 on the first difference.
"""
import math
import sys
import xml.etree.ElementTree as ET

NS = {
    "table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
    "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
    "text": "urn:oasis:names:tc:opendocument:xmlns:text:1.0",
}


def q(prefix, name):
    return "{%s}%s" % (NS[prefix], name)


def column_name(index):
    name = ""
    while index > 0:
        index, r = divmod(index - 1, 26)
        name = chr(ord("A") + r) + name
    return name


def paragraph_text(p):
    out = [p.text or ""]
    for child in p:
        if child.tag == q("text", "s"):
            out.append(" " * int(child.get(q("text", "c"), "1")))
        elif child.tag == q("text", "tab"):
            out.append("\t")
        else:
            out.append(paragraph_text(child))
        out.append(child.tail or "")
    return "".join(out)


def linux_cells(path):
    """{name: (kind, value)} of the first sheet: n number, s text, d date."""
    sheet = ET.parse(path).getroot().find(".//table:table", NS)
    cells = {}
    row = 0
    for r in sheet.iter(q("table", "table-row")):
        repeat_rows = int(r.get(q("table", "number-rows-repeated"), "1"))
        row += 1
        column = 0
        for c in r:
            if c.tag not in (q("table", "table-cell"), q("table", "covered-table-cell")):
                continue
            repeat = int(c.get(q("table", "number-columns-repeated"), "1"))
            column += 1
            kind = c.get(q("office", "value-type"))
            if kind is not None and repeat_rows == 1:
                name = column_name(column) + str(row)
                if kind in ("float", "percentage", "currency"):
                    cells[name] = ("n", float(c.get(q("office", "value"))))
                elif kind in ("date", "time"):
                    cells[name] = ("d", c.get(q("office", "date-value")) or c.get(q("office", "time-value")))
                else:
                    text = "\n".join(paragraph_text(p) for p in c.findall("text:p", NS))
                    cells[name] = ("s", text)
            column += repeat - 1
        row += repeat_rows - 1
    return cells


def double_cells(path):
    cells = {}
    with open(path, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            if not line:
                continue
            name, kind, value = line.split("\t", 2)
            cells[name] = (kind, float(value) if kind == "n" else value)
    return cells


def main():
    double_path, fods_path, date_cell, count = sys.argv[1:5]
    expected = linux_cells(fods_path)
    got = double_cells(double_path)
    if len(got) != int(count):
        print("protocol_cells: the double saved %d cells, not %s: %s" % (len(got), count, sorted(got)))
        return 1
    for name, (kind, value) in sorted(got.items()):
        if name not in expected:
            print("protocol_cells: %s = %r in the Windows run, empty in the Linux run" % (name, value))
            return 1
        if name == date_cell:
            continue
        lkind, lvalue = expected[name]
        same = kind == lkind and (
            math.isclose(value, lvalue, rel_tol=1e-12, abs_tol=1e-12) if kind == "n" else value == lvalue)
        if not same:
            print("protocol_cells: %s differs: Windows %s %r, Linux %s %r" % (name, kind, value, lkind, lvalue))
            return 1
    print("protocol_cells: %d cells the same in both runs (%s: present in both)" % (len(got), date_cell))
    return 0


if __name__ == "__main__":
    sys.exit(main())
