// Rows of a result table as XML text: a label cell, then number cells in the float repr.
#pragma once

#include <nanobind/nanobind.h>

namespace norvale::bind {

/// Registers xml_rows(labels, values) on m.
void add_xml_rows(nanobind::module_ &m);

}  // namespace norvale::bind
