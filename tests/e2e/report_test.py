#!/usr/bin/env python3
"""--report for real runs: every line valid against doc/report.schema.json, every outcome where
the tree has it, the summary the sum of the inputs, and the file whole on interruption too.

Usage: report_test.py VELMARCH_BINARY SCHEMA
"""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time

import jsonschema

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


def log(session, split, frames, logger="0000AB12", first=0):
    lines = [HEADER.format(logger=logger, session=session, split=split)]
    for i in range(first, first + frames):
        ms = 53000 + i
        lines.append("11:%02d:%02d.%03d;0;%X;2;0102\n" % (5 + ms // 60000, ms // 1000 % 60,
                                                         ms % 1000, 0x100 + i % 0x600))
    return "".join(lines)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write(text)


class Check:
    def __init__(self, binary, schema_path):
        self.binary = os.path.abspath(binary)
        with open(schema_path) as schema:
            self.validator = jsonschema.Draft202012Validator(json.load(schema))
        self.failures = 0

    def expect(self, condition, what):
        if not condition:
            print("FAIL:", what)
            self.failures += 1

    def report(self, path, status):
        """The report's lines, each checked against the schema, the summary against them."""
        with open(path, encoding="utf-8", errors="surrogateescape") as lines:
            objects = [json.loads(line) for line in lines]
        for line in objects:
            for error in self.validator.iter_errors(line):
                self.expect(False, "%s: %s" % (line, error.message))
        inputs, summary = objects[:-1], objects[-1]
        self.expect(summary["type"] == "summary", "the last line is the summary")
        self.expect(all(entry["type"] == "input" for entry in inputs), "inputs come first")
        for outcome, key in (("converted", "converted"), ("repeat", "repeat"),
                             ("passed over", "passed_over"), ("failed", "failed"),
                             ("interrupted", "interrupted")):
            count = sum(entry["outcome"] == outcome for entry in inputs)
            self.expect(summary[key] == count, "%s: %d in the summary, %d inputs"
                        % (key, summary[key], count))
        converted = [entry for entry in inputs if entry["outcome"] == "converted"]
        self.expect(summary["inputs"] == len(inputs), "inputs counted")
        self.expect(summary["frames"] == sum(entry["frames"] for entry in converted), "frames")
        self.expect(summary["removed"] == sum(entry["removed"] for entry in inputs), "removed")
        self.expect(summary["input_bytes"] == sum(entry["input_bytes"] for entry in inputs),
                    "bytes")
        self.expect(summary["traces"] == len({entry["output"] for entry in converted}), "traces")
        self.expect(summary["exit_status"] == status, "exit status %d, the process's %d"
                    % (summary["exit_status"], status))
        for entry in converted:
            self.expect(os.path.isfile(entry["output"]), entry["output"] + " exists")
            self.expect(os.path.exists(entry["input"]) != entry["removed"],
                        entry["input"] + " is there unless removed")
        return inputs, summary

    def run(self, arguments, cwd):
        return subprocess.run([self.binary] + arguments, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True).returncode


def every_outcome(check, scratch):
    """One run with -d over a card that has every outcome and an input that is missing."""
    card = os.path.join(scratch, "card")
    write(os.path.join(card, "01.txt"), log(1, 1, 50))
    write(os.path.join(card, "01r.txt"), log(1, 1, 50))  # a repeat
    write(os.path.join(card, "02.txt"), log(0, 1, 5))  # a rejected header
    write(os.path.join(card, "03.txt"), log(2, 1, 7))
    write(os.path.join(card, "notes.md"), "not a log\n")
    write(os.path.join(scratch, "old", "04.txt"), log(3, 1, 9))
    os.symlink(os.path.join(scratch, "old"), os.path.join(card, "linked"))  # never removed
    write(os.path.join(scratch, "report.jsonl"), "an earlier report\n")
    status = check.run(["-d", "--report=report.jsonl", "card", "gone.txt"], scratch)
    check.expect(status == 9, "status 9 (a missing input, a failed file), not %d" % status)
    inputs, _ = check.report(os.path.join(scratch, "report.jsonl"), status)
    outcomes = [(os.path.relpath(entry["input"], scratch), entry["outcome"], entry["removed"])
                for entry in inputs]
    check.expect(outcomes == [
        ("card/01.txt", "converted", True), ("card/01r.txt", "repeat", False),
        ("card/02.txt", "failed", False), ("card/03.txt", "converted", True),
        ("card/linked/04.txt", "converted", False), ("card/notes.md", "passed over", False),
        ("gone.txt", "failed", False)], "outcomes in walk order: %s" % outcomes)
    check.expect(inputs[2]["reason"] == "Could not parse file header", inputs[2]["reason"])
    check.expect([name for name in os.listdir(scratch) if name.startswith(".")] == [],
                 "nothing hidden is left")


def merged(check, scratch):
    """-m: three splits in one trace, each input naming it."""
    for split in (1, 2, 3):
        write(os.path.join(scratch, "rec", "%02d.txt" % split),
              log(5, split, 20, first=20 * split))
    status = check.run(["-m", "--verbosity=0", "--report", "r.jsonl", "rec"], scratch)
    inputs, summary = check.report(os.path.join(scratch, "r.jsonl"), status)
    check.expect(status == 0 and summary["traces"] == 1, "one trace of three splits")
    trace = os.path.join(scratch, "rec_out", "01.trc")
    check.expect({entry["output"] for entry in inputs} == {trace}, "each split names the trace")


def interrupted(check, scratch):
    """SIGINT while a large file converts: the report is whole and says so."""
    write(os.path.join(scratch, "big", "a.txt"), log(1, 1, 400000))
    write(os.path.join(scratch, "big", "b.txt"), log(2, 1, 10))
    process = subprocess.Popen([check.binary, "-j", "1", "--report=r.jsonl", "big"], cwd=scratch,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    # Stopped while the trace of a.txt is being written, then told to end.
    out = os.path.join(scratch, "big_out")
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and process.poll() is None:
        if os.path.isdir(out) and any(name.endswith(".part") for name in os.listdir(out)):
            process.send_signal(signal.SIGSTOP)
            break
        time.sleep(0.001)
    process.send_signal(signal.SIGINT)
    process.send_signal(signal.SIGCONT)
    process.wait()
    check.expect(process.returncode == -signal.SIGINT,
                 "ended by SIGINT, not %d" % process.returncode)
    inputs, summary = check.report(os.path.join(scratch, "r.jsonl"), 128 + signal.SIGINT)
    check.expect(summary["signal"] == "SIGINT", "the summary names the signal")
    check.expect([entry["outcome"] for entry in inputs] == ["interrupted"],
                 "the file it stopped in, nothing after: %s" % inputs)


def unwritable(check, scratch):
    """A report that cannot be made stops the run before anything is converted."""
    write(os.path.join(scratch, "c", "01.txt"), log(1, 1, 5))
    for report in ("nowhere/r.jsonl", "c"):  # a missing folder; a folder
        status = check.run(["--report=" + report, "c"], scratch)
        check.expect(status == 134, "%s: status 134, not %d" % (report, status))
        check.expect(not os.path.exists(os.path.join(scratch, "c_out")), "nothing converted")


def main():
    check = Check(sys.argv[1], sys.argv[2])
    for case in (every_outcome, merged, interrupted, unwritable):
        with tempfile.TemporaryDirectory() as scratch:
            before = check.failures
            case(check, scratch)
            print("%s: %s" % (case.__name__, "ok" if check.failures == before else "FAILED"))
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
