"""A blocking script the worker runs beside its input files (stands in for a script driving Pylon)."""

import json
import pathlib

lines = pathlib.Path("input1.txt").read_text().splitlines()
storeys = [float(x) for x in lines if x.strip()]
summary = {"storeys": len(storeys), "total_height_m": sum(storeys)}
pathlib.Path("output.txt").write_text(json.dumps(summary))
