#!/usr/bin/env python3
"""Whole-process speed and memory on a large generated recording, against
what the machine needs to read the recording and write a file of the CSV's
size.

    bench_process.py BUILD_DIR [--megabytes 200]

Prints the conversion's time and peak memory and their ratios to the
baseline; the goal is at most 2x the time and 1.3x the recording's size.
"""

import argparse
import os
import resource
import subprocess
import tempfile
import time


def timed(argv, env=None):
    start = time.perf_counter()
    subprocess.run(argv, check=True, env=env, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--megabytes", type=int, default=200)
    args = ap.parse_args()
    program = os.path.join(args.build, "src", "tlqconverter")
    generator = os.path.join(args.build, "tools", "gen_recording")

    with tempfile.TemporaryDirectory() as work:
        recording = os.path.join(work, "big.tlq")
        entries = args.megabytes * 1_000_000 // 240  # about 240 bytes a sample
        subprocess.run([generator, "--entries", str(entries), recording], check=True)
        store = os.path.join(work, "store.reg")
        with open(store, "w") as f:
            f.write('[HKEY_CURRENT_USER\\Control Panel\\International]\n"sList"=";"\n"sDecimal"=","\n')
        env = dict(os.environ, TLQCONVERTER_REGISTRY=store, TMP=work, PATH="/usr/bin:/bin", DISPLAY="")
        size = os.path.getsize(recording)

        timed(["cat", recording])  # warm the page cache
        convert = min(timed([program, recording], env) for _ in range(3))
        peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
        csv = os.path.join(work, "big.csv")
        csv_size = os.path.getsize(csv)
        copy = os.path.join(work, "copy.bin")
        read = min(timed(["sh", "-c", 'cat "$0" > /dev/null', recording]) for _ in range(3))
        write = min(timed(["dd", "if=/dev/zero", "of=" + copy, "bs=1M", "count=%d" % (csv_size >> 20),
                           "status=none"]) for _ in range(3))
        baseline = read + write
        print("recording %.0f MB (%d samples), CSV %.0f MB" % (size / 1e6, entries, csv_size / 1e6))
        print("read %.3f s + write %.3f s = baseline %.3f s" % (read, write, baseline))
        print("conversion %.3f s = %.2f x baseline (goal <= 2)" % (convert, convert / baseline))
        print("peak memory %.0f MB = %.2f x recording (goal <= 1.3)" % (peak / 1e6, peak / size))


if __name__ == "__main__":
    main()
