#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the project's own
generators: recordings from tools/reference/corpus_check.py (well-formed, odd
and broken) and the bundled sample, and the payloads they hold.

    make_seeds.py OUT_DIR
"""
import json
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "reference"))
import corpus_check  # noqa: E402


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def payloads(doc):
    """The sensors' "raw" strings of a parsed recording."""
    found = []
    entries = doc.get("data") if isinstance(doc, dict) else None
    for e in entries if isinstance(entries, list) else []:
        for sensor in ("inclino", "inclino2", "force", "dlen"):
            s = e.get(sensor) if isinstance(e, dict) else None
            if isinstance(s, dict) and isinstance(s.get("raw"), str):
                found.append(s["raw"])
    return found


def main():
    out = sys.argv[1]
    rng = random.Random(20261208)
    recordings = [corpus_check.recording(rng) for _ in range(150)]
    with open(os.path.join(HERE, "..", "examples", "sample.tlq"), "rb") as f:
        recordings.append(f.read())
    texts = set()
    for i, rec in enumerate(recordings):
        if len(rec) < 200_000:
            write(os.path.join(out, "conversion"), "r%03d.tlq" % i, rec)
            write(os.path.join(out, "entry_scan"), "r%03d.tlq" % i, rec)
            write(os.path.join(out, "entry_check"), "r%03d.tlq" % i, rec)
        try:
            texts.update(payloads(json.loads(rec)))
        except ValueError:
            pass
    for i, text in enumerate(sorted(texts)[:600]):
        data = text.encode("utf-8", "surrogatepass")
        write(os.path.join(out, "decoders"), "p%03d" % i, data)
        write(os.path.join(out, "base64"), "p%03d" % i, data)
        write(os.path.join(out, "frames"), "p%03d" % i, data + b"\x00")  # mode byte, read from the end
    for name, sep, dec in (("semicolon", ";", ","), ("comma", ",", ".")):
        # the mode flag is read from the last byte: any bytes as a store
        write(os.path.join(out, "reg_store"), name, corpus_check.store_text(sep, dec).encode() + b"\x01")
    write(os.path.join(out, "csv_line"), "plain", b'a;b"c\r\nd,1.5' + bytes(range(0, 40)))
    write(os.path.join(out, "command_line"), "plain", b'C:\\my dir\\x.tlq\\ "say \\"hi\\""\t\\\\')
    # (arguments end at a backslash and another character; "\\\\" is one backslash)
    write(os.path.join(out, "command_line"), "batch",
          b'--out\\ C:\\\\out dir\\ --split-rows=1048575\\ --\\ a.tlq\\ folder')
    write(os.path.join(out, "command_line"), "daily",
          b'--update\\ --log=batch.csv\\ --dry-run\\ --list-separator\\ ;\\ --decimal-separator=,\\ x')


if __name__ == "__main__":
    main()
