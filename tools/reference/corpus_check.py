#!/usr/bin/env python3
"""Converts generated recordings with the program and with the reference
model and compares the results byte for byte: the CSV left behind (or that
none was created) and the failure reported on standard error.

    corpus_check.py PROGRAM [--count N] [--seed S] [--keep DIR] [--runner WINE]

The recordings mix well-formed samples with the odd and the broken: every
payload form, spoiled CRCs, short frames, wrong headers, mangled text lines,
base64 with breaks and pads, members of the wrong JSON type, equal member
names, numbers in every notation, texts that need quoting.
"""

import argparse
import base64
import json
import os
import random
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference  # noqa: E402

# Half the recordings are "wild": broken frames, members of the wrong type
# and missing values, so that most of them fail part way. The others hold
# only what converts, odd as it may be.
WILD = True

SEPARATORS = [(";", ","), (",", "."), (",", ","), ("\t", "."), (";", "."), ("|", ",")]


class Obj:
    """A JSON object that may repeat member names."""

    def __init__(self, members=None):
        self.members = list(members or [])


def dump(v, rng) -> str:
    if isinstance(v, Obj):
        return "{" + ",".join(dump(k, rng) + ":" + dump(x, rng) for k, x in v.members) + "}"
    if isinstance(v, list):
        return "[" + ", ".join(dump(x, rng) for x in v) + "]"
    if isinstance(v, Raw):
        return v.text
    return json.dumps(v, ensure_ascii=rng.random() < 0.5)


class Raw:
    """JSON text written as it stands (number notations)."""

    def __init__(self, text):
        self.text = text


def crc(body: bytes) -> int:
    c = 0
    for b in body:
        c ^= b << 8
        for _ in range(8):
            c = ((c << 1) ^ 0x1021) & 0xFFFF if c & 0x8000 else (c << 1) & 0xFFFF
    return c


def frame(rng, head: bytes, body_len: int, spoil: bool) -> bytes:
    body = bytes(rng.randrange(256) for _ in range(body_len))
    c = crc(body) ^ (rng.randrange(1, 65536) if spoil else 0)
    return head + body + struct.pack("<H", c)


def b64(rng, data: bytes) -> str:
    text = base64.b64encode(data).decode()
    r = rng.random()
    if r < 0.1:
        text = text.rstrip("=")
    elif r < 0.2:
        text = text.replace("+", "-").replace("/", "_")
    elif r < 0.3:
        text += rng.choice(["\r\n", " ", "==\n", "\n "])
    elif r < 0.38 and len(text) > 8:
        cut = 4 * rng.randrange(1, len(text) // 4)
        text = text[:cut] + rng.choice(["\r\n", " ", "\n\n"]) + text[cut:]
    elif r < 0.41 and WILD:
        i = rng.randrange(len(text))
        text = text[:i] + rng.choice("!*.\t=é") + text[i:]
    elif r < 0.43 and WILD:
        text += rng.choice("AB!")
    return text


def text_form(rng) -> str:
    def value():
        v = rng.randrange(-99999, 100000)
        return "%s%02d.%03d" % ("-" if v < 0 else "+", abs(v) // 1000, abs(v) % 1000)

    x, y = "X=" + value(), "Y=" + value()
    r = rng.random()
    if r < 0.1:
        x = x.replace("+", "", 1) if "+" in x else x[:-1]
    elif r < 0.2:
        y = y[:-1]
    sep = "\r\n" if rng.random() < 0.9 else rng.choice(["\n", "\r", " \r\r\n", "\r\n\r\n"])
    tail = rng.choice([""] * 8 + ["\n", "\r\n", "\r\nZ=+00.000", " "])
    return x + sep + y + tail


def inclino_payload(rng) -> str:
    r = rng.random()
    if r < 0.25:
        return text_form(rng)
    if r < 0.4:
        t = text_form(rng).encode()
        return b64(rng, t)
    if r < 0.65:
        n = rng.choice([14] * 8 + ([16, 12, 0, 1, 3, 13] if WILD else [16, 20]))
        head = b"\xff\xff" if rng.random() < 0.95 or not WILD else b"\xff\xfe"
        return b64(rng, frame(rng, head, n, rng.random() < 0.2))
    if r < 0.9:
        n = rng.choice([13] * 8 + ([11, 15, 0, 2, 5, 12] if WILD else [15, 14]))
        head = b"\xf0\x01" if rng.random() < 0.95 or not WILD else b"\xf0\x02"
        return b64(rng, frame(rng, head, n, rng.random() < 0.2))
    return rng.choice(["", "/", "8", "WD0=", "X", "hello; \"world\"", "Ünïcode ✓"] +
                      (["//", "8A", "WD"] if WILD else []))


def force_payload(rng) -> str:
    sign = rng.choice(["-", "+", " ", "x", "\x02"])
    blanks = rng.choice([" ", "  ", "\t", " \r"])
    whole = str(rng.randrange(0, 100000))
    dec = whole + "." + "%02d" % rng.randrange(100)
    unit = rng.choice("NNNM")
    forms = [
        "\x02" + sign + blanks + dec + unit + "\x03",
        sign + blanks + dec + unit + "\x03\x02",
        sign + blanks + whole + unit + rng.choice(["\x03\x02", "..", "x"]),
        "\x02" + sign + blanks + whole + unit + "\x03",
        sign + blanks + whole + unit + "\x03\x02",
        sign + blanks + whole + "." + str(rng.randrange(10)) + unit + "\x03",
        rng.choice(["", "ERR", "NMNM", " 1N", "9" * 400 + "N\x03\x02"]),
    ]
    return rng.choice(forms)


def elasto_payload(rng) -> str:
    a, b = rng.randrange(100000), rng.randrange(100000)
    return rng.choice([
        "A=%d %d B=%d" % (a, rng.randrange(100), b),
        "A=%d x B=%d\n" % (a, b),
        "A=%d x B=%d\r\n" % (a, b),
        "A=%d only" % a,
        "junk B=%d" % b,
        "A=%d" % a,
        "",
    ])


def scalar(rng):
    return rng.choice([None, True, False, 0, -7, 3.25, "", "text", [], Obj()])


def number(rng):
    return rng.choice([
        rng.randrange(-10**6, 10**6), round(rng.uniform(-1e4, 1e4), rng.randrange(0, 8)),
        Raw("1e-05"), Raw("-0.0"), Raw("12.0"), Raw("123456789012345678901234567890"), Raw("1E+2"),
        Raw("0.1000000000000000055511151231257827"), Raw("18446744073709551615"), Raw("-9223372036854775809"),
    ])


def timestamp(rng):
    r = rng.random()
    if r < 0.8:
        return "2026-11-%02dT%02d:%02d:%02d.%03d" % (rng.randrange(1, 29), rng.randrange(24), rng.randrange(60),
                                                     rng.randrange(60), rng.randrange(1000))
    if r < 0.9:
        return rng.choice(["a;b", "say \"hi\"", "line\r\nbreak", "tab\there", "pipe|x", "comma,x", "Höhe €"])
    return scalar(rng)


def sensor(rng, members):
    if WILD and rng.random() < 0.03:
        return scalar(rng)
    obj = Obj()
    for name, make, p in members:
        if rng.random() < p or (not WILD and name.startswith("val")):
            obj.members.append((name, make(rng) if rng.random() < 0.95 else scalar(rng)))
    if rng.random() < 0.05 and obj.members:
        obj.members.append(rng.choice(obj.members))
    if rng.random() < 0.1:
        obj.members.insert(0, ("extra", scalar(rng)))
    rng.shuffle(obj.members) if rng.random() < 0.2 else None
    return obj


def entry(rng, shape):
    if WILD and rng.random() < 0.01:
        return scalar(rng)
    e = Obj()
    if rng.random() < shape["inclino"]:
        e.members.append(("inclino", sensor(rng, [("raw", inclino_payload, 0.95), ("timestamp", timestamp, 0.9)])))
    if rng.random() < shape["inclino2"]:
        e.members.append(("inclino2", sensor(rng, [("raw", inclino_payload, 0.9)])))
    if rng.random() < shape["force"]:
        e.members.append(("force", sensor(rng, [("raw", force_payload, 0.95)])))
    if rng.random() < shape["dlen"]:
        e.members.append(("dlen", sensor(rng, [("raw", elasto_payload, 0.95), ("val1", number, 0.98),
                                              ("val2", number, 0.98)])))
    rng.shuffle(e.members)
    return e


def recording(rng) -> bytes:
    global WILD
    WILD = rng.random() < 0.5
    shape = {k: rng.choice([0.0, 0.3, 0.9, 1.0]) for k in ("inclino", "inclino2", "force", "dlen")}
    data = [entry(rng, shape) for _ in range(rng.randrange(0, 25))]
    top = Obj([("format", 3), ("data", data)])
    r = rng.random() if WILD else 1.0
    if r < 0.02:
        top = Obj([("format", 3)])
    elif r < 0.04:
        top.members.insert(0, ("data", data[:1]))  # an earlier "data": the last one counts
    elif r < 0.05:
        top = data
    elif r < 0.06:
        top = Obj([("data", scalar(rng))])
    text = dump(top, rng)
    if rng.random() < 0.03:
        text = "\ufeff" + text
    if WILD and rng.random() < 0.04:
        text = text[: rng.randrange(len(text))]  # cut short
    return text.encode()


def store_text(sep, dec):
    def value(name, v):
        return '"%s"="%s"\r\n' % (name, v.replace("\\", "\\\\").replace('"', '\\"'))
    return ("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\International]\r\n"
            + value("sList", sep) + value("sDecimal", dec))


def check(command, doc, sep, dec, work, windows):
    rec = os.path.join(work, "rec.tlq")
    csv = os.path.join(work, "rec.csv")
    store = os.path.join(work, "store.reg")
    for p in (rec, csv):
        if os.path.exists(p):
            os.remove(p)
    with open(rec, "wb") as f:
        f.write(doc)
    with open(store, "w", encoding="utf-8", newline="") as f:
        f.write(store_text(sep, dec))
    # Reports go to a folder of our own, and nothing is opened on the desktop.
    env = dict(os.environ, TLQCONVERTER_REGISTRY=store, TMP=os.path.join(work, "tmp"),
               PATH=os.path.join(work, "bin") + os.pathsep + os.environ.get("PATH", ""), DISPLAY="")
    run = subprocess.run(command + [rec], env=env, capture_output=True, timeout=120)
    got_csv = open(csv, "rb").read() if os.path.exists(csv) else None
    want_csv, want_err = reference.convert(doc, sep.encode(), dec.encode())
    problems = []
    if got_csv != want_csv:
        problems.append("CSV differs:\n  program:   %r\n  reference: %r" % (got_csv, want_csv))
    if want_err is None:
        if run.returncode != 0 or run.stderr:
            problems.append("program failed (%d): %r" % (run.returncode, run.stderr))
    else:
        kind, message = want_err
        if run.returncode != 2:
            problems.append("exit code %d; reference failed with %s %r" % (run.returncode, kind, message))
        elif not windows:
            # "tlqconverter: MESSAGE (report: PATH)"; parse errors are worded by the program alone.
            line = b"tlqconverter: " + (message if message is not None else b"invalid JSON") + \
                (b" (report: " if message is not None else b"")
            if not run.stderr.startswith(line):
                problems.append("error differs:\n  program:   %r\n  reference: %r" % (run.stderr, line))
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--count", type=int, default=400)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--keep", help="folder to keep failing recordings in")
    ap.add_argument("--runner", help="program that starts PROGRAM (wine for a Windows build)")
    args = ap.parse_args()

    rng = random.Random(args.seed)
    command = ([args.runner] if args.runner else []) + [args.program]
    cases = []
    for n in range(args.count):
        doc = recording(rng)
        cases.append((n, doc) + rng.choice(SEPARATORS))
    if args.runner:
        # A Windows build reads the real (wine) registry: set each separator
        # pair once, for all the recordings that use it.
        cases.sort(key=lambda c: (c[2], c[3]))
    failures = 0
    outcomes = {"ok": 0, "error": 0}
    current = None
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "tmp"))
        os.makedirs(os.path.join(work, "bin"))
        opener = os.path.join(work, "bin", "xdg-open")
        with open(opener, "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(opener, 0o755)
        for n, doc, sep, dec in cases:
            if args.runner and current != (sep, dec):
                for name, value in (("sList", sep), ("sDecimal", dec)):
                    subprocess.run([args.runner, "reg", "add", "HKCU\\Control Panel\\International", "/v", name,
                                    "/t", "REG_SZ", "/d", value, "/f"], check=True, capture_output=True)
                current = (sep, dec)
            problems = check(command, doc, sep, dec, work, bool(args.runner))
            _, err = reference.convert(doc, sep.encode(), dec.encode())
            outcomes["error" if err else "ok"] += 1
            if problems:
                failures += 1
                print("recording %d (separators %r %r):" % (n, sep, dec))
                for p in problems:
                    print("  " + p)
                if args.keep:
                    os.makedirs(args.keep, exist_ok=True)
                    with open(os.path.join(args.keep, "failing-%d.tlq" % n), "wb") as f:
                        f.write(doc)
    print("%d recordings (%d converted, %d failing as expected)" % (args.count, outcomes["ok"], outcomes["error"]))
    print("%d passed, %d failed" % (args.count - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
