"""A two-storey steel frame with a concrete floor slab, built with the Tarsis model builder.

Two bays of 6 m and two storeys of 3.5 m in the XZ plane, repeated as three frames 5 m apart;
columns fixed at the base, beams between the columns, the first-floor slab as a plate over the
first two frames. Load cases for dead load, imposed load on the floors and wind, combined for the
ultimate limit state.

`build_example_model()` returns the filled `Model`; `main()` prints what it holds.
"""

from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import Model

BAYS = (0.0, 6.0, 12.0)  # column lines along X, m
LEVELS = (0.0, 3.5, 7.0)  # base, first floor, roof, m
FRAMES = (0.0, 5.0, 10.0)  # frame planes along Y, m


def build_example_model() -> Model:
    model = Model(project_data=obj.ProjectData(name="Two-storey frame", author="norvale example"))
    steel = obj.Material("S355")
    concrete = obj.Material("C30/37")

    frames_layer = model.create_layer("Frames", comment="columns and beams")
    column = model.create_library_cross_section(obj.LibraryCrossSection.Section.I, "HEB240", steel, name="Column")
    girder = model.create_library_cross_section(obj.LibraryCrossSection.Section.I, "IPE360", steel, name="Girder")
    tie = model.create_rectangular_cross_section("Tie", steel, 0.1, 0.1)

    # Nodes, by (frame, level, column line).
    node = {}
    for f, y in enumerate(FRAMES):
        for lv, z in enumerate(LEVELS):
            for c, x in enumerate(BAYS):
                node[f, lv, c] = model.create_node(f"N{f}{lv}{c}", x, y, z)

    columns, beams, roof_girders = [], [], []
    for f in range(len(FRAMES)):
        for c in range(len(BAYS)):
            for lv in range(len(LEVELS) - 1):
                columns.append(model.create_beam(node[f, lv, c], node[f, lv + 1, c], column, layer=frames_layer))
        for lv in range(1, len(LEVELS)):
            for c in range(len(BAYS) - 1):
                beams.append(model.create_beam(node[f, lv, c], node[f, lv, c + 1], girder, layer=frames_layer))
                if lv == len(LEVELS) - 1:
                    roof_girders.append(beams[-1])
    # Ties between the frames at roof level, pinned at both ends.
    for f in range(len(FRAMES) - 1):
        for c in range(len(BAYS)):
            tie_beam = model.create_beam(node[f, 2, c], node[f + 1, 2, c], tie)
            model.create_hinge_on_beam(tie_beam, obj.HingeOnBeam.Position.BOTH)

    # Fixed column bases.
    rigid = obj.PointSupport.Freedom.RIGID
    fixed = (rigid, rigid, rigid, rigid, rigid, rigid)
    for f in range(len(FRAMES)):
        for c in range(len(BAYS)):
            model.create_point_support(f"Base{f}{c}", node[f, 0, c], obj.PointSupport.Type.STANDARD, fixed,
                                       (0.0, 0.0, 0.0, 0.0, 0.0, 0.0), obj.PointSupport.CSys.GLOBAL)

    # First-floor slab over the first two frames, with a stair opening.
    slab = model.create_plane([node[0, 1, 0], node[0, 1, 2], node[1, 1, 2], node[1, 1, 0]], 0.2,
                              material=concrete, name="Floor")
    corners = [model.create_node(f"O{i}", x, y, 3.5) for i, (x, y) in enumerate([(1, 1), (3, 1), (3, 2.5), (1, 2.5)])]
    model.create_open_slab("Stair", slab, corners)
    model.create_section_on_plane((0.0, 2.5, 3.5), (12.0, 2.5, 3.5), name="MidSpan")

    # Loads.
    permanent = model.create_load_group("Permanent", obj.LoadGroup.LoadOption.PERMANENT)
    imposed = model.create_load_group("Imposed", obj.LoadGroup.LoadOption.VARIABLE,
                                      load_type=obj.LoadGroup.LoadTypeOption.OFFICES)
    wind = model.create_load_group("Wind", obj.LoadGroup.LoadOption.VARIABLE,
                                   load_type=obj.LoadGroup.LoadTypeOption.WIND)
    dead = model.create_permanent_load_case("LC1", "Self weight", permanent, obj.LoadCase.PermanentLoadType.SELF_WEIGHT)
    finishes = model.create_permanent_load_case("LC2", "Finishes", permanent, obj.LoadCase.PermanentLoadType.STANDARD)
    office = model.create_variable_load_case("LC3", "Office floors", imposed, obj.LoadCase.VariableLoadType.STATIC,
                                             duration=obj.LoadCase.Duration.MEDIUM)
    gust = model.create_variable_load_case("LC4", "Wind from +X", wind, obj.LoadCase.VariableLoadType.STATIC,
                                           specification=obj.LoadCase.Specification.STATIC_WIND)

    model.create_surface_load("Screed", finishes, slab, obj.SurfaceLoad.Direction.Z, obj.SurfaceLoad.Type.FORCE,
                              -1500.0, obj.SurfaceLoad.CSys.GLOBAL, obj.SurfaceLoad.Location.LENGTH)
    model.create_surface_load("Office", office, slab, obj.SurfaceLoad.Direction.Z, obj.SurfaceLoad.Type.FORCE,
                              -3000.0, obj.SurfaceLoad.CSys.GLOBAL, obj.SurfaceLoad.Location.LENGTH)
    for girder_beam in roof_girders:
        model.create_line_load("Roof", finishes, girder_beam, obj.LineLoad.Type.FORCE, obj.LineLoad.Distribution.UNIFORM,
                               -4000.0, -4000.0, obj.LineLoad.Direction.Z, 0.0, 1.0, obj.LineLoad.CDef.RELATIVE,
                               obj.LineLoad.CSys.GLOBAL, obj.LineLoad.Origin.FROM_START, 0.0, 0.0)
    for f in range(len(FRAMES)):
        for lv in (1, 2):
            model.create_point_load_node(node[f, lv, 0], gust, 8000.0 / lv, direction=obj.PointLoadNode.Direction.X)
    model.create_point_load("Plant", office, beams[0], obj.PointLoad.Direction.Z, obj.PointLoad.Type.FORCE, -10e3,
                            position_x=0.5)

    uls = model.create_load_combination("ULS", obj.LoadCombination.Type.ULS_SET_B,
                                        {dead: 1.35, finishes: 1.35, office: 1.5, gust: 0.9},
                                        description="Ultimate limit state, imposed load leading")
    sls = model.create_load_combination("SLS", obj.LoadCombination.Type.SLS_CHARACTERISTIC,
                                        {dead: 1.0, finishes: 1.0, office: 1.0, gust: 0.6})
    model.create_result_class("Design", [uls, sls])
    model.create_selection("Ground floor columns", [c for c in columns if c.begin_node.z == 0.0])
    return model


def main() -> None:
    model = build_example_model()
    counts = {name: len(getattr(model, name)) for name in (
        "nodes", "beams", "planes", "open_slabs", "point_supports", "hinges_on_beam", "load_cases",
        "load_combinations", "surface_loads", "line_loads", "point_loads_node", "point_loads")}
    print("Tarsis model:", ", ".join(f"{n} {k.replace('_', ' ')}" for k, n in counts.items()))
    uls = model.load_combinations[0]
    print("ULS combination:", ", ".join(f"{case.name} x {c}" for case, c in uls.load_cases.items()))


if __name__ == "__main__":
    main()
