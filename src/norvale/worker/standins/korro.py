"""Stand-in for the Korro finite-element program (not the real program).

Usage: python -m norvale.worker.standins.korro input.kox   (in the job directory)
Reads "actions.json" and "config<k>.json"; writes "results.kox" (the input model followed by one
line per action performed) and, for every load case or combination named by a write-results action
(id 4), "summary_<n>.json" with made-up deformations and forces. A write-results action without
"Loads" writes the load cases named on lines "LOADCASE <n>" of the model, or case 1 if there are
none. The model text "FAIL" makes it exit with status 3.
"""

from __future__ import annotations

import json
import re
import sys
from typing import Any

WRITE_RESULTS = 4


def _load_cases(model: bytes) -> list[int]:
    found = [int(n) for n in re.findall(rb"^LOADCASE\s+(\d+)", model, flags=re.MULTILINE)]
    return found or [1]


def _summary(n: int, loading_type: int) -> dict[str, Any]:
    return {
        "load_case": n,
        "loading_type": loading_type,
        "nodal_deformations": [
            {"node": k, "X": round(0.001 * n * k, 6), "Y": round(-0.0005 * n * k, 6), "Z": round(-0.002 * n * k, 6)}
            for k in (1, 2, 3)
        ],
        "member_forces": [
            {"member": 1, "Location": loc, "My": 1000.0 * n * (1 - loc), "Mz": 0.0,
             "Fy": 0.0, "Fz": -500.0 * n}
            for loc in (0.0, 0.5, 1.0)
        ],
    }


def main(argv: list[str]) -> int:
    if len(argv) != 1:
        print("usage: korro-standin input.kox", file=sys.stderr)
        return 2
    with open(argv[0], "rb") as f:
        model = f.read()
    if model.strip() == b"FAIL":
        print("cannot analyse this model", file=sys.stderr)
        return 3
    with open("actions.json", encoding="utf-8") as f:
        actions = json.load(f)
    log = []
    for k, action_id in enumerate(actions, start=1):
        with open(f"config{k}.json", encoding="utf-8") as f:
            config = json.load(f)
        log.append(f"# action {k}: id {action_id} {json.dumps(config, sort_keys=True)}")
        if action_id == WRITE_RESULTS:
            loading_type = config.get("LoadingType", 1)
            for n in config.get("Loads") or _load_cases(model):
                with open(f"summary_{n}.json", "w", encoding="utf-8") as out:
                    json.dump(_summary(int(n), loading_type), out, indent=1)
    with open("results.kox", "wb") as f:
        f.write(model)
        if log:
            f.write(b"\n" + "\n".join(log).encode("utf-8") + b"\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
