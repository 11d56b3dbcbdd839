// norvale.external.moraine: the Moraine slope-stability analysis job.
#include "bindings/pyclass.h"

namespace nb = nanobind;
using namespace nb::literals;
using norvale::bind::ClassBuilder;
using norvale::bind::ModuleScope;

namespace {

ModuleScope scope;
nb::handle analysis_class;  // MoraineAnalysis, for super()

constexpr const char *kClassDoc =
    "Runs one calculation of the Moraine slope-stability program on a worker.\n\n"
    "Send a Moraine input file (\".sti\") and read back the output files the worker returns:\n\n"
    "    analysis = MoraineAnalysis(input_file=input_file)\n"
    "    analysis.execute(timeout=10)\n"
    "    output = analysis.get_output_file()\n\n"
    "During calculation the generic ExecutionError can be raised; its message says more.";

void init(nb::handle self, nb::handle input_file) {
    self.attr("input_file") = input_file;
    norvale::bind::super_of(analysis_class, self).attr("__init__")("moraine", "version"_a = 1);
}

nb::object generate_job_content(nb::handle self) {
    nb::object input = self.attr("input_file");
    nb::object bytes_io = scope.global("BytesIO");
    // A kit File on disk is encoded as it is read (norvale.core._file_base64_text answers None for
    // anything else), so its bytes and its text are never in memory at once.
    nb::object text = nb::module_::import_("norvale.core").attr("_file_base64_text")(input, bytes_io);
    if (text.is_none()) text = norvale::bind::b64encode_text(norvale::bind::input_bytes(input, bytes_io));
    return scope.global("_JobContent")("body"_a = text);
}

nb::object get_output_file(nb::handle self, nb::handle extension, nb::handle as_file) {
    nb::object result_content = self.attr("_get_result_content")();
    nb::object value = scope.global("_get_strata_file_body")(result_content, extension);
    if (norvale::bind::truthy(value) && norvale::bind::truthy(as_file))
        return scope.global("File").attr("from_data")(value.attr("getvalue")());
    return value;
}

}  // namespace

NB_MODULE(moraine, m) {
    scope.attach(m);
    m.doc() = "Moraine slope-stability analysis through the kit's job machinery.";
    scope.import_from("io", {"BytesIO"});
    nb::setattr(m, "base64", nb::module_::import_("base64"));
    scope.import_from("norvale.core", {"File"});
    scope.import_from("norvale.external.external_program",
                      {"ExternalProgram", "_JobContent", "_strata_exception_map", "_get_strata_file_body"});

    nb::object cls = ClassBuilder(scope, "MoraineAnalysis", nb::make_tuple(scope.global("ExternalProgram")))
                         .doc(kClassDoc)
                         .finish();
    analysis_class = cls.release();
    using namespace norvale::bind;
    def_method(analysis_class, "__init__", "(self, input_file: Union[BytesIO, File]) -> None",
               [](nb::handle self, nb::handle input_file) { init(self, input_file); });
    def_method(analysis_class, "_generate_job_content", "(self) -> _JobContent",
               [](nb::handle self) { return generate_job_content(self); });
    def_python(analysis_class, "_handle_execution_error", "(self, message: str) -> None", R"(
        text, error_class = _strata_exception_map.get(message, ("", None))
        if error_class is not None:
            raise error_class(text)
    )");
    def_method(analysis_class, "get_output_file",
               "(self, extension: str = \".sto\", *, as_file: bool = False) -> Optional[Union[BytesIO, File]]",
               [](nb::handle self, nb::handle extension, nb::handle as_file) {
                   return get_output_file(self, extension, as_file);
               });

    scope.set_all({"MoraineAnalysis"});
}
