// Korro actions: what the worker does to the model, in order, each with a configuration dict.
#include "korro.h"

#include "bindings/fastmethod.h"

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
    nb::object loading_type_enum = norvale::bind::make_enum(s, "LoadingType", members, kLoadingTypeDoc);
    nb::object load_case = loading_type_enum.attr("LOAD_CASE");  // the default, evaluated once

    using norvale::bind::def_fast;
    using norvale::bind::kw;
    using norvale::bind::pos;
    nb::module_ abc = nb::module_::import_("abc");
    action_class = ClassBuilder(s, "KORROAction", nb::make_tuple(abc.attr("ABC")), abc.attr("ABCMeta"))
                       .doc("Abstract base class of all KORRO action objects.")
                       .def_abstract_property("_config", &action_config)
                       .finish()
                       .release();
    def_fast(action_class, "__init__", [](nb::handle self, nb::handle id) { action_init(self, id); }, {pos("id_")});

    energy_class = ClassBuilder(s, "EnergyOptimizationAction", nb::make_tuple(action_class))
                       .doc(kEnergyDoc)
                       .def_property_readonly("_config", &energy_config)
                       .finish()
                       .release();
    def_fast(energy_class, "__init__",
             [](nb::handle self, nb::handle load_cases, nb::handle loading_type, nb::handle goal, nb::handle accuracy) {
                 energy_init(self, load_cases, loading_type, goal, accuracy);
             },
             {pos("load_cases"), pos("loading_type", load_case, "LoadingType.LOAD_CASE"), kw("goal"), kw("accuracy")});

    copy_class = ClassBuilder(s, "CopyNodalLoadAction", nb::make_tuple(action_class))
                     .doc(kCopyDoc)
                     .def_property_readonly("_config", &copy_config)
                     .finish()
                     .release();
    def_fast(copy_class, "__init__",
             [](nb::handle self, nb::handle copy_from_to, nb::handle loading_type, nb::handle factor) {
                 copy_init(self, copy_from_to, loading_type, factor);
             },
             {pos("copy_from_to"), pos("loading_type", load_case, "LoadingType.LOAD_CASE"),
              kw("factor", nb::float_(1.0))});

    write_class = ClassBuilder(s, "WriteResultsAction", nb::make_tuple(action_class))
                      .doc(kWriteDoc)
                      .def_property_readonly("_config", &write_config)
                      .finish()
                      .release();
    def_fast(write_class, "__init__",
             [](nb::handle self, nb::handle load_cases, nb::handle loading_type) {
                 write_init(self, load_cases, loading_type);
             },
             {pos("load_cases", nb::none()), pos("loading_type", load_case, "LoadingType.LOAD_CASE")});
}

}  // namespace norvale::korro
