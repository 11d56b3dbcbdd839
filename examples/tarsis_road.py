"""The whole Tarsis road: fill a model, turn it into the input XML and definition file through the
template-filling service, run the analysis on the worker, read a result table back."""

import io

from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import CalcSetting, Model, OutputFileParser, TarsisAnalysis

SPAN = 6.0  # m between supports
BAYS = 3


def build_model() -> Model:
    """A continuous beam over BAYS bays, supported at every node, with a point load mid-bay."""
    model = Model()
    section = model.create_rectangular_cross_section("R300x500", obj.Material("C30/37"), 0.3, 0.5)
    supports = [model.create_node(f"S{i}", i * SPAN, 0.0, 0.0) for i in range(BAYS + 1)]
    mids = [model.create_node(f"M{i}", (i + 0.5) * SPAN, 0.0, 0.0) for i in range(BAYS)]
    for i in range(BAYS):
        model.create_beam(supports[i], mids[i], section)
        model.create_beam(mids[i], supports[i + 1], section)
    rigid = obj.PointSupport.Freedom.RIGID
    for node in supports:
        model.create_point_support(f"Sn{node.name}", node, obj.PointSupport.Type.STANDARD,
                                   (rigid, rigid, rigid, rigid, rigid, rigid), (0.0, 0.0, 0.0, 0.0, 0.0, 0.0),
                                   obj.PointSupport.CSys.GLOBAL)
    group = model.create_load_group("LG1", obj.LoadGroup.LoadOption.PERMANENT)
    case = model.create_permanent_load_case("LC1", "equipment", group, obj.LoadCase.PermanentLoadType.STANDARD)
    for i, node in enumerate(mids):
        model.create_point_load_node(node, case, -10_000.0 * (i + 1))
    return model


def main() -> None:
    model = build_model()
    document = model._serialize()
    print(f"model document: {len(document)} members; {len(document['nodes'])} nodes, "
          f"{len(document['beams'])} beams, {len(document['point_supports'])} supports, "
          f"{len(document['point_loads_node'])} loads")

    input_file, def_file = model.generate_xml_input()
    assert isinstance(input_file, io.BytesIO) and isinstance(def_file, io.BytesIO)
    print(f"input XML {len(input_file.getvalue())} bytes, definition file {len(def_file.getvalue())} bytes, "
          f"named {TarsisAnalysis.get_xml_def_name(input_file)!r} by the input XML")

    analysis = TarsisAnalysis(input_file, def_file, io.BytesIO(b"ESA project"), CalcSetting.LIN)
    analysis.execute(timeout=60)

    output = analysis.get_xml_output_file()
    assert isinstance(output, io.BytesIO), "the analysis returned no output XML"
    reactions = OutputFileParser.get_result(output, "Reactions",
                                            parent="Result classes - ULS")["Reactions"]
    print("Reactions (Result classes - ULS):")
    titles = list(reactions)
    print("   " + "".join(f"{t:>12}" for t in titles))
    for row in zip(*(reactions[t] for t in titles)):
        print("   " + "".join(f"{v:>12}" for v in row))


if __name__ == "__main__":
    from norvale.worker import standins

    standins.configure_all()
    main()
