#include "tarsis.h"

namespace norvale::tarsis {

void init_parser(nb::module_ &) {}

}  // namespace norvale::tarsis
