// norvale.external.korro: Korro actions and the Korro analysis job.
#include "bindings/pyclass.h"

NB_MODULE(korro, m) {
    static norvale::bind::ModuleScope scope;
    scope.attach(m);
}
