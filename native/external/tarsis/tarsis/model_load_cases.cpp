// Model: load groups, load cases, linear and nonlinear combinations, result classes.
#include "model_support.h"

namespace norvale::tarsis::model {

namespace {

/// A missing or empty list becomes a new empty list.
nb::object list_or_empty(nb::handle given) {
    if (truthy(given))
        return nb::borrow(given);
    return nb::steal(PyList_New(0));
}

}  // namespace

void add_load_case_methods(norvale::bind::ClassBuilder &cls) {
    cls.def(
        "create_load_group",
        [](nb::handle self, nb::handle name, nb::handle load_option, nb::handle relation, nb::handle load_type) {
            nb::object id = next_id(self, load_groups);
            return store(self, load_groups, NV_GLOBAL(LoadGroup)(id, name, load_option, relation, load_type));
        },
        req("name"), req("load_option"), opt("relation"), opt("load_type"), "Creates a load group.");

    cls.def(
        "create_permanent_load_case",
        [](nb::handle self, nb::handle name, nb::handle description, nb::handle load_group, nb::handle load_type,
           nb::handle direction, nb::handle primary_effect) {
            check(self, load_groups, load_group, "Load group not defined in current model");
            check_optional(self, load_cases, primary_effect, "Primary effect load case not defined in current model");
            nb::object id = next_id(self, load_cases);
            return store(self, load_cases,
                         NV_GLOBAL(PermanentLoadCase)(id, name, description, load_group, load_type, direction,
                                                      primary_effect));
        },
        req("name"), req("description"), req("load_group"), req("load_type"), opt("direction"), opt("primary_effect"),
        "Creates a permanent load case in a load group.");

    cls.def(
        "create_variable_load_case",
        [](nb::handle self, nb::handle name, nb::handle description, nb::handle load_group, nb::handle load_type,
           nb::handle specification, nb::handle duration, nb::handle primary_effect) {
            check(self, load_groups, load_group, "Load group not defined in current model");
            check_optional(self, load_cases, primary_effect, "Primary effect load case not defined in current model");
            nb::object id = next_id(self, load_cases);
            return store(self, load_cases,
                         NV_GLOBAL(VariableLoadCase)(id, name, description, load_group, load_type, specification,
                                                     duration, primary_effect));
        },
        req("name"), req("description"), req("load_group"), req("load_type"), opt("specification"), opt("duration"),
        opt("primary_effect"), "Creates a variable load case in a load group.");

    cls.def(
        "create_load_combination",
        [](nb::handle self, nb::handle name, nb::handle load_type, nb::handle load_cases_, nb::handle description) {
            check_each(self, load_cases, load_cases_, "One or more load cases not defined in current model");
            nb::object id = next_id(self, load_combinations);
            return store(self, load_combinations,
                         NV_GLOBAL(LoadCombination)(id, name, load_type, load_cases_,
                                                    nb::arg("description") = description));
        },
        req("name"), req("load_type"), req("load_cases"), nb::kw_only(), opt("description"),
        "Creates a combination of load cases, given as {load case: coefficient}.");

    cls.def(
        "create_nonlinear_load_combination",
        [](nb::handle self, nb::handle load_type, nb::handle load_cases_, nb::handle name, nb::handle description) {
            check_each(self, load_cases, load_cases_, "One or more load cases not defined in current model");
            nb::object id = next_id(self, nonlinear_load_combinations);
            nb::object nm = default_name(name, "NC", id);
            return store(self, nonlinear_load_combinations,
                         NV_GLOBAL(NonLinearLoadCombination)(id, nm, load_type, load_cases_,
                                                             nb::arg("description") = description));
        },
        req("load_type"), req("load_cases"), nb::kw_only(), opt("name"), opt("description"),
        "Creates a nonlinear combination of load cases; a missing name becomes NC<id>.");

    cls.def(
        "create_result_class",
        [](nb::handle self, nb::handle name, nb::handle combinations_in, nb::handle nonlinear_in) {
            nb::object combinations = list_or_empty(combinations_in);
            check_each(self, load_combinations, combinations,
                       "One or more load combinations not defined in current model");
            nb::object nonlinear = list_or_empty(nonlinear_in);
            check_each(self, nonlinear_load_combinations, nonlinear,
                       "One or more nonlinear load combinations not defined in current model");
            nb::object id = next_id(self, result_classes);
            return store(self, result_classes, NV_GLOBAL(ResultClass)(id, name, combinations, nonlinear));
        },
        req("name"), opt("combinations"), opt("nonlinear_combinations"),
        "Creates a result class gathering combinations.");
}

}  // namespace norvale::tarsis::model
