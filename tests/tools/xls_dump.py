#!/usr/bin/python3
"""Independent reader of .xls files for the tests: prints what python3-xlrd sees, as JSON.

    /usr/bin/python3 tests/tools/xls_dump.py FILE.xls            JSON on stdout
    /usr/bin/python3 tests/tools/xls_dump.py --lines FILE.xls    one line per fact, easy to grep from C++ tests

JSON: the sheet list from the BOUNDSHEET records (name, kind, visibility: chart and macro sheets included), the
active tab and the number of selected tabs from WINDOW1, and per worksheet: visibility, selected/active flags
(WINDOW2), column widths from COLINFO, merged ranges, and every cell that has a record: value, type, and its XF's
horizontal alignment, number format string, font weight/bold and the four border line styles.
Exit status 0; 1 when xlrd refuses the file (the reason on stdout as {"error": ...} and on stderr).
"""

import io
import json
import struct
import sys

import xlrd
from xlrd import compdoc

CELL_TYPES = {
    xlrd.XL_CELL_EMPTY: "empty",
    xlrd.XL_CELL_TEXT: "text",
    xlrd.XL_CELL_NUMBER: "number",
    xlrd.XL_CELL_DATE: "date",
    xlrd.XL_CELL_BOOLEAN: "boolean",
    xlrd.XL_CELL_ERROR: "error",
    xlrd.XL_CELL_BLANK: "blank",
}
HOR_ALIGN = {0: "general", 1: "left", 2: "center", 3: "right", 4: "fill", 5: "justify",
             6: "center-across", 7: "distributed"}
SHEET_KINDS = {0x00: "worksheet", 0x01: "macro", 0x02: "chart", 0x06: "vbmodule"}
VISIBILITY = {0: "visible", 1: "hidden", 2: "very-hidden"}


def col_name(c):
    s = ""
    c += 1
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


def globals_records(path):
    """BOUNDSHEET and WINDOW1 read straight from the globals substream: xlrd keeps neither the chart sheets nor
    the active tab."""
    with open(path, "rb") as f:
        data = f.read()
    doc = compdoc.CompDoc(data, logfile=io.StringIO())
    mem = None
    for name in ("Workbook", "Book"):
        mem, base, size = doc.locate_named_stream(name)
        if mem is not None:
            break
    if mem is None:
        return [], None
    mem = mem[base:base + size]
    sheets, window1 = [], None
    pos, biff8 = 0, None
    while pos + 4 <= len(mem):
        rtype, length = struct.unpack_from("<HH", mem, pos)
        body = mem[pos + 4:pos + 4 + length]
        pos += 4 + length
        if rtype == 0x0809 and biff8 is None:
            biff8 = struct.unpack_from("<H", body, 0)[0] == 0x0600
        elif rtype == 0x0085 and len(body) >= 8:
            visibility, kind = body[4] & 0x03, body[5]
            n = body[6]
            if biff8:
                flags = body[7]
                raw = body[8:8 + n * (2 if flags & 1 else 1)]
                name = raw.decode("utf-16-le" if flags & 1 else "latin-1")
            else:
                name = body[7:7 + n].decode("latin-1")
            sheets.append({"name": name, "kind": SHEET_KINDS.get(kind, "kind-%d" % kind),
                           "visibility": VISIBILITY.get(visibility, str(visibility))})
        elif rtype == 0x003D and len(body) >= 18 and window1 is None:
            window1 = {"active_tab": struct.unpack_from("<H", body, 10)[0],
                       "first_tab": struct.unpack_from("<H", body, 12)[0],
                       "selected_tabs": struct.unpack_from("<H", body, 14)[0]}
        elif rtype == 0x000A:  # EOF of the globals
            break
    return sheets, window1


def dump(path):
    book = xlrd.open_workbook(path, formatting_info=True, logfile=io.StringIO())
    all_sheets, window1 = globals_records(path)
    out = {"file": path, "biff_version": book.biff_version, "all_sheets": all_sheets, "window1": window1,
           "sheets": []}
    for sh in book.sheets():
        sheet = {
            "name": sh.name,
            "visibility": VISIBILITY.get(sh.visibility, str(sh.visibility)),
            "selected": bool(sh.sheet_selected),
            "active": bool(sh.sheet_visible),  # WINDOW2's "shown" flag: the tab on top
            "nrows": sh.nrows,
            "ncols": sh.ncols,
            "default_col_width": sh.defcolwidth,
            "standard_width": sh.standardwidth,
            "columns": {},
            "merged": [list(m) for m in sh.merged_cells],
            "cells": [],
        }
        for col, info in sorted(sh.colinfo_map.items()):
            sheet["columns"][col_name(col)] = {"width": info.width, "hidden": bool(info.hidden),
                                               "xf": info.xf_index}
        for r in range(sh.nrows):
            for c in range(sh.row_len(r)):
                cell = sh.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_EMPTY:
                    continue
                value = cell.value
                if cell.ctype == xlrd.XL_CELL_ERROR:
                    value = xlrd.error_text_from_code.get(value, "#%d" % value)
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    value = bool(value)
                elif cell.ctype == xlrd.XL_CELL_BLANK:
                    value = None
                xf = book.xf_list[cell.xf_index]
                font = book.font_list[xf.font_index]
                fmt = book.format_map.get(xf.format_key)
                b = xf.border
                sheet["cells"].append({
                    "ref": col_name(c) + str(r + 1), "row": r + 1, "col": c + 1,
                    "type": CELL_TYPES[cell.ctype], "value": value, "xf": cell.xf_index,
                    "align": HOR_ALIGN.get(xf.alignment.hor_align, str(xf.alignment.hor_align)),
                    "format": fmt.format_str if fmt else None,
                    "bold": bool(font.bold) or font.weight >= 700, "font_weight": font.weight,
                    "borders": {"left": b.left_line_style, "right": b.right_line_style,
                                "top": b.top_line_style, "bottom": b.bottom_line_style},
                })
        out["sheets"].append(sheet)
    return out


def lines(d):
    yield "biff %d" % d["biff_version"]
    for i, s in enumerate(d["all_sheets"]):
        yield "boundsheet %d %s %s %s" % (i, s["kind"], s["visibility"], s["name"])
    if d["window1"]:
        yield "window1 active_tab=%(active_tab)d selected_tabs=%(selected_tabs)d" % d["window1"]
    for s in d["sheets"]:
        yield "sheet %s visibility=%s selected=%d active=%d" % (s["name"], s["visibility"], s["selected"],
                                                                  s["active"])
        for col, info in s["columns"].items():
            yield "column %s!%s width=%d hidden=%d xf=%d" % (s["name"], col, info["width"], info["hidden"],
                                                             info["xf"])
        for m in s["merged"]:
            yield "merged %s!%s%d:%s%d" % (s["name"], col_name(m[2]), m[0] + 1, col_name(m[3] - 1), m[1])
        for c in s["cells"]:
            v = c["value"]
            if isinstance(v, float) and v == int(v) and abs(v) < 1e15:
                v = int(v)
            text = json.dumps(v, ensure_ascii=False)
            b = c["borders"]
            yield ("cell %s!%s %s %s align=%s format=%s bold=%d borders=%d,%d,%d,%d" %
                   (s["name"], c["ref"], c["type"], text, c["align"], json.dumps(c["format"], ensure_ascii=False),
                    c["bold"], b["left"], b["right"], b["top"], b["bottom"]))


def main(argv):
    as_lines = "--lines" in argv
    paths = [a for a in argv if a != "--lines"]
    if len(paths) != 1:
        sys.stderr.write(__doc__)
        return 2
    try:
        d = dump(paths[0])
    except Exception as e:  # xlrd's refusals come in several types; all mean "not readable"
        print(json.dumps({"error": "%s: %s" % (type(e).__name__, e)}))
        sys.stderr.write("xls_dump: %s: %s\n" % (type(e).__name__, e))
        return 1
    if as_lines:
        for line in lines(d):
            print(line)
    else:
        json.dump(d, sys.stdout, ensure_ascii=False, indent=1)
        print()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
