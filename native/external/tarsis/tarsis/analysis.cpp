// CalcSetting, ResultType and TarsisAnalysis: the Tarsis analysis job.
#include <optional>
#include <string>
#include <vector>

#include "tarsis.h"
#include "xml_stream.h"

namespace norvale::tarsis {

namespace {

using namespace nb::literals;
using norvale::bind::ClassBuilder;

nb::handle analysis_class;    // TarsisAnalysis, for super()
nb::handle result_model;      // ResultType.MODEL
nb::handle result_report;     // ResultType.ENGINEERING_REPORT
nb::handle error_table;       // worker message -> (message, error name)

constexpr const char *kAnalysisDoc =
    "Runs one calculation of the Tarsis structural analysis program on a worker.\n\n"
    "Give the Tarsis input XML, the XML definition file it refers to and the Tarsis project file\n"
    "(.esa), as BytesIO streams or File objects:\n\n"
    "    analysis = TarsisAnalysis(input_file=..., xml_def_file=..., tarsis_model=...)\n"
    "    analysis.execute(timeout=600)\n"
    "    output_xml = analysis.get_xml_output_file()\n\n"
    "With the default result_type (ResultType.MODEL) the updated project file is available through\n"
    "get_updated_esa_model(); with result_type=ResultType.ENGINEERING_REPORT and output_document\n"
    "naming a report document of the project, the report through get_engineering_report().\n"
    "Read the output XML with OutputFileParser.";

const char *const kCalcSettings[] = {"NONE", "NOC", "LIN", "NEL", "EIG", "STB", "INF", "MOB",
                                     "TDA",  "SLN", "PHA", "NPH", "CSS", "NST", "TID"};

const std::pair<const char *, const char *> kWorkerErrors[] = {
    {"Tarsis execution error: exit status 1", "Error running TARSIS analysis, unable to initialize MFC"},
    {"Tarsis execution error: exit status 2", "Error running TARSIS analysis"},
    {"Tarsis execution error: exit status 3", "Error running TARSIS analysis"},
    {"Tarsis execution error: exit status 4", "Error running TARSIS analysis, cannot open project file"},
    {"Tarsis execution error: exit status 5",
     "Error running TARSIS analysis, cannot perform calculation with current settings and input"},
    {"Tarsis execution error: exit status 7",
     "Error running TARSIS analysis, cannot update the project file with the given input XML file"},
    {"Tarsis execution error: exit status 8", "Error running TARSIS analysis, cannot generate exports"},
    {"Tarsis execution error: exit status 9", "Error running TARSIS analysis, cannot create output XML file"},
};

void init(nb::handle self, nb::handle input_file, nb::handle xml_def_file, nb::handle tarsis_model,
          nb::handle calculation_setting, nb::handle xml_doc_name, nb::handle result_type,
          nb::handle output_document) {
    norvale::bind::super_of(analysis_class, self).attr("__init__")("tarsis", "version"_a = 2);
    if (result_type.equal(result_report) && !norvale::bind::truthy(output_document))
        norvale::bind::raise_new(
            PyExc_ValueError,
            nb::str("Engineering Report is selected as result type, but no output document is specified."));
    self.attr("input_file") = input_file;
    self.attr("xml_def_file") = xml_def_file;
    self.attr("tarsis_model") = tarsis_model;
    self.attr("calculation_setting") = calculation_setting;
    self.attr("xml_doc_name") = xml_doc_name;
    self.attr("_result_type") = result_type;
    self.attr("_output_document") = output_document;
}

/// The host parser's answer, for documents the engine leaves to it.
nb::str def_name_by_host(nb::handle input_file) {
    nb::object tag = nb::str(("{" + tarsis_namespace() + "}def").c_str());
    nb::object name = nb::str("");
    nb::object events = element_tree().attr("iterparse")(input_file, "events"_a = nb::make_tuple("end"));
    for (nb::handle item : events) {
        nb::object elem = nb::borrow(item)[1];
        if (elem.attr("tag").equal(tag)) name = elem.attr("get")("uri", "");
        elem.attr("clear")();  // read: nothing needs it any more, so the tree stays small
    }
    return nb::borrow<nb::str>(name);
}

nb::object get_xml_def_name(nb::handle input_file) {
    nb::object pos = input_file.attr("tell")();
    input_file.attr("seek")(0);
    nb::object name;
    std::optional<engine::xml::DefResult> r = search_def(input_file);
    if (r && r->outcome == engine::xml::Outcome::Found) {
        name = nb::steal(PyUnicode_DecodeUTF8(r->name.data(), static_cast<Py_ssize_t>(r->name.size()), nullptr));
        if (!name.is_valid()) throw nb::python_error();
    } else {
        input_file.attr("seek")(0);
        name = def_name_by_host(input_file);
    }
    input_file.attr("seek")(pos);
    return name;
}

/// The name placed inside a JSON string: quotes, backslashes and control characters escaped.
/// Works on the characters of the str, so any text (lone surrogates included) goes through.
nb::object json_string_body(nb::handle name) {
    nb::str text(name);
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text.ptr());
    const int kind = PyUnicode_KIND(text.ptr());
    const void *data = PyUnicode_DATA(text.ptr());
    std::u32string out;
    out.reserve(static_cast<size_t>(n));
    static const char kHex[] = "0123456789abcdef";
    for (Py_ssize_t i = 0; i < n; ++i) {
        const char32_t c = PyUnicode_READ(kind, data, i);
        const char *escape = nullptr;
        switch (c) {
            case U'"': escape = "\\\""; break;
            case U'\\': escape = "\\\\"; break;
            case U'\n': escape = "\\n"; break;
            case U'\r': escape = "\\r"; break;
            case U'\t': escape = "\\t"; break;
            case U'\b': escape = "\\b"; break;
            case U'\f': escape = "\\f"; break;
            default: break;
        }
        if (escape != nullptr) {
            for (const char *e = escape; *e; ++e) out.push_back(static_cast<char32_t>(*e));
        } else if (c < 0x20) {
            for (char e : {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]}) out.push_back(static_cast<char32_t>(e));
        } else {
            out.push_back(c);
        }
    }
    PyObject *escaped = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, out.data(), static_cast<Py_ssize_t>(out.size()));
    if (escaped == nullptr) throw nb::python_error();
    return nb::steal(escaped);
}

nb::object json_dumps(nb::handle value) { return scope().global("json").attr("dumps")(value); }

nb::object concat(nb::handle a, nb::handle b) {
    PyObject *joined = PyUnicode_Concat(a.ptr(), b.ptr());  // Python's TypeError for a non-str
    if (joined == nullptr) throw nb::python_error();
    return nb::steal(joined);
}

/// `'"key": ' + json.dumps(value)` followed by ", " unless it is the last member.
nb::object member(const char *key, nb::handle value, bool more) {
    nb::object text = concat(nb::str(("\"" + std::string(key) + "\": ").c_str()), json_dumps(value));
    return more ? concat(text, nb::str(", ")) : text;
}

void write_job_content(nb::handle self, nb::handle w) {
    // Streams opened here from File objects; only these are closed afterwards.
    std::vector<nb::object> opened;
    nb::object streams[3];
    // Closes every opened stream; returns the first close() failure (not raised).
    auto close_opened = [&]() -> std::optional<nb::python_error> {
        std::optional<nb::python_error> first;
        for (nb::object &s : opened) {
            try {
                s.attr("close")();
            } catch (nb::python_error &e) {
                if (!first) first.emplace(std::move(e));
            }
        }
        opened.clear();
        return first;
    };
    try {
        const char *names[3] = {"input_file", "xml_def_file", "tarsis_model"};
        nb::object file_cls = scope().global("File");
        nb::object bytes_io = scope().global("BytesIO");
        for (int i = 0; i < 3; ++i) {
            nb::object value = self.attr(names[i]);
            if (nb::isinstance(value, file_cls)) {
                streams[i] = value.attr("open_binary")();
                opened.push_back(streams[i]);
            } else if (nb::isinstance(value, bytes_io)) {
                streams[i] = value;
            } else {
                norvale::bind::raise_bare(PyExc_NotImplementedError);
            }
        }
        nb::object def_name = self.attr("get_xml_def_name")(streams[0]);
        nb::object write = w.attr("write");
        nb::object copy = self.attr("_write_file_content_to_file");
        auto body = [&](nb::handle stream) { copy(w, stream, "base64_encoding"_a = true); };

        write("\"files\": [");
        write("{\"filename\": \"tarsis_input.xml\", \"type\": \"xml\", \"body\": \"");
        body(streams[0]);
        write("\"}, ");
        nb::object piece = nb::steal(PyUnicode_FromFormat("{\"filename\": \"%U\", \"type\": \"def\", \"body\": \"",
                                                          json_string_body(def_name).ptr()));
        if (!piece.is_valid()) throw nb::python_error();
        write(piece);
        body(streams[1]);
        write("\"}, ");
        write("{\"filename\": \"tarsis_model.esa\", \"type\": \"esa\", \"body\": \"");
        body(streams[2]);
        write("\"}");
        write("], ");

        nb::object setting = self.attr("calculation_setting").attr("value");
        write(member("calculation_setting", setting, true));
        write(member("xml_doc_name", self.attr("xml_doc_name"), true));
        nb::object result_type = self.attr("_result_type");
        write(member("result_type", result_type.attr("value"), true));
        const char *extension = result_type.equal(result_model)    ? "esa"
                                : result_type.equal(result_report) ? "pdf"
                                                                   : "xml";
        write(member("result_extension", nb::str(extension), true));
        write(member("output_document", self.attr("_output_document"), false));
    } catch (...) {
        close_opened();  // the first failure is the one reported
        throw;
    }
    if (std::optional<nb::python_error> error = close_opened()) throw std::move(*error);
}

nb::object handle_execution_error(nb::handle, nb::handle message) {
    nb::object hit = error_table.attr("get")(message, nb::make_tuple("", nb::none()));
    nb::object error = hit[1];
    if (error.is_none()) return nb::none();
    norvale::bind::raise_new(scope().global(nb::cast<std::string>(error).c_str()), hit[0]);
}

nb::object get_result(nb::handle self, const char *key, nb::handle as_file) {
    return self.attr("_get_result")(key, "as_file"_a = as_file);
}

}  // namespace

void init_analysis(nb::module_ &m) {
    load_tarsis_namespace();
    scope().import_from("io", {"BytesIO"});
    nb::setattr(m, "json", nb::module_::import_("json"));  // the options are JSON text
    scope().import_from("norvale.core", {"File"});
    scope().import_from("norvale.errors", {"ExecutionError", "TarsisParsingError"});
    scope().import_from("norvale.external.external_program", {"ExternalProgram"});

    nb::list settings;
    for (const char *s : kCalcSettings) settings.append(nb::make_tuple(s, s));
    nb::object str_type = norvale::bind::builtin("str");
    nb::object calc = norvale::bind::make_enum(scope(), "CalcSetting", settings, "Enumeration of calculation settings:",
                                               str_type);
    nb::list types;
    types.append(nb::make_tuple("NONE", "XML"));
    types.append(nb::make_tuple("MODEL", "MODEL"));
    types.append(nb::make_tuple("ENGINEERING_REPORT", "ENGINEERING_REPORT"));
    nb::object result = norvale::bind::make_enum(scope(), "ResultType", types, "Enumeration of result types:", str_type);
    result_model = nb::object(result.attr("MODEL")).release();
    result_report = nb::object(result.attr("ENGINEERING_REPORT")).release();

    nb::dict errors;
    for (const auto &[message, text] : kWorkerErrors) errors[message] = nb::make_tuple(text, "ExecutionError");
    error_table = errors.release();

    using norvale::bind::def_method;
    nb::object cls = ClassBuilder(scope(), "TarsisAnalysis", nb::make_tuple(scope().global("ExternalProgram")))
                         .doc(kAnalysisDoc)
                         .attr("_multipart_job_content", nb::bool_(true))
                         .finish();
    analysis_class = cls.release();
    def_method(
        analysis_class, "__init__",
        "(self, input_file: Union[BytesIO, File], xml_def_file: Union[BytesIO, File], tarsis_model: Union[BytesIO, "
        "File], calculation_setting: CalcSetting = CalcSetting.LIN, xml_doc_name: str = 'output', *, "
        "result_type: ResultType = ResultType.MODEL, output_document: str = '') -> None",
        [](nb::handle self, nb::handle input_file, nb::handle xml_def_file, nb::handle tarsis_model,
           nb::handle calculation_setting, nb::handle xml_doc_name, nb::handle result_type,
           nb::handle output_document) {
            init(self, input_file, xml_def_file, tarsis_model, calculation_setting, xml_doc_name, result_type,
                 output_document);
        });
    norvale::bind::def_static(
        analysis_class, "get_xml_def_name", "(input_file: BinaryIO) -> str",
        [](nb::handle input_file) { return get_xml_def_name(input_file); },
        "The name of the definition file that the input XML refers to (\"\" when none).");
    def_method(analysis_class, "_write_job_content", "(self, w: TextIO) -> None",
               [](nb::handle self, nb::handle w) { write_job_content(self, w); });
    def_method(
        analysis_class, "_handle_execution_error",
        "(self, message: str) -> None",
        [](nb::handle self, nb::handle message) { return handle_execution_error(self, message); });
    def_method(
        analysis_class, "get_xml_output_file",
        "(self, as_file: bool = False) -> Optional[Union[BytesIO, File]]",
        [](nb::handle self, nb::handle as_file) { return get_result(self, "output_xml", as_file); },
        "The output XML of the calculation (BytesIO, or File with as_file).");
    def_method(
        analysis_class, "get_updated_esa_model",
        "(self, as_file: bool = False) -> Optional[Union[BytesIO, File]]",
        [](nb::handle self, nb::handle as_file) { return get_result(self, "esa_model", as_file); },
        "The project file after the calculation (BytesIO, or File with as_file).");
    def_method(
        analysis_class, "get_engineering_report",
        "(self, as_file: bool = False) -> Optional[Union[BytesIO, File]]",
        [](nb::handle self, nb::handle as_file) { return get_result(self, "engineering_report", as_file); },
        "The engineering report (BytesIO, or File with as_file).");

}

}  // namespace norvale::tarsis
