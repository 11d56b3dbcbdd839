// The Tarsis Model class: what other parts of the module need to reach it from C++.
#pragma once

#include <nanobind/nanobind.h>


namespace norvale::tarsis {

namespace nb = nanobind;

/// The Model class; valid once init_model has run.
nb::handle model_class();

}  // namespace norvale::tarsis
