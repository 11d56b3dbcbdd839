// norvale.external.korro: Korro actions and the Korro analysis job.
#pragma once

#include "bindings/pyclass.h"

namespace norvale::korro {

namespace nb = nanobind;

/// The module's namespace (globals looked up at call time).
const norvale::bind::ModuleScope &scope();

/// LoadingType, KORROAction and the three actions (actions.cpp).
void init_actions(nb::module_ &m);
/// KORROAnalysis (analysis.cpp).
void init_analysis(nb::module_ &m);

}  // namespace norvale::korro
