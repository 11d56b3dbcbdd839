// Model: the Tarsis model builder. The class itself (constructor, accessors); its create-methods
// live in model_<area>.cpp and its serialization in model_io.cpp.
#include "model_support.h"

namespace norvale::tarsis {

namespace {

nb::handle g_model_class;

/// Accessor names of the 44 collection registries, with the registry each returns.
struct Accessor {
    const char *name;
    model::Reg reg;
};

constexpr Accessor kAccessors[] = {
    {"cross_sections", model::cross_sections},
    {"concrete_materials", model::concrete_materials},
    {"subsoils", model::subsoils},
    {"nonlinear_functions", model::nonlinear_functions},
    {"orthotropy_objects", model::orthotropy_objects},
    {"selections", model::selections},
    {"nodes", model::nodes},
    {"beams", model::beams},
    {"cross_links", model::cross_links},
    {"arbitrary_profiles", model::arbitrary_profiles},
    {"hinges_on_beam", model::hinges_on_beam},
    {"hinges_on_plane", model::hinges_on_plane},
    {"sections_on_beam", model::sections_on_beam},
    {"planes", model::planes},
    {"open_slabs", model::open_slabs},
    {"internal_edges", model::internal_edges},
    {"rigid_arms", model::rigid_arms},
    {"point_supports", model::point_supports},
    {"point_supports_line", model::point_supports_line},
    {"line_supports_line", model::line_supports_line},
    {"line_supports_surface", model::line_supports_surface},
    {"surface_supports", model::surface_supports},
    {"load_cases", model::load_cases},
    {"load_groups", model::load_groups},
    {"load_combinations", model::load_combinations},
    {"nonlinear_load_combinations", model::nonlinear_load_combinations},
    {"result_classes", model::result_classes},
    {"point_loads", model::point_loads},
    {"point_loads_node", model::point_loads_node},
    {"point_moments_node", model::point_moments_node},
    {"line_loads", model::line_loads},
    {"line_moments_on_beam", model::line_moments_on_beam},
    {"line_moments_on_plane", model::line_moments_on_plane},
    {"line_force_surface_list", model::line_force_surface_list},
    {"surface_loads", model::surface_loads},
    {"thermal_loads", model::thermal_loads},
    {"thermal_surface_loads", model::thermal_surface_loads},
    {"free_surface_loads", model::free_surface_loads},
    {"free_line_loads", model::free_line_loads},
    {"free_point_loads", model::free_point_loads},
    {"integration_strips", model::integration_strips},
    {"averaging_strips", model::averaging_strips},
    {"sections_on_plane", model::sections_on_plane},
};
static_assert(sizeof(kAccessors) / sizeof(kAccessors[0]) == 43);  // plus `layers`: 44

nb::object tuple_of(nb::handle seq) {
    PyObject *t = PySequence_Tuple(seq.ptr());
    if (t == nullptr) throw nb::python_error();
    return nb::steal(t);
}

void set_attr(nb::handle self, model::Reg r, nb::handle value) {
    if (PyObject_SetAttr(self.ptr(), model::attr_name(r), value.ptr()) < 0) throw nb::python_error();
}

/// `given` if it is true, else a new `cls()`.
nb::object setup_or_default(nb::handle given, PyObject *cls_name) {
    if (model::truthy(given)) return nb::borrow(given);
    return model::global(cls_name)();
}

}  // namespace

nb::handle model_class() { return g_model_class; }

void init_model(nb::module_ &m) {
    using norvale::bind::ClassBuilder;
    namespace bind = norvale::bind;

    scope().import_from("norvale.external.tarsis.object", {"TarsisObject",
                                                           "Material",
                                                           "Layer",
                                                           "Concrete",
                                                           "NonLinearFunction",
                                                           "Subsoil",
                                                           "Orthotropy",
                                                           "Selection",
                                                           "CrossSection",
                                                           "RectangularCrossSection",
                                                           "CircularCrossSection",
                                                           "CircularHollowCrossSection",
                                                           "CircularComposedCrossSection",
                                                           "NumericalCrossSection",
                                                           "LibraryCrossSection",
                                                           "GeneralCrossSectionElement",
                                                           "GeneralCrossSection",
                                                           "ArbitraryProfileSpan",
                                                           "ArbitraryProfile",
                                                           "Node",
                                                           "Beam",
                                                           "CrossLink",
                                                           "HingeOnBeam",
                                                           "SectionOnBeam",
                                                           "SectionOnPlane",
                                                           "RigidArm",
                                                           "Plane",
                                                           "OpenSlab",
                                                           "InternalEdge",
                                                           "IntegrationStrip",
                                                           "AveragingStrip",
                                                           "PointSupport",
                                                           "PointSupportLine",
                                                           "LineSupportLine",
                                                           "LineSupportSurface",
                                                           "SurfaceSupportSurface",
                                                           "HingeOnPlane",
                                                           "LoadGroup",
                                                           "LoadCase",
                                                           "PermanentLoadCase",
                                                           "VariableLoadCase",
                                                           "LoadCombination",
                                                           "NonLinearLoadCombination",
                                                           "ResultClass",
                                                           "PointLoadNode",
                                                           "PointLoad",
                                                           "PointMomentNode",
                                                           "LineLoad",
                                                           "LineMomentOnBeam",
                                                           "LineMomentOnPlane",
                                                           "LineForceSurface",
                                                           "SurfaceLoad",
                                                           "ThermalLoad",
                                                           "ThermalSurfaceLoad",
                                                           "FreeSurfaceLoad",
                                                           "FreeLineLoad",
                                                           "FreePointLoad",
                                                           "MeshSetup",
                                                           "SolverSetup",
                                                           "ProjectData"});
    scope().import_from("norvale.geometry", {"Vector"});
    model::set_module(m);

    ClassBuilder cls(scope(), "Model");
    cls.doc(
        "A Tarsis structural model, built object by object.\n\n"
        "Every create-method checks that the objects it refers to belong to this model, numbers the new\n"
        "object within its kind, stores it and returns it. `generate_xml_input` turns the model into the\n"
        "input files of a `TarsisAnalysis`.");

    cls.def_property_readonly(
        "layers",
        [](nb::handle self) {
            nb::object values =
                nb::steal(PyObject_CallMethodNoArgs(model::registry(self, model::layers).ptr(), NV_STR("values")));
            if (!values.is_valid()) throw nb::python_error();
            return tuple_of(values);
        },
        "The layers, in the order they were created.");
    for (const Accessor &a : kAccessors) {
        model::Reg reg = a.reg;
        cls.def_property_readonly(a.name, [reg](nb::handle self) { return tuple_of(model::registry(self, reg)); });
    }
    cls.def_property_readonly(
        "mesh_setup", [](nb::handle self) { return model::registry(self, model::mesh_setup); },
        "The mesh set-up (the object itself: changes reach the generated input).");
    cls.def_property_readonly(
        "solver_setup", [](nb::handle self) { return model::registry(self, model::solver_setup); },
        "The solver set-up (the object itself).");
    cls.def_property_readonly(
        "project_data", [](nb::handle self) { return model::registry(self, model::project_data); },
        "The project data (the object itself).");

    nb::object built = cls.finish();
    bind::def_fast(
        built, "__init__",
        [](nb::handle self, nb::handle mesh_setup, nb::handle solver_setup, nb::handle project_data) {
            for (int r = 0; r < model::registry_count; ++r) {
                PyObject *empty = r == model::layers ? PyDict_New() : PyList_New(0);
                if (empty == nullptr) throw nb::python_error();
                set_attr(self, static_cast<model::Reg>(r), nb::steal(empty));
            }
            set_attr(self, model::mesh_setup, setup_or_default(mesh_setup, NV_STR("MeshSetup")));
            set_attr(self, model::solver_setup, setup_or_default(solver_setup, NV_STR("SolverSetup")));
            set_attr(self, model::project_data, setup_or_default(project_data, NV_STR("ProjectData")));
        },
        bind::kw_optional({"mesh_setup", "solver_setup", "project_data"}),
        "Creates an empty model; a setup not given (or false) is made with its class's defaults.");


    model::add_material_methods(built);
    model::add_section_methods(built);
    model::add_geometry_methods(built);
    model::add_support_methods(built);
    model::add_load_case_methods(built);
    model::add_load_methods(built);

    g_model_class = built.release();
}

}  // namespace norvale::tarsis
