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
    using norvale::bind::def_method;
    nb::module_ abc = nb::module_::import_("abc");
    action_class = ClassBuilder(s, "KORROAction", nb::make_tuple(abc.attr("ABC")), abc.attr("ABCMeta"))
                       .doc("Abstract base class of all KORRO action objects.")
                       .def_abstract_property("_config", "Dict[str, Any]", &action_config)
                       .finish()
                       .release();
    def_method(action_class, "__init__", "(self, id_: int) -> None",
               [](nb::handle self, nb::handle id) { action_init(self, id); });

    energy_class = ClassBuilder(s, "EnergyOptimizationAction", nb::make_tuple(action_class))
                       .doc(kEnergyDoc)
                       .def_property("_config", "Dict[str, Any]", &energy_config)
                       .finish()
                       .release();
    def_method(energy_class, "__init__",
               "(self, load_cases: Optional[Sequence[int]], loading_type: LoadingType = LoadingType.LOAD_CASE, *, "
               "goal: float, accuracy: float) -> None",
               [](nb::handle self, nb::handle load_cases, nb::handle loading_type, nb::handle goal,
                  nb::handle accuracy) { energy_init(self, load_cases, loading_type, goal, accuracy); });

    // `_config` walks copy_from_to twice, unpacking every pair as Python does (and with its errors).
    copy_class = ClassBuilder(s, "CopyNodalLoadAction", nb::make_tuple(action_class))
                     .doc(kCopyDoc)
                     .def_python_property("_config", "Dict[str, Any]", R"(
                         return {"Factor": self.factor,
                                 "SlsLoads": [first for first, _ in self.copy_from_to],
                                 "UlsLoads": [second for _, second in self.copy_from_to],
                                 "loadingType": self.loading_type.value}
                     )")
                     .finish()
                     .release();
    def_method(copy_class, "__init__",
               "(self, copy_from_to: Sequence[Tuple[int, int]], loading_type: LoadingType = LoadingType.LOAD_CASE, "
               "*, factor: float = 1.0) -> None",
               [](nb::handle self, nb::handle copy_from_to, nb::handle loading_type, nb::handle factor) {
                   copy_init(self, copy_from_to, loading_type, factor);
               });

    write_class = ClassBuilder(s, "WriteResultsAction", nb::make_tuple(action_class))
                      .doc(kWriteDoc)
                      .def_property("_config", "Dict[str, Any]", &write_config)
                      .finish()
                      .release();
    def_method(write_class, "__init__",
               "(self, load_cases: Optional[Sequence[int]] = None, loading_type: LoadingType = LoadingType.LOAD_CASE)"
               " -> None",
               [](nb::handle self, nb::handle load_cases, nb::handle loading_type) {
                   write_init(self, load_cases, loading_type);
               });
}

}  // namespace norvale::korro
