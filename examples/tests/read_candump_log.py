"""Reads a candump log with python-can's own reader, as a user of the
driver host's --candump file would, and checks its time stamps.

    read_candump_log.py LOG FIRST_SECOND LAST_SECOND

Prints one line per frame ("<id>#<data hex>", remote frames "<id>#R") and
exits 1 when the log holds no frame, a stamp lies outside the wall-clock
span [FIRST_SECOND, LAST_SECOND], or the stamps fall back in time.
"""
import sys

import can


def main():
    path, first, last = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
    previous = None
    count = 0
    for message in can.CanutilsLogReader(path):
        stamp = message.timestamp
        if not first <= stamp <= last:
            print(f"stamp {stamp:.6f} outside {first:.0f}..{last:.0f}", file=sys.stderr)
            return 1
        if previous is not None and stamp < previous:
            print(f"stamp {stamp:.6f} before {previous:.6f}", file=sys.stderr)
            return 1
        previous = stamp
        count += 1
        if message.is_remote_frame:
            print(f"{message.arbitration_id:03X}#R")
        else:
            print(f"{message.arbitration_id:03X}#{bytes(message.data).hex().upper()}")
    if count == 0:
        print("no frame in the log", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
