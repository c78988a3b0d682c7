"""An independent model of the conversion, written from the behaviour the
program promises rather than from its code: used to check the program's
output byte for byte on generated recordings (see corpus_check.py).

convert(document_bytes, list_sep, dec_sep) returns (csv_bytes or None,
(kind, message) or None): the CSV text the program leaves behind (None when
it creates no file) and the failure it reports.
"""

import functools
import json
import math
import re
import sys
from decimal import Decimal, getcontext, localcontext

NAN = float("nan")


class Failure(Exception):
    def __init__(self, kind, message):
        super().__init__(kind)
        self.kind = kind
        self.message = message.encode() if isinstance(message, str) else message


# ---- base64 -----------------------------------------------------------------

_B64 = {}
for _i, _c in enumerate(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"):
    _B64[_c] = _i
_B64[ord("+")] = _B64[ord("-")] = 62
_B64[ord("/")] = _B64[ord("_")] = 63
_BREAKS = b"\r\n "


def b64decode(text: bytes) -> bytes:
    end = len(text)
    while end > 0 and (text[end - 1] in _BREAKS or text[end - 1] == ord("=")):
        end -= 1

    def value(i):
        c = text[i]
        if c not in _B64:
            raise Failure("ValueError", b"Invalid base64 format character `" + bytes([c]) +
                          b"` (ord %d) at location %d." % (c, i))
        return _B64[c]

    out = bytearray()
    i = 0
    while end - i >= 4:
        while text[i] in _BREAKS:
            i += 1
        if end - i < 4:
            break
        v = value(i) << 18 | value(i + 1) << 12 | value(i + 2) << 6 | value(i + 3)
        out += bytes([v >> 16 & 255, v >> 8 & 255, v & 255])
        i += 4
    left = end - i
    if left == 2:
        v = value(i) << 18 | value(i + 1) << 12
        out.append(v >> 16 & 255)
    elif left == 3:
        v = value(i) << 18 | value(i + 1) << 12 | value(i + 2) << 6
        out += bytes([v >> 16 & 255, v >> 8 & 255])
    return bytes(out)


# ---- inclinometers ----------------------------------------------------------

X_LINE = re.compile(rb"X=([+-]\d\d\.\d\d\d)\r\n.+$")
Y_LINE = re.compile(rb".+\r\nY=([+-]\d\d\.\d\d\d)$")


def detect(raw: bytes) -> str:
    if raw[:2] == b"//":
        return "dq7"
    if raw[:2] == b"8A":
        return "rk"
    return "text"


def parse_text(raw: bytes):
    text = b64decode(raw) if raw[:2] == b"WD" else raw
    x = NAN
    m = X_LINE.match(text)
    if m:
        x = float(m.group(1))
    m = Y_LINE.match(text)
    if not m:
        return -999.0, -999.0
    return x, float(m.group(1))


def byte_at(frame: bytes, p: int) -> int:
    if p >= len(frame):
        if not frame:
            raise Failure("IndexError", "index out of bounds, the container is empty")
        raise Failure("IndexError", "index %d not in 0 .. %d" % (p, len(frame) - 1))
    return frame[p]


def pair(frame, p):
    b0, b1, b2 = byte_at(frame, p), byte_at(frame, p + 1), byte_at(frame, p + 2)
    return b0 + (b1 & 0x0F) * 256, b2 * 16 + (b1 >> 4)


def u16(frame, p):
    low = byte_at(frame, p)
    return low + byte_at(frame, p + 1) * 256


def s16(frame, p):
    v = u16(frame, p)
    return v - 65536 if v > 32767 else v


def crc_ok(frame):
    low = byte_at(frame, len(frame) - 2)
    high = byte_at(frame, len(frame) - 1)
    crc = 0
    for b in frame[2:len(frame) - 2]:
        for _ in range(8):
            if ((crc >> 8) ^ b) & 0x80:
                crc = ((crc << 1) ^ 0x1021) & 0xFFFF
            else:
                crc = (crc << 1) & 0xFFFF
            b = (b << 1) & 0xFF
    return crc == high * 256 + low


def header(frame):
    first = byte_at(frame, 0)
    return first * 256 + byte_at(frame, 1)


def parse_dq7(raw: bytes):
    frame = b64decode(raw)
    if header(frame) != 65535:
        raise Failure("AssertionError", "tlqconverter(135, 5) `header == 65535` ")
    a0l, a0h = pair(frame, 2)
    b0l, b0h = pair(frame, 5)
    fl, fh = pair(frame, 8)
    cal_a, cal_b = u16(frame, 12), u16(frame, 14)
    a_deg = float((a0l - a0h) * cal_a) / 10000.0 / 1000.0
    b_deg = float((b0l - b0h) * cal_b) / 10000.0 / 1000.0
    fields = [("A_deg", a_deg), ("B_deg", b_deg), ("A0L", a0l), ("A0H", a0h), ("B0L", b0l), ("B0H", b0h),
              ("FL", fl), ("FH", fh), ("CAL_A", cal_a), ("CAL_B", cal_b), ("CRC_OK", crc_ok(frame)),
              ("RAW_B64", raw)]
    return fields, a_deg, b_deg


def _sin_cos(y: Decimal):
    """Taylor series of sin and cos, to the context's precision."""
    s, c = Decimal(0), Decimal(0)
    term, k = Decimal(1), 0  # y^k / k!
    while True:
        part = term if k % 4 < 2 else -term
        if k % 2:
            s += part
        else:
            c += part
        k += 1
        term = term * y / k
        if term == 0 or abs(term) < Decimal(10) ** -(getcontext().prec + 5):
            return s, c


@functools.lru_cache(maxsize=None)
def exact_asin(acc: int) -> float:
    """The double nearest to asin(acc / 32768): Newton's method on sin y = x
    in 50-digit decimals, from the C library's value, then one rounding."""
    if acc == 0:
        return 0.0
    if abs(acc) == 32768:
        return math.copysign(math.pi / 2, acc)
    with localcontext() as ctx:
        ctx.prec = 50
        x = Decimal(acc) / 32768  # exact: 2^-15 has 15 decimals
        y = Decimal(math.asin(acc / 32768))
        for _ in range(3):
            s, c = _sin_cos(y)
            y -= (s - x) / c
        return float(y)  # correctly rounded


def rk_angle(acc):
    return exact_asin(acc) / 3.141592653589793 * 180.0


def parse_rk(raw: bytes):
    frame = b64decode(raw)
    if header(frame) != 61441:
        raise Failure("AssertionError", "tlqconverter(190, 5) `header == 61441` ")
    accx, accy = s16(frame, 7), s16(frame, 9)
    mur, uart, rs = byte_at(frame, 11), byte_at(frame, 12), byte_at(frame, 13)
    status = u16(frame, 13)
    ok = crc_ok(frame)
    x, y = rk_angle(accx), rk_angle(accy)
    fields = [("ACCX", accx), ("ACCY", accy), ("MUR_OVERFLOWS", mur), ("UART_OVERFLOWS", uart),
              ("RS_ERRORS", rs), ("STATUS", status), ("CRC_OK", ok), ("RAW_B64", raw), ("X_deg", x), ("Y_deg", y)]
    return fields, x, y


def g16(v: float) -> bytes:
    if math.isnan(v):
        return b"nan"
    s = "%.16g" % v
    if not any(c in s for c in ".abcdefghijklmnopqrstuvwxyz"):
        s += ".0"
    return s.encode()


def json_string(raw: bytes) -> bytes:
    out = bytearray(b'"')
    short = {0x22: b'\\"', 0x5C: b"\\\\", 0x08: b"\\b", 0x0C: b"\\f", 0x0A: b"\\n", 0x0D: b"\\r", 0x09: b"\\t"}
    for c in raw:
        if c in short:
            out += short[c]
        elif c < 0x20:
            out += b"\\u%04X" % c
        else:
            out.append(c)
    return bytes(out + b'"')


def record_json(fields) -> bytes:
    parts = []
    for name, v in fields:
        if isinstance(v, bool):
            text = b"true" if v else b"false"
        elif isinstance(v, int):
            text = str(v).encode()
        elif isinstance(v, float):
            text = g16(v)
        else:
            text = json_string(v)
        parts.append(b'"' + name.encode() + b'":' + text)
    return b"{" + b",".join(parts) + b"}"


# ---- force and elastometer -------------------------------------------------

FORCE = [
    (re.compile(rb"\x02(.)\s+(\d+\.\d\d)[NM]\x03"), True),
    (re.compile(rb"(.)\s+(\d+\.\d\d)[NM]\x03\x02"), True),
    (re.compile(rb"(.)\s+(\d+)[NM].+"), False),
    (re.compile(rb"\x02(.)\s+(\d+)[NM]\x03"), False),
    (re.compile(rb"(.)\s+(\d+)[NM]\x03\x02"), False),
]
ELASTO_A = re.compile(rb"A=(\d+) .+$")
ELASTO_B = re.compile(rb".+ B=(\d+)$")


def parse_force(raw: bytes) -> float:
    for pattern, newtons in FORCE:
        m = pattern.match(raw)
        if m:
            v = float(m.group(2))
            if newtons:
                v = v * 1000.0 / 9.8084
            return v * -1 if m.group(1) == b"-" else v
    return NAN


def parse_elasto(raw: bytes):
    a = ELASTO_A.match(raw)
    b = ELASTO_B.match(raw)
    return float(a.group(1)) if a else NAN, float(b.group(1)) if b else NAN


# ---- CSV --------------------------------------------------------------------

def quote(text: bytes, sep: bytes) -> bytes:
    if any(c in text for c in (sep, b'"', b"\r", b"\n")):
        return b'"' + text.replace(b'"', b'""') + b'"'
    return text


def number(v: float, sep: bytes, dec: bytes) -> bytes:
    s = g16(v)
    if s == b"nan":
        return b""
    s = s.replace(b".", dec)
    return quote(s, sep)  # quoted only when it would not stay one field


def round3(v: float) -> float:
    return v if not math.isfinite(v) else float("%.3f" % v)


# ---- the driver -------------------------------------------------------------

def text_of(node) -> bytes:
    return node.encode("utf-8") if isinstance(node, str) else b""


def number_of(node) -> float:
    if isinstance(node, bool) or not isinstance(node, (int, float)):
        return 0.0
    return float(node)


def convert(document: bytes, sep: bytes, dec: bytes):
    lines = []
    created = False
    try:
        try:
            text = document.decode("utf-8")
            if text.startswith("\ufeff"):
                text = text[1:]
            doc = json.loads(text, parse_constant=lambda c: (_ for _ in ()).throw(ValueError(c)))
        except (UnicodeDecodeError, ValueError, RecursionError):
            raise Failure("JsonParseError", None)
        if not isinstance(doc, dict):
            raise Failure("ValueError", "the recording is not a JSON object")
        if "data" not in doc:
            raise Failure("KeyError", "key not found: data")
        data = doc["data"]
        if not isinstance(data, list):
            raise Failure("ValueError", '"data" is not a JSON array')

        def scan(name):
            for i, e in enumerate(data):
                if not isinstance(e, dict):
                    raise Failure("ValueError", "data[%d] is not a JSON object" % i)
                if name in e:
                    return True
            return False

        with2, with_elasto = scan("inclino2"), scan("dlen")
        cols = ["timestamp", "inclino1_raw", "inclino1_x", "inclino1_y"]
        if with2:
            cols += ["inclino2_raw", "inclino2_x", "inclino2_y"]
        if with_elasto:
            cols += ["elasto_raw", "elasto_raw_a", "elasto_raw_b", "elasto_a_um", "elasto_b_um"]
        cols += ["force_raw", "force_kg"]
        if sep is None or dec is None:
            raise Failure("FieldError", "field 'data' is not accessible for type 'RegData' using 'kind = REG_ERROR'")
        created = True
        lines.append(sep.join(c.encode() for c in cols) + b"\r\n")

        def sensor(i, e, name):
            if name not in e:
                return None
            s = e[name]
            if not isinstance(s, dict):
                raise Failure("ValueError", "data[%d].%s is not a JSON object" % (i, name))
            return s if "raw" in s else None

        def inclino(row, raw, prefix, first):
            kind = detect(raw)
            if kind == "text":
                row[prefix + "_raw"] = ("s", raw.replace(b"\r\n", b" "))
                x, y = parse_text(raw)
            elif kind == "dq7":
                fields, x, y = parse_dq7(raw)
                if first and not dict(fields)["CRC_OK"]:
                    return False
                row[prefix + "_raw"] = ("s", record_json(fields))
            else:
                fields, x, y = parse_rk(raw)
                if not dict(fields)["CRC_OK"]:
                    return False
                row[prefix + "_raw"] = ("s", record_json(fields))
            row[prefix + "_x"] = ("f", round3(x))
            row[prefix + "_y"] = ("f", round3(y))
            return True

        for i, e in enumerate(data):
            if not isinstance(e, dict):
                raise Failure("ValueError", "data[%d] is not a JSON object" % i)
            row = {}
            s = sensor(i, e, "inclino")
            if s is not None:
                if "timestamp" in s:
                    row["timestamp"] = ("s", text_of(s["timestamp"]))
                if not inclino(row, text_of(s["raw"]), "inclino1", True):
                    continue
            s = sensor(i, e, "inclino2")
            if s is not None and not inclino(row, text_of(s["raw"]), "inclino2", False):
                continue
            s = sensor(i, e, "force")
            if s is not None:
                raw = text_of(s["raw"])
                row["force_raw"] = ("s", raw.replace(b"N", b"").replace(b"M", b""))
                row["force_kg"] = ("f", parse_force(raw))
            s = sensor(i, e, "dlen")
            if s is not None:
                raw = text_of(s["raw"])
                row["elasto_raw"] = ("s", raw)
                a, b = parse_elasto(raw)
                row["elasto_raw_a"] = ("f", a)
                row["elasto_raw_b"] = ("f", b)
                for key, col in (("val1", "elasto_a_um"), ("val2", "elasto_b_um")):
                    if key not in s:
                        raise Failure("KeyError", "key not found: " + key)
                    row[col] = ("f", number_of(s[key]))
            fields = []
            for c in cols:
                kind, v = row.get(c, ("s", b""))
                fields.append(quote(v, sep) if kind == "s" else number(v, sep, dec))
            lines.append(sep.join(fields) + b"\r\n")
    except Failure as f:
        return (b"".join(lines) if created else None), (f.kind, f.message)
    return b"".join(lines), None


def main(argv):
    """reference.py LIST DECIMAL RECORDING OUT [RECORDING OUT ...]: for each
    recording, writes OUT with the CSV the model expects (no file when the
    program would create none) and, when the conversion fails, OUT.error
    with "Kind: message". One process shares the arcsines it computed."""
    if len(argv) < 5 or len(argv) % 2 == 0:
        print("usage: reference.py LIST DECIMAL RECORDING OUT [RECORDING OUT ...]", file=sys.stderr)
        return 2
    sep, dec = argv[1].encode(), argv[2].encode()
    for recording, out in zip(argv[3::2], argv[4::2]):
        with open(recording, "rb") as f:
            csv, error = convert(f.read(), sep, dec)
        if csv is not None:
            with open(out, "wb") as f:
                f.write(csv)
        if error is not None:
            with open(out + ".error", "wb") as f:
                f.write(error[0].encode() + b": " + error[1] + b"\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
