#!/usr/bin/python3
"""Reads an .xlsx workbook with openpyxl, a reader independent of the one that wrote it, and
prints what a test compares as JSON: the sheets' names and, of the first sheet, its frozen
cell, its column widths and every cell (type, value, number format).

usage: xlsx_cells.py FILE
Types: "s" text, "n" number, "d" date (its value in ISO form), "f" formula, "e" empty.
"""
import json
import sys

from openpyxl import load_workbook


def cell_json(cell):
    value = cell.value
    if value is None:
        return {"t": "e"}
    kind = cell.data_type
    if kind == "d" or hasattr(value, "isoformat"):
        return {"t": "d", "v": value.isoformat(sep=" "), "f": cell.number_format}
    if kind == "n":
        return {"t": "n", "v": value, "f": cell.number_format}
    if kind == "f":
        return {"t": "f", "v": str(value)}
    return {"t": "s", "v": str(value)}


def main():
    book = load_workbook(sys.argv[1])
    sheet = book.worksheets[0]
    widths = {}
    for letter, dimension in sheet.column_dimensions.items():
        if dimension.width:
            widths[letter] = dimension.width
    out = {
        "sheets": book.sheetnames,
        "freeze": sheet.freeze_panes,
        "widths": widths,
        "rows": [[cell_json(cell) for cell in row] for row in sheet.iter_rows()],
    }
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
