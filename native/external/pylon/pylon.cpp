// norvale.external.pylon: Pylon building analysis through the kit's script analysis.
#include "bindings/pyclass.h"

namespace nb = nanobind;
using norvale::bind::ClassBuilder;
using norvale::bind::ModuleScope;

namespace {

ModuleScope scope;

constexpr const char *kClassDoc =
    "Evaluates a PYLON-python script on a worker.\n\n"
    "The script must block: invoked from a command prompt, it waits until the executable has finished.\n\n"
    "By default the script is defined within the app and sent to the worker to be executed there. For\n"
    "security reasons the worker may be configured to run only local scripts, which are defined in the\n"
    "worker's configuration file and selected through `script_key`.\n\n"
    "    script = File.from_path(Path(__file__).parent / \"run_pylon.py\")\n"
    "    files = [(\"input1.txt\", file1)]\n"
    "    analysis = PYLONAnalysis(script=script, files=files, output_filenames=[\"output.txt\"])\n"
    "    analysis.execute(timeout=60)\n"
    "    output_file = analysis.get_output_file(\"output.txt\")\n\n"
    "During calculation the generic ExecutionError can be raised; its message says more.\n\n"
    "Available from kit version 14.17.0 on.";

}  // namespace

NB_MODULE(pylon, m) {
    scope.attach(m);
    m.doc() = "Pylon building analysis through the kit's script analysis.";
    scope.import_from("norvale.external.python", {"PythonAnalysis"});

    ClassBuilder(scope, "PYLONAnalysis", nb::make_tuple(scope.global("PythonAnalysis")))
        .doc(kClassDoc)
        .attr("_integration", nb::str("pylon"))
        .finish();

    scope.set_all({"PYLONAnalysis"});
}
