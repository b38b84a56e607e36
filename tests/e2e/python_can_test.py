#!/usr/bin/env python3
"""python-can, an independent reader, reads our TRC 1.1 traces back frame for frame.

Usage: python_can_test.py VELMARCH_BINARY

Writes a generated text log into a scratch folder, converts it with --trace-format version1,
reads the trace with can.TRCReader and compares every frame with what was generated:
identifier, extended flag, direction, length, data and time offset to 0.1 ms.
"""

import os
import random
import subprocess
import sys
import tempfile

try:
    import can
    from can.io.trc import TRCFileVersion
except ImportError as error:
    sys.exit(f"python-can is missing ({error}): scripts/setup.sh installs python3-can")

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


def generate(rng):
    """Frames as (ms since the day's midnight, extended, tx, id, data), time running forward
    and past midnight, where the logger's clock starts again from 00:00:00.000."""
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


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    frames = generate(random.Random(20241017))
    with tempfile.TemporaryDirectory(prefix="velmarch-python-can-") as scratch:
        with open(os.path.join(scratch, "work.txt"), "w", newline="\n") as log:
            log.write(HEADER)
            log.writelines(text_line(frame) for frame in frames)
        run = subprocess.run([binary, "--trace-format", "version1", "work.txt"], cwd=scratch,
                             capture_output=True, text=True, timeout=60)
        if run.returncode != 0 or run.stderr:
            sys.exit(f"velmarch ended with {run.returncode}: {run.stderr}")
        reader = can.TRCReader(os.path.join(scratch, "work.trc"))
        messages = list(reader)
        if reader.file_version != TRCFileVersion.V1_1:
            sys.exit(f"python-can read file version {reader.file_version}, not 1.1")

    errors = []
    if len(messages) != len(frames):
        errors.append(f"{len(messages)} frames read, {len(frames)} written")
    start = frames[0][0]
    for number, (message, frame) in enumerate(zip(messages, frames), 1):
        ms, extended, tx, ident, data = frame
        expected = {"id": ident, "extended": extended, "rx": not tx, "dlc": len(data),
                    "data": data}
        read = {"id": message.arbitration_id, "extended": message.is_extended_id,
                "rx": message.is_rx, "dlc": message.dlc, "data": bytes(message.data)}
        if read != expected:
            errors.append(f"frame {number}: read {read}, written {expected}")
        offset = (ms - start) / 1000
        if abs(message.timestamp - offset) > 0.00005 + 1e-9:
            errors.append(f"frame {number}: offset {message.timestamp} s, written {offset} s")
    if errors:
        print("\n".join(errors[:20]), file=sys.stderr)
        sys.exit(f"{len(errors)} mismatches")
    print(f"python-can {can.__version__} read all {len(frames)} frames as written")


if __name__ == "__main__":
    main()
