#!/usr/bin/python3
"""Converts generated recordings into workbooks with the program and reads
them back with openpyxl, cell by cell, against the reference model's table
of the same recording: types, values, date-times and their format, the
header, the split over sheets, the sheet about the recording and the
charts' series.

    workbook_check.py PROGRAM [--count N] [--seed S] [--sheet-rows R] [--runner WINE] [--keep DIR]

Every data row must be the model's CSV line: an empty field an empty cell,
a number a number cell holding the same double, an infinity the text the
CSV shows, any other text a text cell; a time stamp in ISO 8601 in the zone
of the first one a date-time. A recording the model fails on must leave no
workbook and no file of ours behind.
"""

import argparse
import datetime
import math
import os
import random
import re
import subprocess
import sys
import tempfile
import zipfile

import openpyxl

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corpus_check  # noqa: E402
import reference  # noqa: E402

DATE_FORMAT = "yyyy-mm-dd hh:mm:ss.000"
# openpyxl reads a date-time rounded to the millisecond (the day numbers
# themselves are checked exactly by the unit tests).
TIME_TOLERANCE = 0.0005 + 2e-6
CHART_COLUMNS = {
    "Inclinometer 1": ["inclino1_x", "inclino1_y"],
    "Inclinometer 2": ["inclino2_x", "inclino2_y"],
    "Elastometer": ["elasto_a_um", "elasto_b_um"],
    "Force": ["force_kg"],
}

# ---- recordings with time stamps in zones -----------------------------------

ZONES = ["", "Z", "+02:00", "-05:30", "+0100"]
STYLE = {"zone": "", "sep": "T"}


def zoned_timestamp(rng):
    r = rng.random()
    if r < 0.75:
        zone = STYLE["zone"] if rng.random() < 0.9 else rng.choice(ZONES)
        fraction = rng.choice(["", ".%03d" % rng.randrange(1000), ".%06d" % rng.randrange(10**6), ".5"])
        return "2026-%02d-%02d%s%02d:%02d:%02d%s%s" % (
            rng.randrange(1, 13), rng.randrange(1, 29), STYLE["sep"], rng.randrange(24), rng.randrange(60),
            rng.randrange(60), fraction, zone)
    if r < 0.85:  # looks like one, is not
        return rng.choice(["2026-02-30T10:00:00", "2026-11-17T24:00:00", "2026-11-17T10:00:60Z", "1899-12-31T00:00:00",
                           "2026-11-17", "2026-11-17T10:00:00+", "2026-11-17T10:00:00 Z", "26-11-17T10:00:00",
                           "a_x0041_b_x00e4_", "nul\u0000here", "_x0000_"])
    return corpus_check.timestamp(rng)


corpus_check.timestamp = zoned_timestamp


def recording(rng):
    STYLE["zone"] = rng.choice(ZONES)
    STYLE["sep"] = rng.choice(["T", " "])
    return corpus_check.recording(rng)


# ---- the model's table, typed -----------------------------------------------

def typed_quote(text, sep):
    return b'"' + text.replace(b'"', b'""') + b'"'


def typed_number(v, sep, dec):
    s = reference.g16(v)
    return b"" if s == b"nan" else s


reference.quote = typed_quote
reference.number = typed_number


def split_typed(text):
    """The lines of a typed table: ('empty'|'number'|'text', text) per field."""
    rows, fields, i = [], [], 0
    while i < len(text):
        if text[i] == '"':
            j, parts = i + 1, []
            while True:
                q = text.index('"', j)
                parts.append(text[j:q])
                if text.startswith('"', q + 1):
                    parts.append('"')
                    j = q + 2
                    continue
                i = q + 1
                break
            fields.append(("text", "".join(parts)))
        else:
            j = min(k for k in (text.find(",", i), text.find("\r\n", i), len(text)) if k >= 0)
            fields.append(("number" if j > i else "empty", text[i:j]))
            i = j
        if text.startswith("\r\n", i):
            rows.append(fields)
            fields = []
            i += 2
        else:
            i += 1  # the comma
    return rows


def model_rows(doc):
    out, err = reference.convert(doc, b",", b".")
    if err is not None:
        return None, None, err
    text = out.decode("utf-8")
    head, body = text.split("\r\n", 1)
    return head.split(","), split_typed(body), None


ISO = re.compile(r"^(\d{4})-(\d\d)-(\d\d)[T ](\d\d):(\d\d):(\d\d)(?:[.,](\d+))?(Z|[+-]\d\d(?::?\d\d)?)?$")


def iso(text):
    """(naive datetime to the microsecond, zone minutes or None) or None."""
    m = ISO.match(text)
    if not m:
        return None
    y, mo, d, h, mi, s = (int(g) for g in m.groups()[:6])
    try:
        when = datetime.datetime(y, mo, d, h, mi, s)
    except ValueError:
        return None
    if when < datetime.datetime(1900, 3, 1):
        return None
    fraction = m.group(7) or ""
    when += datetime.timedelta(microseconds=int((fraction + "000000")[:6]))
    zone = m.group(8)
    if zone is None:
        return when, None
    if zone == "Z":
        return when, 0
    hours, minutes = int(zone[1:3]), int(zone[-2:]) if len(zone) > 3 else 0
    if hours > 23 or minutes > 59:
        return None
    return when, (-1 if zone[0] == "-" else 1) * (hours * 60 + minutes)


def zone_name(minutes):
    if minutes == 0:
        return "UTC"
    m = abs(minutes)
    return "UTC%s%02d:%02d" % ("-" if minutes < 0 else "+", m // 60, m % 60)


def unescape(value):
    if isinstance(value, str):
        return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), value)
    return value


# ---- the comparison ---------------------------------------------------------

class Seen:
    def __init__(self):
        self.counts = {}

    def add(self, what):
        self.counts[what] = self.counts.get(what, 0) + 1


def expected_cells(cols, rows, seen):
    """The cells the data sheet must hold, and the header."""
    ts = cols.index("timestamp")
    zone, decided = None, False
    for fields in rows:
        kind, text = fields[ts]
        if kind == "text" and text:
            parsed = iso(text)
            zone, decided = (parsed[1] if parsed else None), True
            break
    header = list(cols)
    if decided and zone is not None:
        header[ts] = "timestamp (%s)" % zone_name(zone)
        seen.add("zoned header")
    cells = []
    for fields in rows:
        row = []
        for c, (kind, text) in enumerate(fields):
            if kind == "empty" or text == "":
                row.append(None)
                if kind == "empty" and cols[c] != "timestamp" and c != ts:
                    seen.add("empty number (NaN)")
            elif c == ts:
                parsed = iso(text)
                if parsed and parsed[1] == zone:
                    row.append(("date", parsed[0]))
                    seen.add("date-time")
                else:
                    row.append(text)
                    seen.add("time stamp kept as text")
            elif kind == "number":
                v = float(text)
                if math.isinf(v):
                    row.append(text)
                    seen.add("infinity")
                else:
                    row.append(v)
                    if v == -999.0:
                        seen.add("-999.0")
            else:
                row.append(text)
        cells.append(row)
    return header, cells


def same_cell(want, cell):
    got = unescape(cell.value)
    if want is None:
        return got is None
    if isinstance(want, tuple):
        return (isinstance(got, datetime.datetime) and abs((got - want[1]).total_seconds()) <= TIME_TOLERANCE
                and cell.number_format == DATE_FORMAT)
    if isinstance(want, float):
        return isinstance(got, (int, float)) and not isinstance(got, bool) and cell.data_type == "n" and \
            float(got) == want
    return got == want and cell.data_type in ("s", "inlineStr")


def check_charts(path, book, header, cells, sheet_rows, samples):
    problems = []
    with zipfile.ZipFile(path) as z:
        charts = sorted(n for n in z.namelist() if n.startswith("xl/charts/chart"))
        xml = {n: z.read(n).decode() for n in charts}

    def plotted(names):  # those of the columns with a reading: the series a chart draws
        return [n for n in names if n in header and any(
            isinstance(row[header.index(n)], float) and row[header.index(n)] != -999.0 for row in cells)]

    groups_present = [title for title, names in CHART_COLUMNS.items() if plotted(names)]
    if samples > sheet_rows or not cells:
        if charts or "chart" in book.sheetnames:
            problems.append("charts although the data does not fit one sheet")
        return problems
    if "plot" not in book.sheetnames:
        return problems + ["no sheet the charts read"] if groups_present else problems
    plot_rows = list(book["plot"].iter_rows(min_row=2, max_row=len(cells) + 1, values_only=True))
    if ("chart" in book.sheetnames) != bool(groups_present):
        problems.append("chart sheet %s, sensors with readings: %r" % ("chart" in book.sheetnames, groups_present))
    titles = []
    for name, text in xml.items():
        title = re.search(r"<a:t>([^<]*)</a:t>", text).group(1)
        titles.append(title)
        if title not in CHART_COLUMNS:
            problems.append("%s: unknown title %r" % (name, title))
            continue
        series = re.findall(r"<c:ser>(.*?)</c:ser>", text, re.S)
        names = []
        for s in series:
            name_ref = re.search(r"<c:tx><c:strRef><c:f>data!\$([A-Z]+)\$1</c:f>", s)
            x_ref = re.search(r"<c:xVal><c:numRef><c:f>plot!\$([A-Z])\$2(?::\$\1\$(\d+))?</c:f>", s)
            y_ref = re.search(r"<c:yVal><c:numRef><c:f>plot!\$([A-Z])\$2(?::\$\1\$(\d+))?</c:f>", s)
            if not (name_ref and x_ref and y_ref):
                problems.append("%s: a series without its references" % name)
                continue
            col = openpyxl.utils.column_index_from_string(name_ref.group(1)) - 1
            names.append(header[col])
            if int(y_ref.group(2) or 2) != len(cells) + 1 or int(x_ref.group(2) or 2) != len(cells) + 1:
                problems.append("%s: the series do not cover rows 2 to %d" % (name, len(cells) + 1))
            px = openpyxl.utils.column_index_from_string(x_ref.group(1)) - 1
            py = openpyxl.utils.column_index_from_string(y_ref.group(1)) - 1
            for r, row in enumerate(cells):
                v = row[col]
                want = v if isinstance(v, float) and v != -999.0 else None
                if plot_rows[r][py] != want:
                    problems.append("%s: plotted %s row %d is %r, not %r" % (name, header[col], r + 2,
                                                                             plot_rows[r][py], want))
                    break
                x = plot_rows[r][px]
                stamp = row[0]  # the time stamp's cell
                want_x = stamp[1] if (px == 1 and isinstance(stamp, tuple)) else (r + 1 if px == 0 else None)
                if px == 1 and want_x is not None:
                    ok = isinstance(x, datetime.datetime) and abs((x - want_x).total_seconds()) <= TIME_TOLERANCE
                else:
                    ok = x == want_x
                if not ok:
                    problems.append("%s: x of row %d is %r, not %r" % (name, r + 2, x, want_x))
                    break
        if names != plotted(CHART_COLUMNS[title]):
            problems.append("%s (%s): series %r, not %r" % (name, title, names, plotted(CHART_COLUMNS[title])))
    if sorted(titles) != sorted(groups_present):
        problems.append("charts %r, not %r" % (titles, groups_present))
    return problems


def check(command, doc, work, sheet_rows, seen, windows):
    rec = os.path.join(work, "rec.tlq")
    xlsx = os.path.join(work, "rec.xlsx")
    for name in os.listdir(work):
        if name.startswith("rec") or name.startswith("tlqconverter_"):
            os.remove(os.path.join(work, name))
    with open(rec, "wb") as f:
        f.write(doc)
    env = dict(os.environ, TMP=os.path.join(work, "tmp"), DISPLAY="",
               PATH=os.path.join(work, "bin") + os.pathsep + os.environ.get("PATH", ""),
               TLQCONVERTER_SHEET_ROWS=str(sheet_rows))
    run = subprocess.run(command + ["--xlsx", rec], env=env, capture_output=True, timeout=120)
    cols, rows, err = model_rows(doc)
    left = sorted(n for n in os.listdir(work) if n.startswith("tlqconverter_"))
    problems = ["left behind: %r" % left] if left else []
    if err is not None:
        seen.add("failing recording")
        if run.returncode != 2:
            problems.append("exit code %d; the model fails with %r" % (run.returncode, err))
        if os.path.exists(xlsx):
            problems.append("a workbook was written for a failing recording")
        return problems
    if run.returncode != 0:
        return problems + ["program failed (%d): %r" % (run.returncode, run.stderr)]
    header, cells = expected_cells(cols, rows, seen)
    book = openpyxl.load_workbook(xlsx)
    sheets = book.sheetnames
    data_sheets = [s for s in sheets if s == "data" or re.fullmatch(r"data \d+", s)]
    want_sheets = max(1, -(-len(cells) // sheet_rows))
    if data_sheets != ["data"] + ["data %d" % k for k in range(2, want_sheets + 1)]:
        problems.append("data sheets %r for %d rows" % (data_sheets, len(cells)))
    if len(data_sheets) > 1:
        seen.add("more than one data sheet")
    got = []
    for name in data_sheets:
        ws = book[name]
        head = [unescape(c.value) for c in ws[1]]
        if head != header:
            problems.append("%s: header %r, not %r" % (name, head, header))
        if not all(c.font.b for c in ws[1]) or ws.freeze_panes != "A2":
            problems.append("%s: header not bold and frozen" % name)
        # Rows whose fields are all empty hold no cell: the filter's range
        # covers them.
        last = openpyxl.utils.get_column_letter(len(header))
        ref = re.fullmatch(r"A1:%s(\d+)" % last, ws.auto_filter.ref or "")
        if not ref or int(ref.group(1)) < ws.max_row:
            problems.append("%s: filter %r" % (name, ws.auto_filter.ref))
            continue
        rows_here = int(ref.group(1)) - 1
        got.extend(ws.iter_rows(min_row=2, max_row=rows_here + 1, max_col=len(header)))
        if rows_here > sheet_rows:
            problems.append("%s: %d rows" % (name, rows_here))
    if len(got) != len(cells):
        problems.append("%d data rows, not %d" % (len(got), len(cells)))
    for r, (want, have) in enumerate(zip(cells, got)):
        for c, (w, cell) in enumerate(zip(want, have)):
            if not same_cell(w, cell):
                problems.append("row %d column %s: %r (%s, %r), not %r" % (r + 2, header[c], cell.value, cell.data_type,
                                                                           cell.number_format, w))
                break
        if len(problems) > 5:
            break
    info = dict((row[0], row[1]) for row in book["recording"].iter_rows(values_only=True))
    samples = info.get("samples")
    stamps = [row[0] for row in cells if row[0] is not None]
    want_info = {"recording": rec, "size (bytes)": len(doc), "data lines": len(cells), "program": "tlqconverter",
                 "first time stamp": stamps[0][1] if stamps and isinstance(stamps[0], tuple) else
                 (stamps[0] if stamps else None),
                 "last time stamp": stamps[-1][1] if stamps and isinstance(stamps[-1], tuple) else
                 (stamps[-1] if stamps else None)}
    for key, want in want_info.items():
        have = unescape(info.get(key))
        if isinstance(want, datetime.datetime):
            ok = isinstance(have, datetime.datetime) and abs((have - want).total_seconds()) <= TIME_TOLERANCE
        else:
            ok = have == want or (windows and key == "recording")
        if not ok:
            problems.append("recording sheet: %s is %r, not %r" % (key, have, want))
    if not isinstance(samples, int) or samples < len(cells):
        problems.append("recording sheet: samples %r for %d rows" % (samples, len(cells)))
    else:
        problems += check_charts(xlsx, book, header, cells, sheet_rows, samples)
    if "chart" in sheets:
        seen.add("charts")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--sheet-rows", type=int, default=7, help="rows per sheet for every third recording")
    ap.add_argument("--runner", help="program that starts PROGRAM (wine for a Windows build)")
    ap.add_argument("--keep", help="folder to keep failing recordings in")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    command = ([args.runner] if args.runner else []) + [args.program]
    seen, failures = Seen(), 0
    with tempfile.TemporaryDirectory() as work:
        for sub in ("tmp", "bin"):
            os.makedirs(os.path.join(work, sub))
        opener = os.path.join(work, "bin", "xdg-open")
        with open(opener, "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(opener, 0o755)
        for n in range(args.count):
            doc = recording(rng)
            rows = args.sheet_rows if n % 3 == 0 else 1048575
            problems = check(command, doc, work, rows, seen, bool(args.runner))
            if problems:
                failures += 1
                print("recording %d (%d rows per sheet):" % (n, rows))
                for p in problems[:8]:
                    print("  " + p)
                if args.keep:
                    os.makedirs(args.keep, exist_ok=True)
                    with open(os.path.join(args.keep, "failing-%d.tlq" % n), "wb") as f:
                        f.write(doc)
    for what in sorted(seen.counts):
        print("%6d  %s" % (seen.counts[what], what))
    wanted = ["date-time", "time stamp kept as text", "zoned header", "-999.0", "empty number (NaN)",
              "more than one data sheet", "charts", "failing recording"]
    missing = [w for w in wanted if w not in seen.counts]
    if missing:
        print("never met: %s" % ", ".join(missing))
        failures += 1
    print("%d recordings, %d failed" % (args.count, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
