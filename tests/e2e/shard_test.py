#!/usr/bin/env python3
"""A fleet sharded by card with GNU parallel, as doc/SCALING.md shows it, gives exactly the tree
of one run over every card, and one report per shard whose lines and sums are that run's.

Usage: shard_test.py VELMARCH_BINARY
"""

import filecmp
import json
import os
import shutil
import subprocess
import sys
import tempfile

HEADER = """\
# Logger ID: {logger}
# Session No.: {session}
# Split No.: {split}
# Time: 20241017T110553
# Value separator: ";"
# Time format: 3
# Time separator: ":"
# Time separator ms: "."
Timestamp;Type;ID;Length;Data
"""
CARDS = 8
SUMMED = ("inputs", "converted", "repeat", "passed_over", "failed", "interrupted", "traces",
          "frames", "input_bytes", "removed")


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write(text)


def make_fleet(root):
    """Eight cards of one logger each: recordings of one to four splits, a repeat, a rejected
    header, a file that is no log."""
    for card in range(CARDS):
        logger = "0000C%03d" % card
        for session in range(1, 4):
            for split in range(1, 1 + (card + session) % 4 + 1):
                first = 50 * (split - 1)
                lines = [HEADER.format(logger=logger, session=session, split=split)]
                for i in range(first, first + 50):
                    lines.append("11:05:%02d.%03d;%d;%X;2;%02X%02X\n"
                                 % (53 + i // 1000, i % 1000, i % 2, 0x100 + i, card, i & 0xFF))
                write(os.path.join(root, "card%d" % card, "S%02d" % session,
                                   "%08d.TXT" % split), "".join(lines))
        write(os.path.join(root, "card%d" % card, "S01", "00000001r.TXT"),
              HEADER.format(logger=logger, session=1, split=1))
        write(os.path.join(root, "card%d" % card, "bad.txt"), "no header\n")
        write(os.path.join(root, "card%d" % card, "LOG.INI"), "settings\n")


def tree(root):
    found = []
    for folder, _, files in os.walk(root):
        found += [os.path.relpath(os.path.join(folder, name), root) for name in files]
    return sorted(found)


def report(path, fleet):
    with open(path) as lines:
        objects = [json.loads(line) for line in lines]
    for entry in objects[:-1]:  # the shards ran on their own copy of the fleet
        entry["input"] = os.path.relpath(entry["input"], fleet)
        if entry["output"]:
            entry["output"] = os.path.relpath(entry["output"], os.path.dirname(fleet))
    return objects[:-1], objects[-1]


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        one, sharded = os.path.join(scratch, "one"), os.path.join(scratch, "sharded")
        make_fleet(os.path.join(one, "fleet"))
        shutil.copytree(one, sharded)
        os.makedirs(os.path.join(sharded, "out"))
        os.makedirs(os.path.join(sharded, "reports"))
        cards = ["fleet/card%d" % card for card in range(CARDS)]
        os.makedirs(os.path.join(one, "out"))
        single = subprocess.run([binary, "-m", "-O", "out", "--report=one.jsonl"] + cards,
                                cwd=one, stderr=subprocess.DEVNULL)
        shards = subprocess.run(
            ["parallel", "--will-cite", "-j", "4", binary, "-m", "-O", "out",
             "--report=reports/{/}.jsonl", "{}", ":::"] + cards,
            cwd=sharded, stderr=subprocess.DEVNULL)
        if single.returncode != 8 or shards.returncode != CARDS:
            failures.append("statuses: one run %d (8 expected), parallel %d (%d shards failed)"
                            % (single.returncode, shards.returncode, CARDS))
        out_one, out_sharded = os.path.join(one, "out"), os.path.join(sharded, "out")
        if tree(out_one) != tree(out_sharded):
            failures.append("the trees differ: %s" % (set(tree(out_one)) ^ set(tree(out_sharded))))
        different = [name for name in tree(out_one)
                     if not filecmp.cmp(os.path.join(out_one, name),
                                        os.path.join(out_sharded, name), shallow=False)]
        if different:
            failures.append("traces differ: %s" % different)

        inputs, summary = report(os.path.join(one, "one.jsonl"), os.path.join(one, "fleet"))
        shard_inputs, sums = [], dict.fromkeys(SUMMED, 0)
        for card in range(CARDS):
            lines, shard = report(os.path.join(sharded, "reports", "card%d.jsonl" % card),
                                  os.path.join(sharded, "fleet"))
            shard_inputs += lines
            for key in SUMMED:
                sums[key] += shard[key]
        if shard_inputs != inputs:
            failures.append("the shards' input lines are not the one run's")
        for key in SUMMED:
            if sums[key] != summary[key]:
                failures.append("%s: shards add up to %d, one run says %d"
                                % (key, sums[key], summary[key]))
        if summary["traces"] < CARDS * 3 or summary["failed"] != CARDS:
            failures.append("the fleet is not as made: %s" % summary)
    for failure in failures:
        print("FAIL:", failure)
    print("sharded by card with GNU parallel: %s" % ("FAILED" if failures else "ok"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
