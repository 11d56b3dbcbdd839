"""Long differential run of the XML engine against ElementTree (part of `make fuzz`).

Usage: python tests/fuzz/fuzz_xml.py [SEEDS] [FIRST_SEED]   (default 3000 documents from seed 100000)
Each generated document and six faulty variants of it are read by the Tarsis module and by the
ElementTree reference; every disagreement is printed with the seed that reproduces it.
"""

import pathlib
import random
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "engine"))

import differential  # noqa: E402
import xmlgen  # noqa: E402


def main(argv: list[str]) -> int:
    count = int(argv[0]) if argv else 3000
    first = int(argv[1]) if len(argv) > 1 else 100_000
    started = time.monotonic()
    checked = failed = 0
    for seed in range(first, first + count):
        rng = random.Random(seed)
        data = xmlgen.document(seed)
        for variant in range(7):
            doc = data if variant == 0 else xmlgen.mutate(data, rng)
            problems = differential.compare(doc, step=1 + rng.randrange(64))
            checked += 1
            if problems:
                failed += 1
                print(f"seed {seed} variant {variant}: {len(doc)} bytes")
                for p in problems[:3]:
                    print("   ", p)
        if (seed - first + 1) % 500 == 0:
            print(f"  {seed - first + 1} seeds, {checked} documents, {time.monotonic() - started:.0f} s", flush=True)
    print(f"xml differential: {checked - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    if main(sys.argv[1:]):  # returns quietly on success: tests/fuzz/run.py runs the next script
        sys.exit(1)
