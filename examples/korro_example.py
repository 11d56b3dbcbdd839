"""Finite-element run: optimise nodal loads, copy them to ULS cases, write and read results."""

import io
import json

from norvale.external.korro import (
    CopyNodalLoadAction,
    EnergyOptimizationAction,
    KORROAnalysis,
    WriteResultsAction,
)


def main() -> None:
    model = io.BytesIO(b"".join(f"LOADCASE {n}\n".encode() for n in range(1, 10)))
    actions = [
        EnergyOptimizationAction([1, 2, 3], goal=10000, accuracy=0.1),   # 10 kNm, 10 cm
        EnergyOptimizationAction([4, 5, 6], goal=15000, accuracy=0.1),
        CopyNodalLoadAction([(1, 7), (2, 8), (3, 9)], factor=1.5),       # ULS = SLS x 1.5
        WriteResultsAction([1, 2, 3, 4, 5, 6, 7, 8, 9]),
    ]
    analysis = KORROAnalysis(kox_file=model, actions=actions)
    analysis.execute(timeout=300)
    updated = analysis.get_model()
    print(f"Korro updated model: {len(updated.getvalue())} bytes")
    for load_case in (1, 7):
        result = json.loads(analysis.get_result(load_case).getvalue())
        node = result["nodal_deformations"][0]
        print(f"Korro load case {load_case}: node {node['node']} deformation "
              f"X={node['X']} Y={node['Y']} Z={node['Z']} m")


if __name__ == "__main__":
    from norvale.worker import standins

    standins.configure_all()
    main()
