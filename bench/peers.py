"""What a user would otherwise write: the text log read with csv, the trace with python-can.

    python3 bench/peers.py INPUT.txt OUTPUT.trc      TRC 2.1 through can.TRCWriter
    python3 bench/peers.py --candump INPUT.txt OUT   the same frames as a candump log
"""
import csv
import datetime
import sys


def frames(path):
    """(seconds, id, extended, sent, data) of every record line, times completed as velmarch does."""
    day = None
    with open(path, newline="") as text:
        for line in text:
            if line.startswith("# Time: "):
                day = datetime.datetime.strptime(line[8:16], "%Y%m%d").replace(
                    tzinfo=datetime.timezone.utc).timestamp()
            if line.startswith("Timestamp"):
                break
        for row in csv.reader(text, delimiter=";"):
            stamp, kind, ident, _, data = row
            digits = stamp.replace(":", "").replace(".", "")
            if len(digits) == 9:
                seconds = day + int(digits[0:2]) * 3600 + int(digits[2:4]) * 60 + int(digits[4:6])
            else:
                seconds = datetime.datetime.strptime(digits[:14], "%Y%m%d%H%M%S").replace(
                    tzinfo=datetime.timezone.utc).timestamp()
            yield (seconds + int(digits[-3:]) / 1000, int(ident, 16), kind in "19", kind in "89",
                   bytes.fromhex(data))


def main():
    if sys.argv[1] == "--candump":
        with open(sys.argv[3], "w") as out:
            for t, ident, extended, _, data in frames(sys.argv[2]):
                name = f"{ident:08X}" if extended else f"{ident:03X}"
                out.write(f"({t:.6f}) can0 {name}#{data.hex().upper()}\n")
        return
    import can
    with can.TRCWriter(sys.argv[2]) as writer:
        for t, ident, extended, sent, data in frames(sys.argv[1]):
            writer.on_message_received(can.Message(
                timestamp=t, arbitration_id=ident, is_extended_id=extended, is_rx=not sent,
                dlc=len(data), data=data))


if __name__ == "__main__":
    main()
