// The Tarsis Model class: what other parts of the module need to reach it from C++.
#pragma once

#include <nanobind/nanobind.h>

#include <array>
#include <cstddef>

namespace norvale::tarsis {

namespace nb = nanobind;

/// Number of instance attributes of a Model: 46 registries, then the three setup objects.
inline constexpr std::size_t kModelAttributeCount = 49;

/// Instance attribute names of a Model, in the order its constructor creates them
/// ("_layers", "_cross_sections", ..., "_project_data").
extern const std::array<const char *, kModelAttributeCount> kModelAttributeNames;

/// The 49 attribute values of `model`, in the order of kModelAttributeNames, read straight from
/// the instance dict (no attribute lookup through the class). Raises AttributeError naming the
/// first attribute that is missing.
std::array<nb::object, kModelAttributeCount> model_attributes(nb::handle model);

/// The Model class; valid once init_model has run.
nb::handle model_class();

}  // namespace norvale::tarsis
