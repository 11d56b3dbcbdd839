"""Stand-in for the Moraine slope-stability program (not the real program).

Usage: python -m norvale.worker.standins.moraine INPUT.sti
Writes INPUT.sto (a small report with a made-up safety factor derived from the input bytes) and
an empty INPUT.err. An input holding the word "INVALID" makes it write only INPUT.err and exit 1.
"""

from __future__ import annotations

import hashlib
import os
import sys


def main(argv: list[str]) -> int:
    if len(argv) != 1:
        print("usage: moraine-standin INPUT.sti", file=sys.stderr)
        return 2
    input_path = argv[0]
    stem = os.path.splitext(input_path)[0]
    with open(input_path, "rb") as f:
        data = f.read()
    if b"INVALID" in data:
        with open(stem + ".err", "w", encoding="utf-8") as f:
            f.write("Input file is invalid\n")
        return 1
    digest = hashlib.sha256(data).digest()
    factor = 1.0 + digest[0] / 255.0
    with open(stem + ".sto", "w", encoding="utf-8") as f:
        f.write("[MORAINE STAND-IN REPORT]\n")
        f.write(f"Input size = {len(data)} bytes\n")
        f.write(f"Safety factor = {factor:.3f}\n")
    open(stem + ".err", "w").close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
