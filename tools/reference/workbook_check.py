#!/usr/bin/python3
"""Converts generated recordings into workbooks with the program and reads
them back with openpyxl, cell by cell, against the reference model's table
of the same recording: types, values, date-times and their format, the
header, the split over sheets, the sheet about the recording, the points
the charts draw (every line, or per bucket of a large table each reading's
least and greatest) and the charts' series.

    workbook_check.py PROGRAM [--count N] [--seed S] [--sheet-rows R] [--runner WINE] [--keep DIR]

Every data row must be the model's CSV line: an empty field an empty cell,
a number a number cell holding the same double, an infinity the text the
CSV shows, any other text a text cell; a time stamp in ISO 8601 a date-time
by the zones of all the recording's time stamps (one offset: as written;
several: in UTC; none: those without a zone). A recording the model fails
on must leave no workbook and no file of ours behind.
"""

import argparse
import datetime
import json
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

ZONES = ["", "Z", "+02:00", "-05:30", "+0100", "summer"]
STYLE = {"zone": "", "sep": "T"}


def zoned_timestamp(rng):
    r = rng.random()
    if r < 0.75:
        zone = STYLE["zone"] if rng.random() < 0.9 else rng.choice(ZONES)
        if zone == "summer":  # the clocks go forward an hour
            zone = rng.choice(["+01:00", "+02:00"])
        fraction = rng.choice(["", ".%03d" % rng.randrange(1000), ".%06d" % rng.randrange(10**6), ".5"])
        return "2026-%02d-%02d%s%02d:%02d:%02d%s%s" % (
            rng.randrange(1, 13), rng.randrange(1, 29), STYLE["sep"], rng.randrange(24), rng.randrange(60),
            rng.randrange(60), fraction, zone)
    if r < 0.85:  # looks like one, is not
        return rng.choice(["2026-02-30T10:00:00", "2026-11-17T24:00:00", "2026-11-17T10:00:60Z", "1899-12-31T00:00:00",
                           "2026-11-17", "2026-11-17T10:00:00+", "2026-11-17T10:00:00 Z", "26-11-17T10:00:00",
                           "a_x0041_b_x00e4_", "nul\u0000here", "_x0000_", " 2026-11-17T10:00:00Z",
                           "2026-11-17T10:00:00-00:00", "1900-03-01T00:30:00+01:00", "non\ufffecharacters\uffff"])
    return corpus_check.timestamp(rng)


corpus_check.timestamp = zoned_timestamp


def recording(rng):
    STYLE["zone"] = rng.choice(ZONES)
    STYLE["sep"] = rng.choice(["T", " "])
    return corpus_check.recording(rng)


def crafted_recordings():
    """Recordings of the edges a user met, each checked like the others."""
    def doc(entries):
        return json.dumps({"data": entries}).encode()

    def sample(i, stamp=None, x="+01.234", force="+ 13.00N", y="-02.500"):
        inclino = {"raw": "X=%s\r\nY=%s" % (x, y)}
        if stamp is not None:
            inclino["timestamp"] = stamp
        return {"inclino": inclino, "force": {"raw": force}}

    def at(minute, zone=""):
        return "2024-03-31T%02d:%02d:00.250%s" % (minute // 60, minute % 60, zone)
    return [
        # The time stamps first appear after 1,200 lines.
        doc([sample(i) for i in range(1200)] + [sample(i, at(i, "+02:00")) for i in range(240)]),
        # A garbled first time stamp.
        doc([sample(0, " 2024-05-03T10:00:00Z")] + [sample(i, at(i, "Z")) for i in range(1, 50)]),
        # The clocks go forward: 60 stamps at +01:00, then 180 at +02:00.
        doc([sample(i, at(i, "+01:00")) for i in range(60)] + [sample(i, at(i + 60, "+02:00")) for i in range(60, 240)]),
        # Every other inclinometer reading missing: 30 readings without a neighbour.
        doc([sample(i, at(i), x="+01.234" if i % 2 == 0 else "-999.000") for i in range(60)]),
        # Unreadable Y lines: no reading of either angle, a gap in the chart.
        doc([sample(i, at(i), y="+02.500" if i % 3 else "bad") for i in range(30)]),
        # A force of -999 kg (and an X angle of -999 degrees) is a reading.
        doc([sample(i, at(i), x="-999.000", force="\u0002-  %dN\u0003" % (998 + (i % 5 in (1, 3)) + (i % 5 == 2) * 2))
             for i in range(10)]),
        # A literal escape before each control character the library escapes
        # itself (and before tab and line feed, which it does not).
        doc([sample(c, "_x0041%sz" % chr(c)) for c in range(1, 32)] + [sample(32, "_x00AB\r\nz")]),
        # One sample.
        doc([sample(0, at(0, "Z"))]),
        # Characters the XML cannot hold.
        doc([sample(0, at(0), force="+ 13.00N\uffff"), sample(1, at(1), force="\ufffe\u0000_x0041_")]),
        # Offsets unknown ("-00:00") and past what a workbook shows.
        doc([sample(0, "2024-05-03T10:00:00-00:00"), sample(1, "9999-12-31T23:59:59.9995")]),
    ]


def large_recording(generator, rng, entries, work):
    """A realistic recording of many entries (the project's generator): its
    charts show buckets."""
    path = os.path.join(work, "large.tlq")
    subprocess.run([generator, "--entries", str(entries), "--seed", str(rng.randrange(1000)), path], check=True)
    with open(path, "rb") as f:
        return f.read()


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
FIRST_DAY = datetime.datetime(1900, 3, 1)
LAST_TIME = datetime.datetime(9999, 12, 31, 23, 59, 59, 999000)


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
    fraction = m.group(7) or ""
    when += datetime.timedelta(microseconds=int((fraction + "000000")[:6]))
    if when < FIRST_DAY or when > LAST_TIME:
        return None
    zone = m.group(8)
    if zone is None:
        return when, None
    if zone == "Z":
        return when, 0
    hours, minutes = int(zone[1:3]), int(zone[-2:]) if len(zone) > 3 else 0
    if hours > 23 or minutes > 59 or (zone[0] == "-" and hours == 0 and minutes == 0):
        return None  # "-00:00": no offset known
    return when, (-1 if zone[0] == "-" else 1) * (hours * 60 + minutes)


class Zones:
    """The zones of every time stamp a row would show (the entries dropped
    for a failed CRC too), as the program gathers them before the first row."""

    def __init__(self, doc):
        self.offsets, self.unzoned, zoned = set(), 0, 0
        text = doc.decode("utf-8")
        data = json.loads(text[1:] if text.startswith("\ufeff") else text)["data"]
        for e in data:
            s = e.get("inclino") if isinstance(e, dict) else None
            if isinstance(s, dict) and "raw" in s and isinstance(s.get("timestamp"), str):
                parsed = iso(s["timestamp"])
                if parsed and parsed[1] is None:
                    self.unzoned += 1
                elif parsed:
                    zoned += 1
                    self.offsets.add(parsed[1])
        # Most stamps without a zone: they are the date-times, the zoned
        # ones stay text.
        self.zoned_as_text = zoned if self.unzoned > zoned else 0
        self.offsets = [] if self.zoned_as_text else sorted(self.offsets)

    def zone(self):
        return None if not self.offsets else (self.offsets[0] if len(self.offsets) == 1 else 0)

    def any_date_time(self):
        return bool(self.offsets) or self.unzoned > 0

    def cell(self, text):
        """The date-time a stamp's cell holds, or None: text."""
        parsed = iso(text)
        if not parsed:
            return None
        when, zone = parsed
        if not self.offsets:
            return when if zone is None else None
        if zone is None:
            return None
        if len(self.offsets) == 1:
            return when if zone == self.offsets[0] else None
        utc = when - datetime.timedelta(minutes=zone)
        return utc if FIRST_DAY <= utc <= LAST_TIME else None


def instant(text):
    """Nanoseconds of a stamp (in UTC where it has a zone), as the quality
    measurement compares them; None where it is no date-time."""
    parsed = iso(text)
    if not parsed:
        return None
    when, zone = parsed
    m = ISO.match(text)
    nanos = int(((m.group(7) or "") + "000000000")[:9])
    day = when.date().toordinal()
    seconds = when.hour * 3600 + when.minute * 60 + when.second
    return (day * 86400 + seconds - (zone or 0) * 60) * 10**9 + nanos


GAPS_LISTED = 1000


def model_gaps(cols, rows):
    """The gaps between consecutive time stamps (in line order) of more than
    1.5 times the median of the positive differences: (the data line after
    the gap, its stamp before, its stamp after, nanoseconds, samples
    missing), all of them."""
    ts = cols.index("timestamp")
    stamps = []
    for line, fields in enumerate(rows, 1):
        text = fields[ts][1]
        at = instant(text) if text else None
        if at is not None:
            stamps.append((line, text, at))
    steps = [(b[0], a[1], b[1], b[2] - a[2]) for a, b in zip(stamps, stamps[1:])]
    positive = sorted(d for *_, d in steps if d > 0)
    if not positive:
        return []
    twice = positive[(len(positive) - 1) // 2] + positive[len(positive) // 2]
    gaps = []
    for line, before, after, d in steps:
        if d > 0 and d * 4 > twice * 3:
            n = (d * 4 + twice) // (twice * 2)
            gaps.append((line, before, after, d, n - 1 if n > 2 else 1))
    return gaps


def check_gaps(book, gaps, zones, seen):
    """The sheet "gaps" and the count on the sheet "recording"."""
    problems = []
    if "gaps" not in book.sheetnames:
        return ["no sheet 'gaps'"]
    rows = list(book["gaps"].iter_rows(values_only=True))
    if not rows or list(rows[0][:4]) != ["from", "to", "seconds", "samples missing"]:
        return ["gaps: header %r" % (rows[0] if rows else None,)]
    listed = gaps[:GAPS_LISTED]
    want_rows = len(listed) + (1 if len(gaps) > len(listed) else 0)
    if len(rows) - 1 != want_rows:
        return ["gaps: %d rows, not %d" % (len(rows) - 1, want_rows)]
    for (line, before, after, d, missing), got in zip(listed, rows[1:]):
        seen.add("gap listed")
        for text, cell in ((before, got[0]), (after, got[1])):
            when = zones.cell(text)
            ok = (isinstance(cell, datetime.datetime) and abs((cell - when).total_seconds()) <= TIME_TOLERANCE) \
                if when is not None else isinstance(cell, str)
            if not ok:
                problems.append("gaps: %r for the stamp %r" % (cell, text))
        seconds = float("%.16G" % (d / 1e9))  # as the library writes a number
        if got[2] != seconds or got[3] != missing:
            problems.append("gaps: %r, not %r s, %d missing" % (got, seconds, missing))
        if problems:
            break
    quality = dict((r[0], r[1]) for r in book["recording"].iter_rows(values_only=True) if r[0])
    if (quality.get("gaps") or 0) != len(gaps):
        problems.append("recording sheet: gaps %r, not %d" % (quality.get("gaps"), len(gaps)))
    return problems


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


def expected_cells(cols, rows, zones, seen):
    """The cells the data sheet must hold, and the header."""
    ts = cols.index("timestamp")
    header = list(cols)
    if zones.zone() is not None:
        header[ts] = "timestamp (%s)" % zone_name(zones.zone())
        seen.add("zoned header")
    if len(zones.offsets) > 1:
        seen.add("several zones: UTC")
    cells = []
    for fields in rows:
        row = []
        for c, (kind, text) in enumerate(fields):
            if kind == "empty" or text == "":
                row.append(None)
                if kind == "empty" and cols[c] != "timestamp" and c != ts:
                    seen.add("empty number (NaN)")
            elif c == ts:
                when = zones.cell(text)
                if when is not None:
                    row.append(("date", when))
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


PLOT_BUCKETS = 1000
PLOT_SHEETS = {"Inclinometer 1": "plot inclino1", "Inclinometer 2": "plot inclino2", "Elastometer": "plot elasto",
               "Force": "plot force"}


def chosen_points(points, n, samples):
    """The points a chart draws: all of them, or of each bucket of lines the
    first, the last and each value's least and greatest (its first line)."""
    size = 1 if samples <= PLOT_BUCKETS else -(-samples // PLOT_BUCKETS)
    if size == 1:
        return points, size
    out = []
    for start in range(0, len(points), size):
        bucket = points[start:start + size]
        pick = {0, len(bucket) - 1}
        for k in range(n):
            found = [(p[2][k], i) for i, p in enumerate(bucket) if p[2][k] is not None]
            if found:
                pick.add(min(found)[1])
                pick.add(max(found, key=lambda t: (t[0], -t[1]))[1])
        out += [bucket[i] for i in sorted(pick)]
    return out, size


def series_refs(text):
    """(header column letter, sheet, x column, y column, last row) per series of a chart's XML."""
    refs = []
    for s_xml in re.findall(r"<c:ser>(.*?)</c:ser>", text, re.S):
        name = re.search(r"<c:tx><c:strRef><c:f>data!\$([A-Z]+)\$1</c:f>", s_xml)
        ref = r"<c:%s><c:numRef><c:f>'?([^'!]+)'?!\$([A-Z]+)\$2(?::\$\2\$(\d+))?</c:f>"
        x, y = re.search(ref % "xVal", s_xml), re.search(ref % "yVal", s_xml)
        refs.append(None if not (name and x and y) else
                    (name.group(1), y.group(1), x.group(2), y.group(2), int(y.group(3) or 2), int(x.group(3) or 2)))
    return refs


def check_charts(path, book, header, cells, zones, samples, seen, gap_ends=()):
    problems = []
    with zipfile.ZipFile(path) as z:
        charts = sorted(n for n in z.namelist() if n.startswith("xl/charts/chart"))
        xml = {n: z.read(n).decode() for n in charts}
    time_axis = zones.any_date_time()
    drawn_titles, note_size = [], None
    for title, names in CHART_COLUMNS.items():
        columns = [c for c in names if c in header]
        if not columns:
            if PLOT_SHEETS[title] in book.sheetnames:
                problems.append("a sheet %r without its sensor" % PLOT_SHEETS[title])
            continue
        n = len(columns)
        points = []
        for r, row in enumerate(cells):
            stamp = row[0]
            time = stamp[1] if isinstance(stamp, tuple) else None
            if time_axis and time is None:
                continue  # no place on a time axis
            values = [row[header.index(c)] for c in columns]
            values = [v if isinstance(v, float) and math.isfinite(v) else None for v in values]
            # The inclinometer's decoder gives -999 for both angles when it
            # cannot read the Y line: no reading; any other -999 is a value.
            if title.startswith("Inclinometer") and all(v == -999.0 for v in values):
                values = [None] * n
                seen.add("inclinometer without a reading")
            elif -999.0 in values:
                seen.add("-999 drawn")
            points.append((r + 1, time, values))
        points, size = chosen_points(points, n, samples)
        # An empty point (line 0) between two points that a gap lies
        # between: the chart breaks its line there.
        broken, g = [], 0
        for p in points:
            between = False
            while g < len(gap_ends) and gap_ends[g] <= p[0]:
                between, g = between or bool(broken), g + 1
            if between:
                broken.append((0, None, [None] * n))
                seen.add("chart broken at a gap")
            broken.append(p)
        points = broken
        note_size = size
        if size > 1:
            seen.add("reduced chart")
        alone = [[p[2][k] is not None and (i == 0 or points[i - 1][2][k] is None) and
                  (i + 1 == len(points) or points[i + 1][2][k] is None) for k in range(n)]
                 for i, p in enumerate(points)]
        if PLOT_SHEETS[title] not in book.sheetnames:
            problems.append("no sheet %r" % PLOT_SHEETS[title])
            continue
        got_rows = list(book[PLOT_SHEETS[title]].iter_rows(min_row=2, values_only=True))
        if len(got_rows) != len(points):
            problems.append("%s: %d points plotted, not %d" % (title, len(got_rows), len(points)))
            continue
        for i, (p, got) in enumerate(zip(points, got_rows)):
            got = list(got) + [None] * (1 + 2 * n - len(got))
            line, time, values = p
            x = got[0]
            if line == 0:
                if any(v is not None for v in got[:1 + 2 * n]):
                    problems.append("%s: plot row %d is %r, not empty at a gap" % (title, i + 2, got))
                    break
                continue
            ok = (isinstance(x, datetime.datetime) and abs((x - time).total_seconds()) <= TIME_TOLERANCE) \
                if time_axis else x == line
            want = values + [v if alone[i][k] else None for k, v in enumerate(values)]
            if not ok or got[1:1 + 2 * n] != want:
                problems.append("%s: plot row %d is %r, not %r, %r" % (title, i + 2, got, time if time_axis else line,
                                                                      want))
                break
            if any(alone[i]):
                seen.add("reading without a neighbour")
        drawn = [c for k, c in enumerate(columns) if any(p[2][k] is not None for p in points)]
        if not drawn:
            continue
        drawn_titles.append(title)
        chart = [t for t in xml.values() if re.search(r"<a:t>%s</a:t>" % title, t)]
        if len(chart) != 1:
            problems.append("%d charts titled %r" % (len(chart), title))
            continue
        lone = [c for c in drawn if any(a[columns.index(c)] for a in alone)]
        want_series = [(c, columns.index(c) + 1) for c in drawn] + [(c, n + columns.index(c) + 1) for c in lone]
        got_series = []
        for ref in series_refs(chart[0]):
            if ref is None:
                problems.append("%s: a series without its references" % title)
                continue
            letter, sheet, x_col, y_col, y_last, x_last = ref
            if sheet != PLOT_SHEETS[title] or x_col != "A" or y_last != len(points) + 1 or x_last != len(points) + 1:
                problems.append("%s: a series reads %r" % (title, ref))
            got_series.append((header[openpyxl.utils.column_index_from_string(letter) - 1],
                               openpyxl.utils.column_index_from_string(y_col) - 1))
        if got_series != want_series:
            problems.append("%s: series %r, not %r" % (title, got_series, want_series))
    titles = [re.search(r"<a:t>([^<]*)</a:t>", t).group(1) for t in xml.values()]
    if sorted(titles) != sorted(drawn_titles):
        problems.append("charts %r, not %r" % (titles, drawn_titles))
    if ("chart" in book.sheetnames) != bool(drawn_titles):
        problems.append("chart sheet %s, charts %r" % ("chart" in book.sheetnames, drawn_titles))
    elif drawn_titles:
        note = book["chart"]["B1"].value
        want_note = ("The charts show every reading's minimum and maximum per %d samples." % note_size) \
            if note_size > 1 else None
        if note != want_note:
            problems.append("chart sheet note %r, not %r" % (note, want_note))
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
    zones = Zones(doc)
    header, cells = expected_cells(cols, rows, zones, seen)
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
                 (stamps[-1] if stamps else None),
                 "time stamp zones": ", ".join(zone_name(z) for z in zones.offsets) +
                 (" (shown in UTC)" if len(zones.offsets) > 1 else "") or None,
                 "zoned stamps kept as text": zones.zoned_as_text or None}
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
        gaps = model_gaps(cols, rows)
        problems += check_gaps(book, gaps, zones, seen)
        problems += check_charts(xlsx, book, header, cells, zones, samples, seen,
                                 [g[0] for g in gaps[:GAPS_LISTED]])
    if "chart" in sheets:
        seen.add("charts")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--sheet-rows", type=int, default=7, help="rows per sheet for every third recording")
    ap.add_argument("--large", type=int, default=0, help="recordings of 9,000 to 13,000 entries, after the others")
    ap.add_argument("--generator", help="gen_recording, which makes them")
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
        crafted = crafted_recordings()
        for n in range(args.count + args.large + len(crafted)):
            if n < len(crafted):
                doc = crafted[n]
            elif n < len(crafted) + args.count:
                doc = recording(rng)
            else:
                doc = large_recording(args.generator, rng, rng.randrange(9000, 13000), work)
            rows = args.sheet_rows if n % 3 == 0 and n < len(crafted) + args.count else 1048575
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
              "more than one data sheet", "charts", "failing recording", "several zones: UTC",
              "reading without a neighbour", "inclinometer without a reading", "-999 drawn", "gap listed",
              "chart broken at a gap"] + (["reduced chart"] if args.large else [])
    missing = [w for w in wanted if w not in seen.counts]
    if missing:
        print("never met: %s" % ", ".join(missing))
        failures += 1
    print("%d recordings, %d failed" % (len(crafted) + args.count + args.large, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
