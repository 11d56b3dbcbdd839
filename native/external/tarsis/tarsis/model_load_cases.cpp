// Model: load groups, load cases, linear and nonlinear combinations, result classes.
#include "model_support.h"

namespace norvale::tarsis::model {

namespace {

/// A missing or empty list becomes a new empty list.
nb::object list_or_empty(nb::handle given) {
    if (truthy(given)) return nb::borrow(given);
    return nb::steal(PyList_New(0));
}

}  // namespace

void add_load_case_methods(nb::handle cls) {
    bind::def_method(
        cls, "create_load_group",
        "(self, name: str, load_option: Union[LoadGroup.LoadOption, str], "
        "relation: Optional[Union[LoadGroup.RelationOption, str]] = None, "
        "load_type: Optional[Union[LoadGroup.LoadTypeOption, str]] = None) -> LoadGroup",
        [](nb::handle self, nb::handle name, nb::handle load_option, nb::handle relation, nb::handle load_type) {
            nb::object id = next_id(self, load_groups);
            return store(self, load_groups, make(NV_GLOBAL(LoadGroup), id, name, load_option, relation, load_type));
        },
        "Creates a load group.");

    bind::def_method(
        cls, "create_permanent_load_case",
        "(self, name: str, description: str, load_group: LoadGroup, load_type: Union[LoadCase.PermanentLoadType, "
        "str], direction: Optional[Union[LoadCase.Direction, str]] = None, "
        "primary_effect: Optional[LoadCase] = None) -> PermanentLoadCase",
        [](nb::handle self, nb::handle name, nb::handle description, nb::handle load_group, nb::handle load_type,
           nb::handle direction, nb::handle primary_effect) {
            check(self, load_groups, load_group, "Load group not defined in current model");
            check_optional(self, load_cases, primary_effect, "Primary effect load case not defined in current model");
            nb::object id = next_id(self, load_cases);
            return store(self, load_cases,
                         make(NV_GLOBAL(PermanentLoadCase), id, name, description, load_group, load_type, direction,
                              primary_effect));
        },
        "Creates a permanent load case in a load group.");

    bind::def_method(
        cls, "create_variable_load_case",
        "(self, name: str, description: str, load_group: LoadGroup, load_type: Union[LoadCase.VariableLoadType, "
        "str], specification: Optional[Union[LoadCase.Specification, str]] = None, "
        "duration: Optional[Union[LoadCase.Duration, str]] = None, "
        "primary_effect: Optional[LoadCase] = None) -> VariableLoadCase",
        [](nb::handle self, nb::handle name, nb::handle description, nb::handle load_group, nb::handle load_type,
           nb::handle specification, nb::handle duration, nb::handle primary_effect) {
            check(self, load_groups, load_group, "Load group not defined in current model");
            check_optional(self, load_cases, primary_effect, "Primary effect load case not defined in current model");
            nb::object id = next_id(self, load_cases);
            return store(self, load_cases,
                         make(NV_GLOBAL(VariableLoadCase), id, name, description, load_group, load_type, specification,
                              duration, primary_effect));
        },
        "Creates a variable load case in a load group.");

    bind::def_method(
        cls, "create_load_combination",
        "(self, name: str, load_type: Union[LoadCombination.Type, str], load_cases: Dict[LoadCase, float], *, "
        "description: Optional[str] = None) -> LoadCombination",
        [](nb::handle self, nb::handle name, nb::handle load_type, nb::handle load_cases_, nb::handle description) {
            check_each(self, load_cases, load_cases_, "One or more load cases not defined in current model");
            nb::object id = next_id(self, load_combinations);
            return store(self, load_combinations,
                         make_kw(NV_GLOBAL(LoadCombination), NV_KWNAMES("description"), id, name, load_type,
                                 load_cases_, description));
        },
        "Creates a combination of load cases, given as {load case: coefficient}.");

    bind::def_method(
        cls, "create_nonlinear_load_combination",
        "(self, load_type: Union[NonLinearLoadCombination.Type, str], load_cases: Dict[LoadCase, float], *, "
        "name: Optional[str] = None, description: Optional[str] = None) -> NonLinearLoadCombination",
        [](nb::handle self, nb::handle load_type, nb::handle load_cases_, nb::handle name, nb::handle description) {
            check_each(self, load_cases, load_cases_, "One or more load cases not defined in current model");
            nb::object id = next_id(self, nonlinear_load_combinations);
            nb::object nm = default_name(name, "NC", id);
            return store(self, nonlinear_load_combinations,
                         make_kw(NV_GLOBAL(NonLinearLoadCombination), NV_KWNAMES("description"), id, nm, load_type,
                                 load_cases_, description));
        },
        "Creates a nonlinear combination of load cases; a missing name becomes NC<id>.");

    bind::def_method(
        cls, "create_result_class",
        "(self, name: str, combinations: Optional[Sequence[LoadCombination]] = None, "
        "nonlinear_combinations: Optional[Sequence[NonLinearLoadCombination]] = None) -> ResultClass",
        [](nb::handle self, nb::handle name, nb::handle combinations_in, nb::handle nonlinear_in) {
            nb::object combinations = list_or_empty(combinations_in);
            check_each(self, load_combinations, combinations,
                       "One or more load combinations not defined in current model");
            nb::object nonlinear = list_or_empty(nonlinear_in);
            check_each(self, nonlinear_load_combinations, nonlinear,
                       "One or more nonlinear load combinations not defined in current model");
            nb::object id = next_id(self, result_classes);
            return store(self, result_classes, make(NV_GLOBAL(ResultClass), id, name, combinations, nonlinear));
        },
        "Creates a result class gathering combinations.");
}

}  // namespace norvale::tarsis::model
