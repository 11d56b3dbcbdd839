"""The whole Tarsis road offline: fill a model, turn it into the input XML through the template-filling
service, analyse it on the embedded worker with the stand-in's frame analysis, read the reactions of
a load case and a combination back, check that they balance the loads, and save two pictures."""

import io
import pathlib

from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import CalcSetting, Model, OutputFileParser, TarsisAnalysis

SPAN = 6.0     # m between the columns
HEIGHT = 4.0   # m, storey height
OUT = pathlib.Path(__file__).resolve().parent / "output"


def build_model() -> Model:
    """A two-bay portal frame in the X-Z plane, braced out of plane by clamped column feet: dead load on
    the girders, wind at the top, and the ULS combination of both."""
    model = Model()
    steel = obj.Material("S355")
    column = model.create_library_cross_section("I", "HEB200", steel, name="HEB200")
    girder = model.create_library_cross_section("I", "IPE300", steel, name="IPE300")
    feet = [model.create_node(f"F{i}", i * SPAN, 0.0, 0.0) for i in range(3)]
    tops = [model.create_node(f"T{i}", i * SPAN, 0.0, HEIGHT) for i in range(3)]
    for foot, top in zip(feet, tops):
        model.create_beam(foot, top, column, name=f"C{(foot.name or '')[1:]}")
    girders = [model.create_beam(tops[i], tops[i + 1], girder, name=f"G{i}") for i in range(2)]
    rigid = obj.PointSupport.Freedom.RIGID
    for foot in feet:
        model.create_point_support(f"S{foot.name}", foot, obj.PointSupport.Type.STANDARD,
                                   (rigid, rigid, rigid, rigid, rigid, rigid), (0.0, 0.0, 0.0, 0.0, 0.0, 0.0),
                                   obj.PointSupport.CSys.GLOBAL)
    group = model.create_load_group("LG1", obj.LoadGroup.LoadOption.PERMANENT)
    dead = model.create_permanent_load_case("DEAD", "girders and roof", group,
                                            obj.LoadCase.PermanentLoadType.STANDARD)
    wind = model.create_variable_load_case("WIND", "wind from the west", group, obj.LoadCase.VariableLoadType.STATIC)
    for beam in girders:
        model.create_line_load(f"q{beam.name}", dead, beam, "FORCE", "UNIFORM", -15e3, -15e3, "Z", 0.0, 1.0,
                               "RELATIVE", "GLOBAL", "FROM_START", 0.0, 0.0)
    model.create_point_load_node(tops[0], wind, 20e3, direction="X")
    model.create_load_combination("ULS", "LINEAR_ULTIMATE", {dead: 1.35, wind: 1.5})
    return model


def show(output: io.BytesIO, parent: str) -> None:
    reactions = OutputFileParser.get_result(output, "Reactions", parent=parent)["Reactions"]
    print(f"Reactions ({parent}), N and Nm:")
    titles = list(reactions)
    print("   " + "".join(f"{t:>12}" for t in titles))
    for row in zip(*(reactions[t] for t in titles)):
        print("   " + (row[0] or "").rjust(12) + "".join(f"{float(v or 'nan'):>12.1f}" for v in row[1:]))
    balance = OutputFileParser.get_result(output, parent)["Balance"]
    loads = [float(balance[c][0] or "nan") for c in "XYZ"]
    supports = [float(balance[c][1] or "nan") for c in "XYZ"]
    print(f"   loads {loads} N, reactions {supports} N: "
          f"{'balanced' if all(abs(a + b) <= 1e-9 * max(map(abs, loads)) for a, b in zip(loads, supports)) else 'NOT balanced'}")


def main() -> None:
    model = build_model()
    input_file, def_file = model.generate_xml_input()
    analysis = TarsisAnalysis(input_file, def_file, io.BytesIO(b"ESA project"), CalcSetting.LIN)
    analysis.execute(timeout=60)
    output = analysis.get_xml_output_file()
    assert isinstance(output, io.BytesIO), "the analysis returned no output XML"
    show(output, "Load case - DEAD")
    show(output, "Combination - ULS")

    try:
        from norvale.external.tarsis import plot
    except ImportError:
        print("matplotlib is not installed: no pictures")
        return
    OUT.mkdir(exist_ok=True)
    plot.plot_model(model, "DEAD", labels=True).savefig(OUT / "tarsis_model.png", dpi=90)
    plot.plot_results(model, output, "Combination - ULS", "My").savefig(OUT / "tarsis_my.png", dpi=90)
    plot.plot_results(model, output, "Combination - ULS", "deformed").savefig(OUT / "tarsis_deformed.png", dpi=90)
    print(f"pictures: {', '.join(p.name for p in sorted(OUT.glob('tarsis_*.png')))} in {OUT}")


if __name__ == "__main__":
    from norvale.worker import standins

    standins.configure_all()
    main()
