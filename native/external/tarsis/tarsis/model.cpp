// Model: the Tarsis model builder. The class itself (constructor, accessors); its create-methods
// live in model_<area>.cpp and its serialization in model_io.cpp.
#include "model_support.h"

#include <string>

namespace norvale::tarsis {

namespace {

nb::handle g_model_class;

/// Docs of the accessors that say more than "the <registry>, in the order they were created".
const char *accessor_doc(model::Reg r) {
    switch (r) {
        case model::mesh_setup: return "The mesh set-up (the object itself: changes reach the generated input).";
        case model::solver_setup: return "The solver set-up (the object itself).";
        case model::project_data: return "The project data (the object itself).";
        case model::layers: return "The layers, in the order they were created.";
        default: return nullptr;
    }
}

/// What the accessor of registry `r` returns: the elements as a tuple, or the setup object itself.
nb::object accessor_value(nb::handle self, model::Reg r) {
    nb::object value = model::registry(self, r);
    switch (registry::kRows[r].kind) {
        case registry::Kind::Setup: return value;
        case registry::Kind::Dict: value = nb::steal(PyObject_CallMethodNoArgs(value.ptr(), NV_STR("values")));
            if (!value.is_valid()) throw nb::python_error();
            break;
        case registry::Kind::List: break;
    }
    PyObject *t = PySequence_Tuple(value.ptr());
    if (t == nullptr) throw nb::python_error();
    return nb::steal(t);
}

void set_attr(nb::handle self, model::Reg r, nb::handle value) {
    if (PyObject_SetAttr(self.ptr(), model::attr_name(r), value.ptr()) < 0) throw nb::python_error();
}

/// `given` if it is true, else a new object of the setup's class (a module global, looked up now).
nb::object setup_or_default(nb::handle given, model::Reg r) {
    if (model::truthy(given)) return nb::borrow(given);
    return scope().global(registry::kRows[r].element)();
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

    for (int r = 0; r < registry::id_count; ++r) {
        const registry::Row &row = registry::kRows[r];
        if (row.accessor == nullptr) continue;
        std::string returns = row.kind == registry::Kind::Setup ? row.element
                                                                : std::string("Tuple[") + row.element + ", ...]";
        auto reg = static_cast<model::Reg>(r);
        cls.def_property(row.accessor, returns.c_str(), [reg](nb::handle self) { return accessor_value(self, reg); },
                         accessor_doc(reg));
    }

    nb::object built = cls.finish();
    bind::def_method(
        built, "__init__",
        "(self, *, mesh_setup: Optional[MeshSetup] = None, solver_setup: Optional[SolverSetup] = None, "
        "project_data: Optional[ProjectData] = None) -> None",
        [](nb::handle self, nb::handle mesh_setup, nb::handle solver_setup, nb::handle project_data) {
            for (int r = 0; r < model::registry_count; ++r) {
                PyObject *empty = registry::kRows[r].kind == registry::Kind::Dict ? PyDict_New() : PyList_New(0);
                if (empty == nullptr) throw nb::python_error();
                set_attr(self, static_cast<model::Reg>(r), nb::steal(empty));
            }
            set_attr(self, model::mesh_setup, setup_or_default(mesh_setup, model::mesh_setup));
            set_attr(self, model::solver_setup, setup_or_default(solver_setup, model::solver_setup));
            set_attr(self, model::project_data, setup_or_default(project_data, model::project_data));
        },
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
