"""Runs every example on the embedded worker (stand-in programs for the outside programs)."""

import importlib
import logging
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from norvale.worker import standins  # noqa: E402

EXAMPLES = ["moraine_example", "korro_example", "pylon_example", "tarsis_model", "tarsis_example", "tarsis_road"]


def main() -> int:
    logging.basicConfig(stream=sys.stdout, level=logging.INFO, format="  [%(name)s] %(message)s")
    standins.configure_all()
    for name in EXAMPLES:
        if not (pathlib.Path(__file__).parent / f"{name}.py").exists():
            continue
        print(f"== {name}")
        started = time.monotonic()
        importlib.import_module(name).main()
        print(f"   ({time.monotonic() - started:.2f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
