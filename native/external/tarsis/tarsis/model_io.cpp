#include "tarsis.h"

namespace norvale::tarsis {

void init_model_io(nb::module_ &) {}

}  // namespace norvale::tarsis
