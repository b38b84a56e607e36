#!/usr/bin/env python3
"""Independent readers read our traces back frame for frame.

Usage: readers_test.py VELMARCH_BINARY FORMAT [--merge-splits]

Writes a generated text log into a scratch folder (both identifier sizes, both directions, 0 to
8 bytes, across midnight), converts it with --trace-format FORMAT and reads the trace with the
readers of that format that Debian has: python-can (TRCReader, ASCReader, CanutilsLogReader,
BLFReader), can-utils (asc2log, log2asc) and tshark. Every frame's identifier, extended flag,
direction (where the format keeps it), length, data and time must be as generated.
With --merge-splits the log is cut into three split files of one session, as a logger cuts a
recording, and converted with --merge-splits into one trace, which must read the same.
"""

import calendar
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

FRAMES = 5000
HEADER = """\
# Logger type: TarvikB
# HW rev: 3.2
# FW rev: 5.10
# Logger ID: 0000AB12
# Session No.: 1
# Split No.: 1
# Time: 20241017T110553
# Value separator: ";"
# Time format: 3
# Time separator: ":"
# Time separator ms: "."
# Date separator: "/"
# Time and date separator: "T"
# Bit-rate: 500000
# Silent mode: false
# Cyclic mode: false
Timestamp;Type;ID;Length;Data
"""
# The logger's wall clock, as the header's day and the records' time of day give it: readers
# that turn a stated local date into seconds do so with TZ=UTC here, so that both agree.
DAY = calendar.timegm((2024, 10, 17, 0, 0, 0))
EXTENSIONS = {"version1": ".trc", "version2r": ".trc", "asc": ".asc", "candump": ".log",
              "blf": ".blf", "pcapng": ".pcapng"}


def generate(rng):
    """Frames as (ms since the first day's midnight, extended, tx, id, data), time running
    forward and past midnight, where the logger's clock starts again from 00:00:00.000."""
    frames = []
    ms = (18 * 3600 + 30 * 60 + 53) * 1000 + 123
    for _ in range(FRAMES):
        extended = rng.random() < 0.4
        ident = rng.randrange(1 << 29) if extended else rng.randrange(1 << 11)
        if rng.random() < 0.05:
            ident = rng.choice([0, 0x7FF, 0x1FFFFFFF, 5]) & (0x1FFFFFFF if extended else 0x7FF)
        data = bytes(rng.randrange(256) for _ in range(rng.randrange(9)))
        frames.append((ms, extended, rng.random() < 0.3, ident, data))
        ms += rng.choice([0, 1, 2, 7, 10, 100, 999, 1000, 61000])
    return frames


def text_line(frame):
    ms, extended, tx, ident, data = frame
    clock = f"{ms // 3600000 % 24:02}:{ms // 60000 % 60:02}:{ms // 1000 % 60:02}.{ms % 1000:03}"
    kind = (1 if extended else 0) | (8 if tx else 0)
    return f"{clock};{kind};{ident:X};{len(data)};{data.hex().upper()}\n"


class Read:
    """One frame as a reader gave it; rx is None where the format keeps no direction."""

    def __init__(self, time, ident, extended, rx, data):
        self.time, self.ident, self.extended, self.rx, self.data = time, ident, extended, rx, data


def python_can(reader, direction=True):
    """direction: whether the format keeps it; python-can says Rx where it does not."""
    return [Read(m.timestamp, m.arbitration_id, m.is_extended_id, m.is_rx if direction else None,
                 bytes(m.data)) for m in reader]


def heuristic_can_protocols():
    """tshark hands CAN payloads to these first (AUTOSAR NM takes id 0): left out, the data
    stays the data."""
    out = subprocess.run(["tshark", "-G", "heuristic-decodes"], capture_output=True, text=True,
                         check=True).stdout
    return [row.split("\t")[1] for row in out.splitlines() if row.startswith("can\t")]


def candump_lines(text):
    """can-utils' log lines: (seconds) interface id#data."""
    frames = []
    for line in text.splitlines():
        match = re.fullmatch(r"\((\d+\.\d+)\) \S+ ([0-9A-F]+)#([0-9A-F]*)( [RT])?", line.strip())
        if not match:
            raise ValueError(f"not a log line: {line!r}")
        ident = match.group(2)
        rx = None if match.group(4) is None else match.group(4) == " R"
        frames.append(Read(float(match.group(1)), int(ident, 16), len(ident) == 8, rx,
                           bytes.fromhex(match.group(3))))
    return frames


def read_back(fmt, trace, scratch):
    """Every reader's frames, by reader name, and whether its times are absolute."""
    import can
    readers = {}
    if fmt == "version1" or fmt == "version2r":
        from can.io.trc import TRCFileVersion
        reader = can.TRCReader(trace)
        readers["python-can TRCReader"] = (python_can(reader), False, 0.00005 if fmt ==
                                          "version1" else 0.0000005)
        wanted = TRCFileVersion.V1_1 if fmt == "version1" else TRCFileVersion.V2_1
        if reader.file_version != wanted:
            raise ValueError(f"python-can read file version {reader.file_version}")
    elif fmt == "asc":
        readers["python-can ASCReader"] = (
            python_can(can.ASCReader(trace, relative_timestamp=False)), True, 0.0000005)
        log = subprocess.run(["asc2log", "-I", trace], capture_output=True, text=True,
                             check=True).stdout
        readers["can-utils asc2log"] = (candump_lines(log), False, 0.0000005)
    elif fmt == "candump":
        readers["python-can CanutilsLogReader"] = (
            python_can(can.CanutilsLogReader(trace), direction=False), True, 0.0000005)
        asc = os.path.join(scratch, "via_log2asc.asc")
        subprocess.run(["log2asc", "-I", trace, "-O", asc, "can0"], check=True)
        readers["can-utils log2asc, read by python-can"] = (
            python_can(can.ASCReader(asc), direction=False), False, 0.0000005)
    elif fmt == "blf":
        readers["python-can BLFReader"] = (python_can(can.BLFReader(trace)), True, 0.0000005)
    elif fmt == "pcapng":
        fields = ["frame.time_epoch", "can.id", "can.flags.xtd", "data.data",
                  "frame.packet_flags_direction"]
        command = ["tshark", "-r", trace, "-T", "fields", "-E", "separator=;"]
        for protocol in heuristic_can_protocols():
            command += ["--disable-protocol", protocol]
        for field in fields:
            command += ["-e", field]
        out = subprocess.run(command, capture_output=True, text=True, check=True,
                             stdin=subprocess.DEVNULL).stdout
        frames = []
        for line in out.splitlines():
            time, ident, xtd, data, direction = line.split(";")
            frames.append(Read(float(time), int(ident, 0), xtd in ("1", "True"),
                               int(direction, 0) == 1, bytes.fromhex(data.replace(":", ""))))
        readers["tshark"] = (frames, True, 0.0000005)
    return readers


def compare(name, read, frames, absolute, tolerance):
    errors = []
    if len(read) != len(frames):
        errors.append(f"{name}: {len(read)} frames read, {len(frames)} written")
    first = frames[0][0] / 1000
    origin = DAY if absolute else -first
    read_origin = 0.0 if absolute or not read else read[0].time
    for number, (got, frame) in enumerate(zip(read, frames), 1):
        ms, extended, tx, ident, data = frame
        expected = (ident, extended, data, not tx)
        seen = (got.ident, got.extended, got.data, (not tx) if got.rx is None else got.rx)
        if seen != expected:
            errors.append(f"{name}, frame {number}: read {seen}, written {expected}")
        want = origin + ms / 1000
        if abs(got.time - read_origin - want) > tolerance + 1e-9:
            errors.append(f"{name}, frame {number}: time {got.time - read_origin}, "
                          f"written {want}")
    return errors


def write_splits(scratch, frames, splits):
    """The log cut as a logger cuts it: each split's header tells the session, its number and
    the time its first frame was taken. Answers the folder."""
    card = os.path.join(scratch, "card")
    os.mkdir(card)
    size = (len(frames) + splits - 1) // splits
    for number in range(1, splits + 1):
        part = frames[(number - 1) * size:number * size]
        start = time.gmtime(DAY + part[0][0] // 1000)
        header = HEADER.replace("# Split No.: 1", f"# Split No.: {number}").replace(
            "# Time: 20241017T110553", time.strftime("# Time: %Y%m%dT%H%M%S", start))
        with open(os.path.join(card, f"{number:08}.txt"), "w", newline="\n") as log:
            log.write(header)
            log.writelines(text_line(frame) for frame in part)
    return card


def main():
    merge = sys.argv[3:] == ["--merge-splits"]
    if len(sys.argv) != (4 if merge else 3) or sys.argv[2] not in EXTENSIONS:
        sys.exit(__doc__)
    os.environ["TZ"] = "UTC"
    binary, fmt = os.path.abspath(sys.argv[1]), sys.argv[2]
    try:
        import can  # noqa: F401
    except ImportError as error:
        sys.exit(f"python-can is missing ({error}): scripts/setup.sh installs python3-can")
    for tool in {"asc": ["asc2log"], "candump": ["log2asc"], "pcapng": ["tshark"]}.get(fmt, []):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} is missing: scripts/setup.sh installs it")
    frames = generate(random.Random(20241017))
    with tempfile.TemporaryDirectory(prefix="velmarch-readers-") as scratch:
        if merge:
            write_splits(scratch, frames, 3)
            command, trace = ["-m", "card"], os.path.join("card_out", "00000001")
        else:
            with open(os.path.join(scratch, "work.txt"), "w", newline="\n") as log:
                log.write(HEADER)
                log.writelines(text_line(frame) for frame in frames)
            command, trace = ["work.txt"], "work"
        run = subprocess.run([binary, "--trace-format", fmt] + command, cwd=scratch,
                             capture_output=True, text=True, timeout=60)
        if run.returncode != 0 or run.stderr:
            sys.exit(f"velmarch ended with {run.returncode}: {run.stderr}")
        trace = os.path.join(scratch, trace + EXTENSIONS[fmt])
        readers = read_back(fmt, trace, scratch)
    errors = []
    for name, (read, absolute, tolerance) in readers.items():
        errors += compare(name, read, frames, absolute, tolerance)
    if errors:
        print("\n".join(errors[:20]), file=sys.stderr)
        sys.exit(f"{len(errors)} mismatches")
    import can
    print(f"{', '.join(readers)} (python-can {can.__version__}) read all {len(frames)} "
          f"frames of {fmt}{' merged from three splits' if merge else ''} as written")


if __name__ == "__main__":
    main()
