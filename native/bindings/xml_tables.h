// Tables of rows of an XML document (the template service's input XML), read with the engine's
// reader into columns of texts.
#pragma once

#include <nanobind/nanobind.h>

namespace norvale::bind {

/// Registers xml_tables(data, namespace) on m.
void add_xml_tables(nanobind::module_ &m);

}  // namespace norvale::bind
