#include "tarsis.h"

namespace norvale::tarsis {

void init_analysis(nb::module_ &) {}

}  // namespace norvale::tarsis
