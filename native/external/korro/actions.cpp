// Korro actions: what the worker does to the model, in order, each with a configuration dict.
#include "korro.h"

namespace norvale::korro {

using namespace nb::literals;
using norvale::bind::ClassBuilder;
using norvale::bind::super_of;

namespace {

nb::handle action_class, energy_class, copy_class, write_class;

constexpr const char *kLoadingTypeDoc =
    "Whether the numbers in an action's load list are load case numbers (LOAD_CASE) or load combination "
    "numbers (LOAD_COMBINATION).";

constexpr const char *kEnergyDoc =
    "Iterative analysis (a series of KORRO analyses) that solves for the magnitude of the 1st nodal load so\n"
    "that the energy at that node about equals `goal` (Nm).\n\n"
    "The iteration ends successfully once the change in displacement of that node is lower than `accuracy`\n"
    "(m); a lower accuracy in general means more iterations. It runs for each load case/combination in\n"
    "`load_cases` (a list of int, or None for all); the same goal and accuracy serve all of them.";

constexpr const char *kCopyDoc =
    "Copies the nodal load from one load case to another and applies `factor` to its magnitude.\n\n"
    "`copy_from_to` is a list of (from, to) pairs. Only the 1st nodal load of each load case/combination is\n"
    "copied from and to; other loads are ignored, so both cases of a pair must hold at least one nodal load.";

constexpr const char *kWriteDoc =
    "Writes all nodal deformations (X, Y, Z) and member internal forces (Location, My, Mz, Fy, Fz) of the\n"
    "model in its current state for each listed load case/combination (None: all), so that\n"
    "KORROAnalysis.get_result can return them.";

void action_init(nb::handle self, nb::handle id) { self.attr("_id") = id; }

nb::object action_config(nb::handle) { norvale::bind::raise_bare(PyExc_NotImplementedError); }

nb::object loading_type_value(nb::handle self) { return self.attr("loading_type").attr("value"); }

void energy_init(nb::handle self, nb::handle load_cases, nb::handle loading_type, nb::handle goal,
                 nb::handle accuracy) {
    super_of(energy_class, self).attr("__init__")(0);
    self.attr("load_cases") = load_cases;
    self.attr("loading_type") = loading_type;
    self.attr("goal") = goal;
    self.attr("accuracy") = accuracy;
}

nb::dict energy_config(nb::handle self) {
    nb::dict config;
    config["goal"] = self.attr("goal");
    config["accuracy"] = self.attr("accuracy");
    config["loads"] = self.attr("load_cases");
    config["loadingType"] = loading_type_value(self);
    return config;
}

void copy_init(nb::handle self, nb::handle copy_from_to, nb::handle loading_type, nb::handle factor) {
    super_of(copy_class, self).attr("__init__")(5);
    self.attr("factor") = factor;
    self.attr("copy_from_to") = copy_from_to;
    self.attr("loading_type") = loading_type;
}

// One walk over copy_from_to, keeping item `which` of every pair (each pair unpacked into two).
nb::list pair_items(nb::handle pairs, int which) {
    nb::list out;
    for (nb::handle pair : pairs) {
        auto [first, second] = norvale::bind::unpack_pair(pair);
        out.append(which == 0 ? first : second);
    }
    return out;
}

nb::dict copy_config(nb::handle self) {
    nb::dict config;
    config["Factor"] = self.attr("factor");
    config["SlsLoads"] = pair_items(self.attr("copy_from_to"), 0);
    config["UlsLoads"] = pair_items(self.attr("copy_from_to"), 1);
    config["loadingType"] = loading_type_value(self);
    return config;
}

void write_init(nb::handle self, nb::handle load_cases, nb::handle loading_type) {
    super_of(write_class, self).attr("__init__")(4);
    self.attr("load_cases") = load_cases;
    self.attr("loading_type") = loading_type;
}

nb::dict write_config(nb::handle self) {
    nb::dict config;
    config["FilenamePrefix"] = "summary";
    config["LoadingType"] = loading_type_value(self);
    nb::object load_cases = self.attr("load_cases");
    if (norvale::bind::truthy(load_cases)) config["Loads"] = load_cases;
    return config;
}

}  // namespace

void init_actions(nb::module_ &) {
    const auto &s = scope();
    nb::list members;
    members.append(nb::make_tuple("LOAD_CASE", 1));
    members.append(nb::make_tuple("LOAD_COMBINATION", 2));
    nb::object loading_type = norvale::bind::make_enum(s, "LoadingType", members, kLoadingTypeDoc);
    nb::object load_case = loading_type.attr("LOAD_CASE");  // the default, evaluated once

    nb::module_ abc = nb::module_::import_("abc");
    ClassBuilder base(s, "KORROAction", nb::make_tuple(abc.attr("ABC")), abc.attr("ABCMeta"));
    base.doc("Abstract base class of all KORRO action objects.")
        .def("__init__", &action_init, "id_"_a)
        .def_abstract_property("_config", &action_config);
    action_class = base.finish().release();

    ClassBuilder energy(s, "EnergyOptimizationAction", nb::make_tuple(action_class));
    energy.doc(kEnergyDoc)
        .def("__init__", &energy_init, "load_cases"_a.none(), "loading_type"_a.none() = load_case, nb::kw_only(),
             "goal"_a.none(), "accuracy"_a.none())
        .def_property_readonly("_config", &energy_config);
    energy_class = energy.finish().release();

    ClassBuilder copy(s, "CopyNodalLoadAction", nb::make_tuple(action_class));
    copy.doc(kCopyDoc)
        .def("__init__", &copy_init, "copy_from_to"_a.none(), "loading_type"_a.none() = load_case, nb::kw_only(),
             "factor"_a.none() = 1.0)
        .def_property_readonly("_config", &copy_config);
    copy_class = copy.finish().release();

    ClassBuilder write(s, "WriteResultsAction", nb::make_tuple(action_class));
    write.doc(kWriteDoc)
        .def("__init__", &write_init, "load_cases"_a.none() = nb::none(), "loading_type"_a.none() = load_case)
        .def_property_readonly("_config", &write_config);
    write_class = write.finish().release();
}

}  // namespace norvale::korro
