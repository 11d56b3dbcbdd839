#include "tarsis.h"

namespace norvale::tarsis {

norvale::bind::ModuleScope &scope() {
    static norvale::bind::ModuleScope instance;
    return instance;
}

}  // namespace norvale::tarsis

NB_MODULE(tarsis, m) {
    using namespace norvale::tarsis;
    scope().attach(m);
    m.doc() = "The Tarsis structural analysis integration: analysis job, model builder and output parser.";
    init_analysis(m);
    init_parser(m);
    init_model(m);
    init_model_io(m);
    scope().set_all({"CalcSetting", "Model", "OutputFileParser", "ResultType", "TarsisAnalysis"});
}
