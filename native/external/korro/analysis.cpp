// KORROAnalysis: runs a Korro model with a list of actions on a worker; reads the zip of results.
#include "korro.h"

#include "bindings/lazy.h"

#include <string>

namespace norvale::korro {

using namespace nb::literals;
using norvale::bind::ClassBuilder;

namespace {

nb::handle analysis_class;

constexpr const char *kNoResults =
    "Zip-file with results not available. Call .execute() before calling .get_model() or .get_result()";

constexpr const char *kClassDoc =
    "Runs a KORRO model, with an ordered list of actions, as one job on a worker.\n\n"
    "    actions = [\n"
    "        EnergyOptimizationAction([1, 2, 3], goal=10000, accuracy=0.1),\n"
    "        EnergyOptimizationAction([4, 5, 6], goal=15000, accuracy=0.1),\n"
    "        CopyNodalLoadAction([(1, 7), (2, 8), (3, 9)], factor=1.5),  # ULS = SLS x 1.5\n"
    "        WriteResultsAction([1, 2, 3, 4, 5, 6, 7, 8, 9]),\n"
    "    ]\n"
    "    analysis = KORROAnalysis(kox_file=kox_file, actions=actions)\n"
    "    analysis.execute(timeout=300)\n"
    "    model = analysis.get_model()\n"
    "    result_lc1 = analysis.get_result(1)\n\n"
    "During calculation the generic ExecutionError can be raised; its message says more.";

// Worker messages and what the user is told (every entry raises ExecutionError, looked up at call time).
// Built on first use, without a C++ guard (see bindings/lazy.h).
nb::dict error_table() {
    static norvale::bind::LazyObject table;
    return nb::borrow<nb::dict>(table.get([] {
        nb::dict t;
        const char *input_error =
            "Error creating KORRO input file, please check worker installation and permissions";
        for (const char *msg : {"Error creating KORRO input", "Error creating signature file", "Error hashing file",
                                "Error signing hash"})
            t[msg] = input_error;
        t["Error running KORRO analysis"] = "Error running KORRO analysis, please check all inputs, license and server";
        return t;
    }));
}

nb::dict file_entry(const char *filename, const char *type, nb::handle data) {
    nb::dict entry;
    entry["filename"] = filename;
    entry["type"] = type;
    entry["body"] = norvale::bind::b64encode_text(data);
    return entry;
}

nb::object json_bytes(nb::handle value) {
    return scope().global("json").attr("dumps")(value).attr("encode")("utf-8");
}

void init(nb::handle self, nb::handle kox_file, nb::handle actions) {
    norvale::bind::super_of(analysis_class, self).attr("__init__")("korro", 1);
    self.attr("_kox_file") = kox_file;
    self.attr("_actions") = actions;
}

nb::object generate_job_content(nb::handle self) {
    const auto &s = scope();
    nb::object kox_file = self.attr("_kox_file");
    nb::object bytes_io = s.global("BytesIO");
    // A kit File on disk is encoded as it is read (norvale.core._file_base64_text answers None for
    // anything else), so its bytes and its text are never in memory at once.
    nb::object model_text = nb::module_::import_("norvale.core").attr("_file_base64_text")(kox_file, bytes_io);
    nb::dict model;
    if (model_text.is_none()) {
        model = file_entry("input.kox", "kox", norvale::bind::input_bytes(kox_file, bytes_io));
    } else {
        model["filename"] = "input.kox";
        model["type"] = "kox";
        model["body"] = model_text;
    }

    nb::object actions = self.attr("_actions");
    nb::list configs;
    nb::list ids;
    std::size_t k = 0;
    for (nb::handle action : actions) {
        std::string name = "config" + std::to_string(++k) + ".json";
        configs.append(file_entry(name.c_str(), "json", json_bytes(action.attr("_config"))));
    }
    for (nb::handle action : actions) ids.append(action.attr("_id"));
    nb::dict actions_entry = file_entry("actions.json", "json", json_bytes(ids));
    return s.global("_JobContent")("model"_a = model, "korro_configs"_a = configs, "actions"_a = actions_entry);
}

nb::object handle_execution_error(nb::handle, nb::handle message) {
    nb::object text = error_table().attr("get")(message);
    if (text.is_none()) return nb::none();
    norvale::bind::raise_new(scope().global("ExecutionError"), text);
}

nb::object get_korro_result_content(nb::handle self) {
    const auto &s = scope();
    nb::object missing;  // the KeyError handled
    try {
        nb::object content = self.attr("_get_result_content")();
        nb::object result = s.global("_get_file_body")(content["model"]["body"]);
        if (result.is_none()) norvale::bind::raise_bare(PyExc_KeyError);
        return result;
    } catch (nb::python_error &e) {
        if (!e.matches(PyExc_KeyError)) throw;
        missing = nb::borrow(e.value());
    }
    norvale::bind::raise_from_none(s.global("ExecutionError"), kNoResults, missing);
}

nb::object get_model(nb::handle self, nb::handle as_file) {
    nb::object missing;
    try {
        return self.attr("_get_file_from_zip")("results.kox", "as_file"_a = as_file);
    } catch (nb::python_error &e) {
        if (!e.matches(PyExc_KeyError)) throw;
        missing = nb::borrow(e.value());
    }
    norvale::bind::raise_from_none(scope().global("ExecutionError"), "Could not find model within the result file",
                                   missing);
}

nb::object get_result(nb::handle self, nb::handle load_case, nb::handle as_file) {
    auto text = [&](const char *format) {
        PyObject *t = PyUnicode_FromFormat(format, load_case.ptr());
        if (t == nullptr) throw nb::python_error();
        return nb::steal(t);
    };
    nb::object name = text("summary_%S.json");
    nb::object missing;
    try {
        return self.attr("_get_file_from_zip")(name, "as_file"_a = as_file);
    } catch (nb::python_error &e) {
        if (!e.matches(PyExc_KeyError)) throw;
        missing = nb::borrow(e.value());
    }
    norvale::bind::raise_from_none(PyExc_ValueError,
                                   text("Could not find results for load case/combination %S. Perform a "
                                        "'WriteResultsAction' on the desired load cases to make it available here."),
                                   missing);
}

}  // namespace

void init_analysis(nb::module_ &) {
    const auto &s = scope();
    analysis_class =
        ClassBuilder(s, "KORROAnalysis", nb::make_tuple(s.global("ExternalProgram"))).doc(kClassDoc).finish().release();
    using namespace norvale::bind;
    nb::handle cls = analysis_class;
    def_method(cls, "__init__", "(self, kox_file: Union[BytesIO, File], actions: Sequence[KORROAction]) -> None",
               [](nb::handle self, nb::handle kox, nb::handle actions) { init(self, kox, actions); });
    def_method(cls, "_generate_job_content", "(self) -> _JobContent",
               [](nb::handle self) { return generate_job_content(self); });
    def_method(cls, "_handle_execution_error", "(self, message: str) -> None",
               [](nb::handle self, nb::handle m) { return handle_execution_error(self, m); });
    def_method(cls, "get_model", "(self, *, as_file: bool = False) -> Union[BytesIO, File]",
               [](nb::handle self, nb::handle as_file) { return get_model(self, as_file); });
    def_method(cls, "get_result", "(self, load_case: int, *, as_file: bool = False) -> Union[BytesIO, File]",
               [](nb::handle self, nb::handle load_case, nb::handle as_file) {
                   return get_result(self, load_case, as_file);
               });
    def_method(cls, "_get_korro_result_content", "(self) -> BytesIO",
               [](nb::handle self) { return get_korro_result_content(self); });
    // Archive and member closed on every path: the interpreter's own `with`.
    def_python(cls, "_get_file_from_zip", "(self, file_name: str, *, as_file: bool) -> Union[BytesIO, File]", R"(
        with zipfile.ZipFile(self._get_korro_result_content()) as zf, zf.open(file_name) as member:
            data = member.read()
        if as_file:
            return File.from_data(data)
        return BytesIO(data)
    )");
}

}  // namespace norvale::korro
