"""Model._serialize and Model.generate_xml_input on a model of 20 000 nodes, beams and loads,
against the straightforward Python implementation run beside them in the same process.

Baseline: json.dumps with a `_serialize` hook, json.loads, json.dumps, gzip (level 9), Base64.
The template-filling service is replaced by a trivial reply for both, so the figures are the
kit's own work. Targets: _serialize at least 3x, generate_xml_input at least 2x the baseline.
"""

import base64
import gc
import gzip
import io
import json
import statistics
import sys
import time
from unittest import mock

from norvale._native import gzip_backend
from norvale.external.external_program import _StreamedDict
from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import Model

SIZE = 20_000
ROUNDS = 5

ARRAY_ATTRS = [
    ("nonlinear_functions", "_nonlinear_functions"), ("subsoils", "_subsoils"),
    ("orthotropy_objects", "_orthotropy_objects"), ("selections", "_selections"),
]
LATER_ATTRS = [
    "nodes", "beams", "cross_links", "arbitrary_profiles", "hinges_on_beam", "sections_on_beam", "planes",
    "open_slabs", "internal_edges", "rigid_arms", "point_supports", "point_supports_line", "line_supports_line",
    "line_supports_surface", "surface_supports", "hinges_on_plane", "load_cases", "load_groups",
    "load_combinations", "nonlinear_load_combinations", "result_classes", "point_loads_node", "point_loads",
    "point_moments_node", "line_loads", "line_moments_on_beam", "line_moments_on_plane", "line_force_surface_list",
    "surface_loads", "thermal_loads", "thermal_surface_loads", "free_surface_loads", "free_line_loads",
    "free_point_loads", "integration_strips", "averaging_strips", "sections_on_plane", "mesh_setup",
    "solver_setup", "project_data",
]


def baseline_serialize(model):
    concrete = model._concrete_materials
    doc = {
        "concrete_en1992_1_1": [c for c in concrete if c.ec_part == obj.Concrete.ECPart.GENERAL],
        "concrete_en1992_2": [c for c in concrete if c.ec_part == obj.Concrete.ECPart.BRIDGES],
        "layers": model.layers,
    }
    for key, attr in ARRAY_ATTRS:
        doc[key] = getattr(model, attr)
    doc["cross_sections"] = [c for c in model._cross_sections if not isinstance(c, obj.NumericalCrossSection)]
    doc["numerical_cross_sections"] = [c for c in model._cross_sections if isinstance(c, obj.NumericalCrossSection)]
    for key in LATER_ATTRS:
        doc[key] = getattr(model, "_" + key)
    return json.loads(json.dumps(doc, default=lambda o: o._serialize()))


def baseline_generate(model, post):
    document = baseline_serialize(model)
    text = base64.b64encode(gzip.compress(json.dumps(document).encode("utf-8"))).decode("utf-8")
    result = _StreamedDict.from_dict(post("filltarsistemplate/v10/jobs/", {"input": text}, timeout=60))
    return (io.BytesIO(gzip.decompress(base64.b64decode(result["input_file"]))),
            io.BytesIO(gzip.decompress(base64.b64decode(result["def_file"]))))


TRIVIAL = {"input_file": base64.b64encode(gzip.compress(b"<project/>")).decode(),
           "def_file": base64.b64encode(gzip.compress(b"<definition/>")).decode()}


def trivial_service(path, payload, *, timeout):
    return TRIVIAL


def build_model():
    model = Model()
    cs = model.create_rectangular_cross_section("CS1", obj.Material("C30/37"), 0.3, 0.5)
    group = model.create_load_group("LG1", obj.LoadGroup.LoadOption.PERMANENT)
    case = model.create_permanent_load_case("LC1", "dead load", group, obj.LoadCase.PermanentLoadType.STANDARD)
    nodes = [model.create_node(f"N{i}", i * 0.5, (i % 7) * 0.25, 3.0 + i / 1000) for i in range(SIZE)]
    for i in range(SIZE):
        model.create_beam(nodes[i], nodes[(i + 1) % SIZE], cs)
    for i in range(SIZE):
        model.create_point_load_node(nodes[i], case, -1000.0 - i)
    return model


def timed(fn):
    gc.collect()
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def compare(name, ours, baseline, target):
    # Alternate the two so that both see the same machine load; report medians.
    t_ours, t_base = [], []
    for _ in range(ROUNDS):
        t_base.append(timed(baseline))
        t_ours.append(timed(ours))
    mo, mb = statistics.median(t_ours), statistics.median(t_base)
    ratio = mb / mo
    verdict = "ok" if ratio >= target else f"BELOW TARGET {target}x"
    print(f"{name:<22} native {mo * 1000:8.1f} ms   baseline {mb * 1000:8.1f} ms   {ratio:5.2f}x  ({verdict})")
    return ratio >= target


def main() -> int:
    model = build_model()
    assert json.dumps(model._serialize()) == json.dumps(baseline_serialize(model))
    size = len(json.dumps(model._serialize()))
    print(f"model: {SIZE} nodes, {SIZE} beams, {SIZE} point loads; document {size / 1e6:.1f} MB of JSON; "
          f"gzip with {gzip_backend()}")
    ok = compare("_serialize", model._serialize, lambda: baseline_serialize(model), 3.0)
    with mock.patch("norvale.external.tarsis.tarsis._post_on_addon_endpoint", trivial_service):
        ok &= compare("generate_xml_input", model.generate_xml_input,
                      lambda: baseline_generate(model, trivial_service), 2.0)
    text = json.dumps(model._serialize()).encode()
    compare("  gzip alone", lambda: gzip_compress_native(text), lambda: gzip.compress(text), 1.0)
    return 0 if ok else 1


def gzip_compress_native(data):
    from norvale._native import gzip_compress
    return gzip_compress(data)


if __name__ == "__main__":
    sys.exit(main())
