#include "korro.h"

namespace norvale::korro {

norvale::bind::ModuleScope module_scope;

const norvale::bind::ModuleScope &scope() { return module_scope; }

}  // namespace norvale::korro

NB_MODULE(korro, m) {
    using namespace norvale::korro;
    module_scope.attach(m);
    m.doc() = "Korro finite-element analysis: actions performed on a model, and the analysis job.";
    module_scope.import_from("io", {"BytesIO"});
    nb::setattr(m, "base64", nb::module_::import_("base64"));
    nb::setattr(m, "json", nb::module_::import_("json"));
    nb::setattr(m, "zipfile", nb::module_::import_("zipfile"));
    module_scope.import_from("norvale.core", {"File"});
    module_scope.import_from("norvale.errors", {"ExecutionError"});
    module_scope.import_from("norvale.external.external_program",
                             {"ExternalProgram", "_JobContent", "_get_file_body"});
    init_actions(m);
    init_analysis(m);
    module_scope.set_all({"CopyNodalLoadAction", "EnergyOptimizationAction", "LoadingType", "KORROAction",
                          "KORROAnalysis", "WriteResultsAction"});
}
