#!/usr/bin/env python3
"""Whole-process speed and memory of the converter on generated recordings,
side by side with the machine's own floor and with what a user might run
instead.

    bench_process.py BUILD_DIR [--sizes 1,20,200,1000] [--runs 3] [--work DIR]
                     [--no-alternatives] [--no-batch] [--batch-only]
                     [--no-workbooks] [--workbooks-only] [--no-quality] [--quality-only]
                     [--baseline BUILD_DIR] [--wine WINDOWS_BUILD_DIR]

For each size a realistic recording is generated (every sensor and payload
form, a few CRC failures), then, round after round, the floor and the
converter run one after the other:

  floor      cat REC >/dev/null; head -c SIZE /dev/zero >OUT
             (SIZE: the CSV's size; OUT on the same file system)
  converter  tlqconverter REC, its opener stubbed out
  reading    (200 MB only) read_write_only: the recording mapped, validated
             and read entry by entry as the converter does, on as many
             threads, and a line of the CSV's average size written for each
             entry: a conversion without its decoding

Both write a new file (OUT and the CSV are removed before each run):
truncating a large file that is there already costs time of its own.

and the medians are printed with MB/s (of the recording) and peak resident
memory (/usr/bin/time -v). On the 20 MB recording the same is measured for
jq flattening each entry's members to CSV without decoding anything, and for
the project's Python model of the conversion. The sample's start-to-exit
time is the median of 50 runs. The last line is the 200 MB ratio, and that
of the conversion without its decoding.

Then the batch: 1,000 realistic recordings of about 150 KB each in a folder,
and one recording of the same total size, both converted by --batch into a
new out folder, round after round: median times, their ratio and peak
memory. Then the folder's batch with standard error on a pseudo-terminal (the
progress line drawn) beside the same without one, and the folder's batch
once more over the tables it wrote (each replaced). Then 10,000 tiny
recordings in one folder whose tables an earlier run split into parts that
are now stale (listed, kept) against the same folder without stale parts.

Then what measuring the data's quality costs: the CSV conversion of a
200 MB recording beside --check of it and, with --baseline, beside another
build's CSV conversion (the code before the measurement), round after
round, the order turning: medians of wall and processor time, their
ratios.

Then workbooks (20 and 200 MB): --xlsx beside xlsx_floor, the library alone
writing the same cells (the time it reports for the writing; the cells are
read into memory before), and beside the CSV conversion: medians, ratios,
peak memory.

With --wine, the Windows build's console program (tlqconverter.com) runs
under wine beside the Linux program, round after round, both through --batch
(which opens nothing): the 200 MB recording on one thread and on two, and the
batch of the 1,000 recordings and of the one of the same size; then (unless
--no-workbooks or --batch-only; alone with --workbooks-only) --xlsx of the
20 and 200 MB recordings.
"""

import argparse
import glob
import os
import platform
import pty
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BYTES_PER_ENTRY = 240  # what the generator writes, about


def run(argv, env=None):
    """Wall time in seconds and peak resident memory in bytes."""
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-v"] + argv, env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, check=False)
    wall = time.perf_counter() - start
    text = done.stderr.decode(errors="replace")
    if done.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(argv), text))
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1)) * 1024
    return wall, peak


def temporary_space(argv, env, folder):
    """The most room the run's files below `folder` took at once (those it
    holds open, removed or not, and those it left), in bytes, sampled every
    10 ms: what a conversion needs beside its recording."""
    child = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    most = 0
    folder = os.path.realpath(folder)
    while child.poll() is None:
        used = 0
        try:
            for fd in os.listdir("/proc/%d/fd" % child.pid):
                try:
                    target = os.readlink("/proc/%d/fd/%s" % (child.pid, fd))
                    if target.startswith(folder) and not target.endswith(".tlq"):
                        used += os.stat("/proc/%d/fd/%s" % (child.pid, fd)).st_size
                except OSError:
                    pass
        except OSError:
            pass
        most = max(most, used)
        time.sleep(0.01)
    return most


def timed(argv, env, stderr, exit_codes=(0,)):
    """Wall time and processor time (user and system) of a run."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=stderr)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode not in exit_codes:
        sys.exit("failed: %s" % " ".join(argv))
    return wall, usage.ru_utime + usage.ru_stime


def run_on_terminal(argv, env):
    """Wall and processor time of a run whose standard error is a
    pseudo-terminal."""
    master, slave = pty.openpty()
    drained = []
    reader = threading.Thread(target=lambda: drain(master, drained))
    reader.start()
    result = timed(argv, env, slave)
    os.close(slave)
    reader.join()
    os.close(master)
    if b"recordings, " not in b"".join(drained):
        sys.exit("no progress line on the terminal")
    return result


def drain(fd, into):
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            return
        if not chunk:
            return
        into.append(chunk)


def batch(program, generator, work, env, runs):
    """1,000 recordings of about 150 KB against one of the same total size."""
    folder = os.path.join(work, "many")
    os.mkdir(folder)
    entries = 150_000 // BYTES_PER_ENTRY
    for i in range(1000):
        subprocess.run([generator, "--entries", str(entries), "--seed", str(1000 + i),
                        os.path.join(folder, "r%04d.tlq" % i)], check=True)
    one = os.path.join(work, "one.tlq")
    subprocess.run([generator, "--entries", str(entries * 1000), "--seed", "7", one], check=True)
    size = sum(os.path.getsize(f) for f in glob.glob(os.path.join(folder, "*.tlq")))

    # Each run writes into an out folder of its own, made new, and the tables
    # stay until the end: files removed in the seconds before a run would
    # measure the file system instead (ext4 scans past the inodes freed in
    # the last seconds when it makes a file: about a millisecond a file
    # here). A re-run over the tables already there is measured apart.
    outs = iter(range(10**6))

    def fresh():
        return os.path.join(work, "out%d" % next(outs))

    def batch_into(sources, how, *extra):
        return how([program, "--batch", "--out", fresh(), *sources], *extra)

    subprocess.run([program, "--batch", "--out", fresh(), folder], env=env, stdout=subprocess.DEVNULL, check=True)
    subprocess.run([program, "--batch", "--out", fresh(), one], env=env, stdout=subprocess.DEVNULL, check=True)
    many, single, terminal, plain, again, update = [], [], [], [], [], []
    many_peak = single_peak = 0
    for _ in range(runs):
        wall, peak = batch_into([folder], run, env)
        many.append(wall)
        many_peak = max(many_peak, peak)
        wall, peak = batch_into([one], run, env)
        single.append(wall)
        single_peak = max(single_peak, peak)
    # The progress line, drawn on a terminal and not: a small difference
    # within the machine's noise, so more runs, and the processor time the
    # converter took beside the wall time.
    for r in range(3 * runs):
        first, second = (terminal, plain) if r % 2 == 0 else (plain, terminal)
        for into in (first, second):
            how = run_on_terminal if into is terminal else lambda a, e: timed(a, e, subprocess.DEVNULL)
            into.append(batch_into([folder], how, env))
    replaced = os.path.join(work, "replaced")
    subprocess.run([program, "--batch", "--out", replaced, folder], env=env, stdout=subprocess.DEVNULL, check=True)
    for _ in range(runs):  # every table there already, and replaced; then kept as up to date
        again.append(run([program, "--batch", "--out", replaced, folder], env)[0])
        update.append(run([program, "--batch", "--update", "--out", replaced, folder], env)[0])
    for out in glob.glob(os.path.join(work, "out*")) + [replaced]:
        shutil.rmtree(out)
    row("batch 1000 x 150 KB", size, many, many_peak)
    row("batch 1 x %d MB" % round(os.path.getsize(one) / 1e6), os.path.getsize(one), single, single_peak)
    row("batch, on a terminal", size, [w for w, _ in terminal], many_peak)
    row("batch, the same without", size, [w for w, _ in plain], many_peak)
    row("batch, tables replaced", size, again, many_peak)
    row("batch --update, all up to date", size, update, many_peak)
    m, o = statistics.median(many), statistics.median(single)
    t, p = statistics.median(w for w, _ in terminal), statistics.median(w for w, _ in plain)
    tc, pc = statistics.median(c for _, c in terminal), statistics.median(c for _, c in plain)
    print("batch: 1000 recordings %.3f s, one of the same size %.3f s, ratio %.2f; peak memory ratio %.2f; "
          "progress line on a terminal %+.1f%% wall, %+.1f%% processor time; "
          "--update over converted tables %.1f%% of their conversion"
          % (m, o, m / o, many_peak / single_peak, (t / p - 1) * 100, (tc / pc - 1) * 100,
             statistics.median(update) / m * 100))


def merge_figures(program, generator, work, env, runs):
    """--merge against --batch into CSV of the same recordings, in paired
    runs: 1,000 recordings of 150 KB and 20 of 10 MB, as a campaign and all
    of the same hours; and the merge's peak
    memory against its largest recording."""
    results = []
    # A campaign: downloads one after another, each holding the previous
    # one's last 100 entries again; and recordings all of the same hours,
    # none letting another's lines go.
    for name, count, kb, campaign in (("1000 x 150 KB", 1000, 150, True), ("20 x 10 MB", 20, 10_000, True),
                                      ("1000 x 150 KB, overlapping", 1000, 150, False),
                                      ("20 x 10 MB, overlapping", 20, 10_000, False)):
        folder = os.path.join(work, "campaign%d" % count)
        os.mkdir(folder)
        entries = kb * 1000 // BYTES_PER_ENTRY
        for i in range(count):
            shape = ["--seed", "3000", "--start", str(i * (entries - 100))] if campaign else ["--seed", str(3000 + i)]
            subprocess.run([generator, "--entries", str(entries)] + shape + [os.path.join(folder, "r%04d.tlq" % i)],
                           check=True)
        files = glob.glob(os.path.join(folder, "*.tlq"))
        size = sum(os.path.getsize(f) for f in files)
        largest = max(os.path.getsize(f) for f in files)
        outs = iter(range(10**6))

        def fresh():
            return os.path.join(work, "mout%d" % next(outs))

        def batch_run():
            return run([program, "--batch", "--out", fresh(), folder], env)

        def merge_run():
            out = fresh()
            os.mkdir(out)
            return run([program, "--merge", os.path.join(out, "campaign.csv"), folder], env)

        batch_run(), merge_run()  # the cache warmed for both
        batches, merges, batch_peak, merge_peak = [], [], 0, 0
        for r in range(runs):  # paired, the first of each pair alternating
            for how in ((batch_run, merge_run) if r % 2 == 0 else (merge_run, batch_run)):
                wall, peak = how()
                if how is batch_run:
                    batches.append(wall)
                    batch_peak = max(batch_peak, peak)
                else:
                    merges.append(wall)
                    merge_peak = max(merge_peak, peak)
        for out in glob.glob(os.path.join(work, "mout*")):
            shutil.rmtree(out)
        shutil.rmtree(folder)
        row("batch " + name, size, batches, batch_peak)
        row("merge " + name, size, merges, merge_peak)
        results.append("%s: merge %.3f s, batch %.3f s, ratio %.2f; merge peak %.1f MB, %.2f x the largest "
                       "recording (%.1f MB) + 64 MB allows %.1f MB"
                       % (name, statistics.median(merges), statistics.median(batches),
                          statistics.median(merges) / statistics.median(batches), merge_peak / 1e6,
                          1.3, largest / 1e6, (1.3 * largest + 64e6) / 1e6))
    for line in results:
        print(line)


def quality_figures(program, generator, work, env, runs, baseline=None):
    """What measuring the data's quality costs: the CSV conversion of a
    200 MB recording beside, with `baseline`, another build's (the code
    before the measurement), and --check of it, which writes nothing; round
    after round, the order turning each round; medians of wall and
    processor time."""
    recording = os.path.join(work, "quality.tlq")
    subprocess.run([generator, "--entries", str(200 * 1_000_000 // BYTES_PER_ENTRY), recording], check=True)
    csv = recording[:-3] + "csv"
    size = os.path.getsize(recording)

    def convert(which):
        def go():
            if os.path.exists(csv):
                os.remove(csv)  # each writes a new file
            return timed([which, recording], env, subprocess.DEVNULL)
        return go

    # A recording with findings (the generator fails a few CRCs): exit 1.
    def check():
        return timed([program, "--check", recording], env, subprocess.DEVNULL, exit_codes=(1,))

    runners = [("CSV", convert(program)), ("--check", check)]
    if baseline:
        runners.insert(0, ("baseline CSV", convert(baseline)))
    for _, go in runners:
        go()  # the cache warmed for all
    figures = {name: ([], []) for name, _ in runners}
    for r in range(runs):
        turn = r % len(runners)
        for name, go in runners[turn:] + runners[:turn]:
            wall, cpu = go()
            figures[name][0].append(wall)
            figures[name][1].append(cpu)
    os.remove(recording)
    if os.path.exists(csv):
        os.remove(csv)
    wall = {name: statistics.median(w) for name, (w, _) in figures.items()}
    cpu = {name: statistics.median(c) for name, (_, c) in figures.items()}
    for name, _ in runners:
        print("%-22s %8.3f %9.3f %8.1f   (%.3f s processor time)"
              % (name + " 200 MB", size / 1e6, wall[name], size / 1e6 / wall[name], cpu[name]))
    if baseline:
        print("quality: CSV %.3f times the baseline's (processor time %.3f), %d rounds"
              % (wall["CSV"] / wall["baseline CSV"], cpu["CSV"] / cpu["baseline CSV"], runs))
    print("quality: --check %.2f of the CSV conversion (processor time %.2f), %d rounds"
          % (wall["--check"] / wall["CSV"], cpu["--check"] / cpu["CSV"], runs))


def stale_parts(program, generator, work, env, runs):
    """10,000 small recordings in one folder whose tables an earlier run split
    (their parts now stale, listed and kept) against the same folder with
    whole tables: the stale parts are found with one listing of the folder."""
    stale, plain = os.path.join(work, "stale"), os.path.join(work, "plain")
    os.mkdir(stale)
    one = os.path.join(work, "tiny.tlq")
    subprocess.run([generator, "--entries", "6", "--seed", "5", one], check=True)
    for i in range(10_000):
        shutil.copyfile(one, os.path.join(stale, "r%05d.tlq" % i))
    shutil.copytree(stale, plain)
    subprocess.run([program, "--batch", "--split-rows", "2", stale], env=env, stdout=subprocess.DEVNULL, check=True)
    subprocess.run([program, "--batch", plain], env=env, stdout=subprocess.DEVNULL, check=True)
    with_stale, without, peak = [], [], 0
    for r in range(runs):  # a run lists the stale parts and removes none: the same again
        for into, folder in ((with_stale, stale), (without, plain)) if r % 2 == 0 else ((without, plain), (with_stale, stale)):
            wall, p = run([program, "--batch", folder], env)
            into.append(wall)
            peak = max(peak, p)
    size = 10_000 * os.path.getsize(one)
    row("batch 10000 tiny, stale parts listed", size, with_stale, peak)
    row("batch 10000 tiny, none stale", size, without, peak)
    print("batch: 10000 recordings with stale parts %.3f s, without %.3f s, ratio %.2f"
          % (statistics.median(with_stale), statistics.median(without),
             statistics.median(with_stale) / statistics.median(without)))
    shutil.rmtree(stale)
    shutil.rmtree(plain)


def wine_figures(program, windows_build, work, env, runs, sizes, tables=True, workbooks=True):
    """The Windows program under wine beside the Linux one: the CSV
    (`tables`) and --xlsx (`workbooks`)."""
    wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
    com = os.path.abspath(os.path.join(windows_build, "src", "tlqconverter.com"))
    wenv = dict(env, WINEPREFIX=os.path.join(work, "wine"), WINEDEBUG="-all", LC_ALL="C.UTF-8",
                WINEDLLOVERRIDES="mscoree,mshtml=")
    wineserver = os.path.join(os.path.dirname(os.path.realpath(wine)), "wineserver")
    quiet = dict(env=wenv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The prefix made and settled (its first start keeps programs busy for a
    # while), then a server that stays between the runs.
    subprocess.run([wine, "wineboot", "-i"], check=True, **quiet)
    subprocess.run([wineserver, "-w"], **quiet)
    subprocess.run([wineserver, "-p"], **quiet)
    subprocess.run([wine, "wineboot"], **quiet)
    # A program that waits keeps wine's desktop up between the runs: else
    # each run would start it anew (a second of work beside the conversion).
    keeper = subprocess.Popen([wine, "cmd"], env=wenv, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    for name, value in (("sList", ";"), ("sDecimal", ",")):
        subprocess.run([wine, "reg", "add", "HKCU\\Control Panel\\International", "/v", name, "/t", "REG_SZ", "/d",
                        value, "/f"], check=True, **quiet)
    generator = os.path.abspath(os.path.join(os.path.dirname(program), "..", "tools", "gen_recording"))
    if tables and 200 in sizes:
        recording = os.path.join(work, "w200.tlq")
        subprocess.run([generator, "--entries", str(200 * 1_000_000 // BYTES_PER_ENTRY), recording], check=True)
        csv = recording[:-3] + "csv"
        cases = [("linux", program, env), ("windows", com, wenv)]
        walls = {(who, t): [] for who, _, _ in cases for t in (1, 2)}
        # Each run starts with nothing left to write back (the one before
        # wrote 300 MB), and the two programs take turns at going first.
        for r in range(runs):
            for t in (1, 2):
                for who, exe, e in cases[::1 if r % 2 == 0 else -1]:
                    if os.path.exists(csv):
                        os.remove(csv)
                    os.sync()
                    # Through --batch, which opens nothing: under wine, handing the table to
                    # the desktop takes about a second of its own.
                    argv = ([exe] if who == "linux" else [wine, exe]) + ["--batch", recording]
                    walls[(who, t)].append(run(argv, dict(e, TLQCONVERTER_THREADS=str(t)))[0])
        os.remove(recording)
        med = {k: statistics.median(v) for k, v in walls.items()}
        for t in (1, 2):
            print("200 MB, %d thread%s: Linux %.3f s, Windows under wine %.3f s (%.2f times)"
                  % (t, "" if t == 1 else "s", med[("linux", t)], med[("windows", t)],
                     med[("windows", t)] / med[("linux", t)]))
        print("200 MB, the second core's gain: Linux %.2f times, Windows under wine %.2f times"
              % (med[("linux", 1)] / med[("linux", 2)], med[("windows", 1)] / med[("windows", 2)]), flush=True)
    folder, one = os.path.join(work, "many"), os.path.join(work, "one.tlq")
    if tables and os.path.isdir(folder):
        outs = iter(range(10**6))
        walls = {}
        for r in range(runs):
            for what, source in (("1000 x 150 KB", folder), ("one of 150 MB", one)):
                for who in ("linux", "windows")[::1 if r % 2 == 0 else -1]:
                    out = os.path.join(work, "wout%d" % next(outs))
                    os.sync()
                    argv = ([program] if who == "linux" else [wine, com]) + ["--batch", "--out", out, source]
                    walls.setdefault((who, what), []).append(run(argv, env if who == "linux" else wenv)[0])
        for out in glob.glob(os.path.join(work, "wout*")):
            shutil.rmtree(out)
        med = {k: statistics.median(v) for k, v in walls.items()}
        for who in ("linux", "windows"):
            print("batch, %s: 1000 x 150 KB %.3f s, one of 150 MB %.3f s, ratio %.2f"
                  % ("Linux" if who == "linux" else "Windows under wine", med[(who, "1000 x 150 KB")],
                     med[(who, "one of 150 MB")], med[(who, "1000 x 150 KB")] / med[(who, "one of 150 MB")]))
    if workbooks:
        # --xlsx through --batch too, the same recording for both, the two
        # programs taking turns at going first.
        for mb in (20, 200):
            recording = os.path.join(work, "x%d.tlq" % mb)
            subprocess.run([generator, "--entries", str(mb * 1_000_000 // BYTES_PER_ENTRY), recording], check=True)
            xlsx = recording[:-3] + "xlsx"
            cases = [("linux", [program], env), ("windows", [wine, com], wenv)]
            walls = {"linux": [], "windows": []}
            for r in range(runs):
                for who, exe, e in cases[::1 if r % 2 == 0 else -1]:
                    if os.path.exists(xlsx):
                        os.remove(xlsx)
                    os.sync()
                    walls[who].append(run(exe + ["--batch", "--xlsx", recording], e)[0])
            size = os.path.getsize(xlsx)
            os.remove(xlsx)
            os.remove(recording)
            lin, win = statistics.median(walls["linux"]), statistics.median(walls["windows"])
            print("%d MB --xlsx (workbook %.1f MB): Linux %.3f s, Windows under wine %.3f s (%.2f times); "
                  "round by round %s" % (mb, size / 1e6, lin, win, win / lin,
                                         " ".join("%.2f" % (w / l) for w, l in zip(walls["windows"], walls["linux"]))),
                  flush=True)
    keeper.stdin.close()
    keeper.wait()
    subprocess.run([wineserver, "-k"], **quiet)


def workbook_figures(program, generator, floor_tool, work, env, runs, sizes, baseline=None):
    """--xlsx beside the library alone writing the same cells (its own
    timing of the writing, the cells read into memory before), beside the
    CSV conversion and, with `baseline` (another build's program), beside
    that, round after round; then the temporary space one conversion took
    and the workbook's size."""
    print("workbooks: --xlsx against libxlsxwriter alone writing the same cells, and against the CSV conversion")
    print("%-22s %8s %9s %8s %8s %6s %8s %6s" % ("what", "MB", "median s", "MB/s", "peak MB", "x rec",
                                                "floor s", "ratio"))
    for mb in sizes:
        recording = os.path.join(work, "w%d.tlq" % mb)
        subprocess.run([generator, "--entries", str(mb * 1_000_000 // BYTES_PER_ENTRY), recording], check=True)
        size = os.path.getsize(recording)
        xlsx, csv, floor_out = recording[:-3] + "xlsx", recording[:-3] + "csv", os.path.join(work, "floor.xlsx")
        floors, walls, csv_walls, base_walls, peak, csv_peak, base_peak = [], [], [], [], 0, 0, 0
        for _ in range(runs):
            done = subprocess.run([floor_tool, recording, floor_out], env=env, check=True, capture_output=True)
            floors.append(float(done.stdout))
            os.remove(floor_out)
            wall, p = run([program, "--xlsx", recording], env)
            walls.append(wall)
            peak = max(peak, p)
            os.remove(xlsx)
            if baseline:
                wall, p = run([baseline, "--xlsx", recording], env)
                base_walls.append(wall)
                base_peak = max(base_peak, p)
                os.remove(xlsx)
            wall, p = run([program, recording], env)
            csv_walls.append(wall)
            csv_peak = max(csv_peak, p)
            os.remove(csv)
        floor = statistics.median(floors)
        wall = row("--xlsx %d MB" % mb, size, walls, peak, floor)
        csv_wall = row("csv %d MB" % mb, size, csv_walls, csv_peak)
        print("%d MB: --xlsx %.2f times the library alone, %.1f times the CSV conversion; peak memory %.0f MB "
              "(CSV %.0f MB)" % (mb, wall / floor, wall / csv_wall, peak / 1e6, csv_peak / 1e6), flush=True)
        print("%d MB, round by round, --xlsx / the library alone: %s" % (
            mb, " ".join("%.2f" % (w / f) for w, f in zip(walls, floors))), flush=True)
        if baseline:
            base_wall = row("baseline --xlsx %d MB" % mb, size, base_walls, base_peak)
            print("%d MB: --xlsx %.2f times the baseline's (round by round: %s)" % (
                mb, wall / base_wall, " ".join("%.2f" % (w / b) for w, b in zip(walls, base_walls))), flush=True)
        space = temporary_space([program, "--xlsx", recording], env, work)
        print("%d MB: temporary space %.0f MB (%.1f times the recording), workbook %.0f MB (%.2f times)" % (
            mb, space / 1e6, space / size, os.path.getsize(xlsx) / 1e6, os.path.getsize(xlsx) / size), flush=True)
        os.remove(xlsx)
        os.remove(recording)


def machine():
    cpu = "?"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    mem = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return "%s, %d cores, %.0f GiB, Linux %s" % (cpu, os.cpu_count(), mem, platform.release())


def row(name, size, walls, peak, floor=None):
    wall = statistics.median(walls)
    cells = ["%-22s" % name, "%8.1f" % (size / 1e6), "%9.3f" % wall, "%8.0f" % (size / 1e6 / wall),
             "%8.0f" % (peak / 1e6), "%6.2f" % (peak / size)]
    if floor is not None:
        cells += ["%8.3f" % floor, "%6.2f" % (wall / floor)]
    print(" ".join(cells), flush=True)
    return wall


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--sizes", default="1,20,200,1000", help="recording sizes in MB")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--work", help="folder for the recordings (default: a temporary one)")
    ap.add_argument("--no-alternatives", action="store_true", help="skip jq and the Python model")
    ap.add_argument("--no-batch", action="store_true", help="skip the batch")
    ap.add_argument("--batch-only", action="store_true", help="only the batch")
    ap.add_argument("--wine", metavar="WINDOWS_BUILD_DIR", help="the Windows build under wine, side by side")
    ap.add_argument("--no-merge", action="store_true", help="skip the merge")
    ap.add_argument("--merge-only", action="store_true", help="only the merge against the batch")
    ap.add_argument("--no-workbooks", action="store_true", help="skip the workbooks")
    ap.add_argument("--workbooks-only", action="store_true", help="only the workbooks")
    ap.add_argument("--no-quality", action="store_true", help="skip the quality measurement's cost")
    ap.add_argument("--quality-only", action="store_true", help="only the quality measurement's cost")
    ap.add_argument("--baseline", metavar="BUILD_DIR",
                    help="another build's CSV conversion (the quality's cost) and workbooks, side by side")
    args = ap.parse_args()
    if args.batch_only or args.workbooks_only or args.merge_only or args.quality_only:
        args.sizes = ""
    if args.merge_only or args.quality_only:
        args.no_batch = args.no_workbooks = True
    if args.quality_only:
        args.no_merge = True
    if args.batch_only or args.workbooks_only or args.merge_only:
        args.no_quality = True
    if args.workbooks_only:
        args.no_batch = True
    program = os.path.abspath(os.path.join(args.build, "src", "tlqconverter"))
    generator = os.path.abspath(os.path.join(args.build, "tools", "gen_recording"))
    reader = os.path.abspath(os.path.join(args.build, "tools", "read_write_only"))
    sizes = [int(s) for s in args.sizes.split(",") if s]

    with tempfile.TemporaryDirectory(dir=args.work) as work:
        # The opener is stubbed out; separators from a store of our own.
        stub = os.path.join(work, "bin")
        os.mkdir(stub)
        for name in ("xdg-open", "open"):
            with open(os.path.join(stub, name), "w") as f:
                f.write("#!/bin/sh\nexit 0\n")
            os.chmod(os.path.join(stub, name), 0o755)
        store = os.path.join(work, "store.reg")
        with open(store, "w") as f:
            f.write('[HKEY_CURRENT_USER\\Control Panel\\International]\n"sList"=";"\n"sDecimal"=","\n')
        env = dict(os.environ, TLQCONVERTER_REGISTRY=store, TMPDIR=work, PATH=stub + ":/usr/bin:/bin")
        env.pop("DISPLAY", None)

        print("machine: " + machine())
        print("%-22s %8s %9s %8s %8s %6s %8s %6s" % ("what", "MB", "median s", "MB/s", "peak MB", "x rec",
                                                    "floor s", "ratio"))
        if sizes:
            sample = os.path.join(work, "sample.tlq")
            shutil.copy(os.path.join(HERE, "..", "examples", "sample.tlq"), sample)
            walls = []
            for _ in range(50):
                start = time.perf_counter()
                subprocess.run([program, sample], env=env, check=True)
                walls.append(time.perf_counter() - start)
            print("%-22s %8.3f %9.4f   (start to exit, median of 50)" % ("sample", os.path.getsize(sample) / 1e6,
                                                                         statistics.median(walls)), flush=True)

        ratios = {}
        for mb in sizes:
            recording = os.path.join(work, "r%d.tlq" % mb)
            subprocess.run([generator, "--entries", str(mb * 1_000_000 // BYTES_PER_ENTRY), recording], check=True)
            size = os.path.getsize(recording)
            csv = recording[:-3] + "csv"
            subprocess.run([program, recording], env=env, check=True)  # the CSV's size; warms the cache
            csv_size = os.path.getsize(csv)
            floor_out = os.path.join(work, "floor.out")
            floor_cmd = ["sh", "-c", 'cat "$0" >/dev/null; head -c "$1" /dev/zero >"$2"', recording,
                         str(csv_size), floor_out]
            reading_cmd = None
            if mb == 200:
                with open(csv, "rb") as f:
                    lines = sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(1 << 20), b""))
                reading_cmd = [reader, "--line-bytes", str(round(csv_size / lines)), recording, floor_out]
            floors, walls, readings, peak, reading_peak = [], [], [], 0, 0
            for _ in range(args.runs):  # side by side, round after round; all write a new file
                floors.append(run(floor_cmd)[0])
                os.remove(floor_out)
                os.remove(csv)
                wall, p = run([program, recording], env)
                walls.append(wall)
                peak = max(peak, p)
                if reading_cmd:
                    took, p = run(reading_cmd)
                    os.remove(floor_out)
                    readings.append(took)
                    reading_peak = max(reading_peak, p)
            floor = statistics.median(floors)
            wall = row("tlqconverter %d MB" % mb, size, walls, peak, floor)
            ratios[mb] = (wall, floor)
            if readings:
                ratios["reading"] = row("no decoding %d MB" % mb, size, readings, reading_peak, floor)

            if mb == 20 and not args.no_alternatives:
                out = os.path.join(work, "alt.csv")
                jq = ["sh", "-c", 'jq -r \'.data[] | [.inclino.timestamp, .inclino.raw, .inclino2.raw, '
                      '.force.raw, .dlen.raw, .dlen.val1, .dlen.val2] | @csv\' "$0" >"$1"', recording, out]
                model = [sys.executable, os.path.join(HERE, "reference", "reference.py"), ";", ",", recording, out]
                for name, argv in (("jq flattening 20 MB", jq), ("python model 20 MB", model)):
                    if shutil.which("jq") is None and argv is jq:
                        print("%-22s (jq is not installed)" % name)
                        continue
                    results = [run(argv) for _ in range(args.runs)]
                    alt = row(name, size, [r[0] for r in results], max(r[1] for r in results), floor)
                    print("%-22s %.1f times the converter's time" % ("", alt / wall), flush=True)
            os.remove(recording)
            os.remove(csv)

        if 200 in ratios:
            wall, floor = ratios[200]
            print("200 MB: converter %.3f s, floor %.3f s, ratio %.2f (without decoding %.2f)"
                  % (wall, floor, wall / floor, ratios["reading"] / floor))
        baseline = os.path.abspath(os.path.join(args.baseline, "src", "tlqconverter")) if args.baseline else None
        if not args.no_batch:
            batch(program, generator, work, env, max(args.runs, 5))
            stale_parts(program, generator, work, env, max(args.runs, 5))
        if not args.no_merge and not args.batch_only and not args.workbooks_only:
            merge_figures(program, generator, work, env, max(args.runs, 5))
        if not args.no_quality:
            quality_figures(program, generator, work, env, max(args.runs, 9), baseline)
        if not args.no_workbooks and not args.batch_only:
            floor_tool = os.path.abspath(os.path.join(args.build, "tools", "xlsx_floor"))
            workbook_figures(program, generator, floor_tool, work, env, args.runs, [20, 200], baseline)
        if args.wine:
            wine_figures(program, args.wine, work, env, max(args.runs, 3), sizes or [200],
                         tables=not args.workbooks_only, workbooks=not args.no_workbooks and not args.batch_only)


if __name__ == "__main__":
    main()
