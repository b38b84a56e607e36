#!/usr/bin/env python3
""""-": a text log on standard input becomes its trace on standard output, for every format the
very bytes of converting the file; BLF through a pipe is read back by python-can; misuse is a
command-line error; a failure part-way says the output is incomplete; a reader that stops early
ends the run quietly.

Usage: pipe_test.py VELMARCH_BINARY
"""

import os
import subprocess
import sys
import tempfile

import can

FORMATS = {"version1": ".trc", "version2": ".trc", "version2r": ".trc", "asc": ".asc",
           "blf": ".blf", "candump": ".log", "pcapng": ".pcapng"}
HEADER = """\
# Logger ID: 0000AB12
# Session No.: 1
# Split No.: 1
# Time: 20241017T110553
# Value separator: ";"
# Time format: 3
# Time separator: ":"
# Time separator ms: "."
Timestamp;Type;ID;Length;Data
"""


def log(frames):
    lines = [HEADER]
    for i in range(frames):
        lines.append("11:%02d:%02d.%03d;%d;%X;8;1122334455667788\n"
                     % (5 + i // 60000, i // 1000 % 60, i % 1000, i % 2, 0x100 + i % 0x600))
    return "".join(lines)


class Check:
    def __init__(self, binary):
        self.binary = os.path.abspath(binary)
        self.failures = 0

    def expect(self, condition, what):
        if not condition:
            print("FAIL:", what)
            self.failures += 1

    def run(self, arguments, stdin, cwd, stdout=subprocess.PIPE):
        return subprocess.run([self.binary] + arguments, stdin=stdin, stdout=stdout,
                              stderr=subprocess.PIPE, cwd=cwd)


def same_bytes_as_the_file(check, scratch):
    path = os.path.join(scratch, "a.txt")
    with open(path, "w") as out:
        out.write(log(30000))  # several BLF containers
    for name, extension in FORMATS.items():
        done = check.run(["-f", name, "a.txt"], None, scratch)
        check.expect(done.returncode == 0, "%s: the file converts" % name)
        with open(os.path.join(scratch, "a" + extension), "rb") as trace:
            expected = trace.read()
        # Standard output a file, which BLF can seek in to fill in its header.
        with open(path, "rb") as stdin, open(os.path.join(scratch, "out"), "wb") as stdout:
            done = check.run(["-f", name, "-"], stdin, scratch, stdout)
        with open(os.path.join(scratch, "out"), "rb") as out:
            check.expect(done.returncode == 0 and out.read() == expected,
                         "%s: a redirected standard output holds the file's trace" % name)
        # A pipe, both ways.
        with open(path, "rb") as text:
            piped = subprocess.run([check.binary, "-f", name, "-"], input=text.read(),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        check.expect(piped.returncode == 0 and piped.stderr == b"",
                     "%s: quiet through pipes: %s" % (name, piped.stderr))
        if name != "blf":
            check.expect(piped.stdout == expected, "%s: a pipe holds the file's trace" % name)
            continue
        blf = os.path.join(scratch, "piped.blf")
        with open(blf, "wb") as out:
            out.write(piped.stdout)
        frames = list(can.BLFReader(blf))
        check.expect(len(frames) == 30000 and frames[-1].arbitration_id == 0x100 + 29999 % 0x600,
                     "python-can reads the piped BLF: %d frames" % len(frames))


def misuse_and_failures(check, scratch):
    for arguments, why in ((["-", "b.txt"], "another input"), (["-d", "-"], "-d"),
                           (["-O", ".", "-"], "-O"), (["-X", "-"], "-X"), (["-m", "-"], "-m"),
                           (["--files-from=x", "-"], "--files-from")):
        done = check.run(arguments, subprocess.DEVNULL, scratch)
        check.expect(done.returncode == 134 and why.encode() in done.stderr,
                     "%s: status 134 and why: %s" % (arguments, done.stderr))
    rejected = subprocess.run([check.binary, "-"], input=b"no header\n", stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
    check.expect(rejected.returncode == 8 and rejected.stdout == b"" and
                 b"output is incomplete" not in rejected.stderr,
                 "a text that is no log: status 8, no output: %s" % rejected.stderr)
    with open(os.path.join(scratch, "big.txt"), "w") as out:
        out.write(log(100000))
    with open(os.path.join(scratch, "big.txt"), "rb") as stdin, \
            open("/dev/full", "wb") as full:
        done = check.run(["-"], stdin, scratch, full)
    check.expect(done.returncode == 8 and b"E Standard output is incomplete" in done.stderr and
                 b"E Error during conversion of -" in done.stderr,
                 "a full disk part-way: status 8 and the output is incomplete: %s" % done.stderr)


def list_on_standard_input(check, scratch):
    """--files-from=-: the list comes on standard input, as find -print0 | velmarch -0 gives it."""
    for session, name in ((1, "a.txt"), (2, "b.txt")):
        with open(os.path.join(scratch, name), "w") as out:
            out.write(log(3).replace("Session No.: 1", "Session No.: %d" % session))
    done = subprocess.run([check.binary, "-0", "--files-from=-"], input=b"a.txt\0b.txt\0",
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=scratch)
    check.expect(done.returncode == 0 and os.path.exists(os.path.join(scratch, "b.trc")),
                 "both listed inputs convert: %s" % done.stderr)


def early_reader(check, scratch):
    with open(os.path.join(scratch, "big.txt"), "w") as out:
        out.write(log(300000))
    for name in ("version2", "blf"):
        with open(os.path.join(scratch, "big.txt"), "rb") as stdin:
            process = subprocess.Popen([check.binary, "-f", name, "-"], stdin=stdin,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            process.stdout.read(100)
            process.stdout.close()  # as head does
            errors = process.stderr.read()
            process.wait()
        check.expect(process.returncode == 0 and errors == b"",
                     "%s: a reader that stops ends the run quietly: %d %s"
                     % (name, process.returncode, errors))


def main():
    check = Check(sys.argv[1])
    for case in (same_bytes_as_the_file, misuse_and_failures, list_on_standard_input,
                 early_reader):
        with tempfile.TemporaryDirectory() as scratch:
            before = check.failures
            case(check, scratch)
            print("%s: %s" % (case.__name__, "ok" if check.failures == before else "FAILED"))
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
