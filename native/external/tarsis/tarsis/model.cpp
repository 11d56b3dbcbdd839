#include "tarsis.h"

namespace norvale::tarsis {

void init_model(nb::module_ &) {}

}  // namespace norvale::tarsis
