#!/usr/bin/python3
"""Compares two workbooks of the same recording member by member, unzipped:
every sheet, chart, style and property byte for byte, except the cell of
the "recording" sheet that names the recording's path and that cell's
width (a Windows path and a Linux path name the same file differently).

    same_workbooks.py A.xlsx B.xlsx

Prints the members that differ and exits with 1 when any does.
"""

import re
import sys
import zipfile


def members(path):
    with zipfile.ZipFile(path) as z:
        parts = {name: z.read(name) for name in z.namelist()}
    book = parts["xl/workbook.xml"].decode()
    rels = parts["xl/_rels/workbook.xml.rels"].decode()
    rid = re.search(r'<sheet name="recording" sheetId="\d+" r:id="(rId\d+)"', book).group(1)
    target = re.search(r'Id="%s" Type="[^"]*" Target="([^"]*)"' % rid, rels).group(1)
    sheet = "xl/" + target
    masked = re.sub(rb'(<c r="B1"[^>]*><is><t[^>]*>).*?(</t></is></c>)', rb"\1PATH\2", parts[sheet], count=1,
                    flags=re.S)
    parts[sheet] = re.sub(rb'<col min="2" max="2" width="[0-9.]+"', b'<col min="2" max="2" width="W"', masked)
    return parts


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-3].strip(), file=sys.stderr)
        return 2
    a, b = members(sys.argv[1]), members(sys.argv[2])
    differ = sorted(n for n in set(a) | set(b) if a.get(n) != b.get(n))
    for name in differ:
        print("differs: %s" % name)
    cells = sum(len(re.findall(rb"<c ", v)) for n, v in a.items() if n.startswith("xl/worksheets/"))
    print("%d members, %d cells: %s" % (len(a), cells, "the same" if not differ else "%d differ" % len(differ)))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
