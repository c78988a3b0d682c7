#!/usr/bin/env python3
"""The bundled sample's expected tables, against the reference model: the
tables the program's own tests compare with must be right in themselves."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference  # noqa: E402

examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
document = open(os.path.join(examples, "sample.tlq"), "rb").read()
passed = failed = 0
for sep, dec, table in ((b";", b",", "sample.expected-semicolon-comma.csv"),
                        (b",", b".", "sample.expected-comma-point.csv")):
    csv, error = reference.convert(document, sep, dec)
    if error is None and csv == open(os.path.join(examples, table), "rb").read():
        passed += 1
    else:
        failed += 1
        print("%s differs from the model (%r)" % (table, error))
print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
