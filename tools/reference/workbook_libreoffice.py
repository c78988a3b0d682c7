#!/usr/bin/python3
"""Opens the program's workbooks with LibreOffice (headless), has it write
every sheet back as CSV and compares the data sheets with the reference
model's table of the same recording: the same rows, texts and numbers (to
the 15 digits LibreOffice writes), date-times to the millisecond shown (cut, not rounded),
line breaks in a cell as LibreOffice keeps them (a line feed), the charts'
points as workbook_check.py has them.

    workbook_libreoffice.py PROGRAM [--count N] [--seed S] [--generator GEN_RECORDING]

With --generator, one large recording of it (its charts reduced) is read
back too.
"""

import argparse
import csv
import datetime
import glob
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import workbook_check as wc  # noqa: E402

# Field separator, text delimiter, UTF-8, first line 1, cells as stored
# (not as shown), every sheet to a file of its own.
FILTER = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1"


def same(want, got):
    if want is None:
        return got == ""
    if isinstance(want, tuple):
        try:
            when = datetime.datetime.strptime(got, "%Y-%m-%d %H:%M:%S.%f")
        except ValueError:
            return False
        # LibreOffice shows the milliseconds cut, not rounded (.597503 as .597).
        return abs((when - want[1]).total_seconds()) < 0.001
    if isinstance(want, float):
        try:
            value = float(got)
        except ValueError:
            return False
        return value == want or math.isclose(value, want, rel_tol=5e-15)
    # LibreOffice keeps a line break in a cell as a line feed alone, and a
    # CR alone as one too where the cell also holds a line feed (openpyxl
    # reads the text exactly).
    def breaks(text):
        return text.replace("\r\n", "\n").replace("\r", "\n")
    return breaks(got) == breaks(want)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--count", type=int, default=24)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--generator", help="gen_recording, for one large recording")
    args = ap.parse_args()
    soffice = shutil.which("soffice") or shutil.which("libreoffice")
    if not soffice:
        print("LibreOffice (soffice) is not installed")
        return 1
    rng = random.Random(args.seed)
    failures, checked = 0, 0
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, DISPLAY="", TMP=work, PATH=os.path.join(work, "bin") + os.pathsep + os.environ["PATH"])
        os.makedirs(os.path.join(work, "bin"))
        with open(os.path.join(work, "bin", "xdg-open"), "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(os.path.join(work, "bin", "xdg-open"), 0o755)
        expected = {}
        large = [wc.large_recording(args.generator, rng, 1500, work)] if args.generator else []
        while len(expected) < args.count + len(large):
            doc = large.pop() if len(expected) == args.count else wc.recording(rng)
            cols, rows, err = wc.model_rows(doc)
            if err is not None or not rows:
                continue
            n = len(expected)
            rec = os.path.join(work, "r%02d.tlq" % n)
            with open(rec, "wb") as f:
                f.write(doc)
            sheet_rows = 5 if n % 4 == 0 else 1048575
            subprocess.run([args.program, "--xlsx", rec], env=dict(env, TLQCONVERTER_SHEET_ROWS=str(sheet_rows)),
                           check=True, capture_output=True, timeout=120)
            header, cells = wc.expected_cells(cols, rows, wc.Zones(doc), wc.Seen())
            expected["r%02d" % n] = (header, cells, sheet_rows)
        out = os.path.join(work, "out")
        books = sorted(glob.glob(os.path.join(work, "*.xlsx")))
        # A profile of its own: nothing of the user's LibreOffice is touched.
        subprocess.run([soffice, "-env:UserInstallation=file://" + os.path.join(work, "profile"), "--headless",
                        "--convert-to", FILTER, "--outdir", out] + books,
                       check=True, capture_output=True, timeout=600)
        for name, (header, cells, sheet_rows) in expected.items():
            problems = []
            got = []
            sheets = max(1, -(-len(cells) // sheet_rows))
            for k in range(1, sheets + 1):
                path = os.path.join(out, "%s-%s.csv" % (name, "data" if k == 1 else "data %d" % k))
                if not os.path.exists(path):
                    problems.append("no sheet %s" % os.path.basename(path))
                    continue
                with open(path, newline="", encoding="utf-8") as f:
                    lines = list(csv.reader(f))
                if lines[0] != header:
                    problems.append("%s: header %r" % (os.path.basename(path), lines[0]))
                rows = [line + [""] * (len(header) - len(line)) for line in lines[1:]]
                # LibreOffice leaves out the empty rows at a sheet's end.
                here = min(sheet_rows, len(cells) - (k - 1) * sheet_rows)
                got.extend(rows + [[""] * len(header)] * (here - len(rows)))
            if len(got) != len(cells):
                problems.append("%d rows, not %d" % (len(got), len(cells)))
            for r, (want, have) in enumerate(zip(cells, got)):
                for c, (w, g) in enumerate(zip(want, have)):
                    if not same(w, g):
                        problems.append("row %d column %s: %r, not %r" % (r + 2, header[c], g, w))
                        break
            if os.path.getsize(os.path.join(out, name + "-recording.csv")) == 0:
                problems.append("no recording sheet")
            checked += 1
            if problems:
                failures += 1
                print("%s.xlsx:" % name)
                for p in problems[:6]:
                    print("  " + p)
    print("%d workbooks read back by LibreOffice, %d differ" % (checked, failures))
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
