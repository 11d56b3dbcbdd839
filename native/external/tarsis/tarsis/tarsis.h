// norvale.external.tarsis.tarsis: the Tarsis analysis job, model builder and output parser.
//
// Each area lives in files of its own and registers its names through one init function, called
// in this order by module.cpp.
#pragma once

#include "bindings/pyclass.h"

namespace norvale::tarsis {

namespace nb = nanobind;

/// The module's namespace (globals looked up at call time).
norvale::bind::ModuleScope &scope();

/// CalcSetting, ResultType, TarsisAnalysis (analysis.cpp).
void init_analysis(nb::module_ &m);
/// OutputFileParser (parser.cpp).
void init_parser(nb::module_ &m);
/// Model and its create-methods (model*.cpp).
void init_model(nb::module_ &m);
/// Model._serialize and Model.generate_xml_input, attached to the built Model class (model_io.cpp).
void init_model_io(nb::module_ &m);

}  // namespace norvale::tarsis
