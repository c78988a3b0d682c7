#!/usr/bin/env python3
"""The generator's --start: recordings of one seed that overlap hold the same
entries where they overlap, their stamps go on across midnight, and a merge
of them leaves the overlap out once."""
import json
import os
import re
import subprocess
import sys
import tempfile


def entries(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)["data"]


def main():
    generator, program = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        folder = os.path.join(work, "in")
        os.mkdir(folder)
        first, second, later = (os.path.join(folder, n) for n in ("a.tlq", "b.tlq", "c.tlq"))
        subprocess.run([generator, "--entries", "500", "--seed", "7", "--start", "0", first], check=True)
        subprocess.run([generator, "--entries", "500", "--seed", "7", "--start", "400", second], check=True)
        subprocess.run([generator, "--entries", "3", "--seed", "7", "--start", "500000", later], check=True)
        a, b, c = entries(first), entries(second), entries(later)
        assert a[400:] == b[:100], "the overlap differs"
        assert a[399] != b[0]
        assert b[100] != a[499]
        assert a[0]["inclino"]["timestamp"] == "2026-11-17T09:00:00.000", a[0]
        assert b[0]["inclino"]["timestamp"] == "2026-11-17T09:01:20.000", b[0]
        # 100,000 s on: the next day.
        assert c[0]["inclino"]["timestamp"] == "2026-11-18T12:46:40.000", c[0]
        assert c[1]["inclino"]["timestamp"] == "2026-11-18T12:46:40.200", c[1]
        # Without --start, the entries are those of before: one draw after another.
        plain = os.path.join(work, "plain.tlq")
        subprocess.run([generator, "--entries", "500", "--seed", "7", plain], check=True)
        assert entries(plain)[0]["inclino"]["timestamp"] == "2026-11-17T09:00:00.000"
        assert entries(plain)[1:] != a[1:]
        out = os.path.join(work, "campaign.csv")
        run = subprocess.run([program, "--merge", out, folder], capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        said = run.stdout + run.stderr
        assert re.search(r"\b100 repeated lines left out", said), said
        with open(out, encoding="utf-8", newline="") as f:
            lines = f.read().split("\r\n")
        # Those of the entries a converter keeps (not those failing a CRC), the
        # overlap once: as the summary counts them, and fewer than all 1,003.
        written = int(re.search(r"(\d+) lines written", said).group(1))
        assert len(lines) == 1 + written + 1, (len(lines), written)  # the header, the lines, the end
        assert 850 < written <= 903, written
    print("ok")


if __name__ == "__main__":
    main()
