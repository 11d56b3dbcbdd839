// Model._serialize and Model.generate_xml_input: the model document and the request to the
// template-filling service that turns it into the Tarsis input XML and definition file.

#include "tarsis.h"
#include "registries.h"

#include "bindings/gzip_compress.h"
#include "bindings/json_writer.h"
#include "engine/base64/base64.h"

#include <string>

namespace norvale::tarsis {
namespace {

namespace json = norvale::bind::json;
using norvale::bind::truthy;

constexpr const char *kEndpoint = "filltarsistemplate/v10/jobs/";

/// Kit and standard-library names are read from the module's namespace at call time, as a
/// Python module reads its imports, so patching them takes effect.
nb::object global(const char *name) { return scope().global(name); }

/// Iterates a registry (any iterable) keeping the elements for which keep(element) is true.
template <typename Keep>
nb::object filtered(nb::handle registry, Keep keep) {
    nb::list out;
    for (nb::handle item : registry) {
        if (keep(item)) out.append(item);
    }
    return out;
}

nb::object model_serialize(nb::handle self) {
    nb::dict doc;
    for (const registry::DocumentMember &m : registry::kDocument) {
        const registry::Row &row = registry::kRows[m.source];
        nb::object value;
        if (m.source == registry::concrete_materials) {  // split by Eurocode part
            nb::object part = global("Concrete").attr("ECPart").attr(m.second ? "BRIDGES" : "GENERAL");
            value = filtered(self.attr(row.attribute), [&](nb::handle concrete) {
                nb::object eq = nb::steal(PyObject_RichCompare(concrete.attr("ec_part").ptr(), part.ptr(), Py_EQ));
                if (!eq.is_valid()) throw nb::python_error();
                return truthy(eq);
            });
        } else if (m.source == registry::cross_sections) {  // plain, then numerical ones
            nb::object numerical = global("NumericalCrossSection");
            value = filtered(self.attr(row.attribute), [&](nb::handle cs) {
                int r = PyObject_IsInstance(cs.ptr(), numerical.ptr());
                if (r < 0) throw nb::python_error();
                return (r != 0) == m.second;
            });
        } else if (row.kind == registry::Kind::Dict) {  // the layers, through their accessor
            value = self.attr(row.accessor);
        } else {
            value = self.attr(row.attribute);
        }
        doc[m.key] = value;
    }
    return json::to_plain_owned(std::move(doc), json::serialize_method_hook());
}

/// Base64 text of data as a str, written straight into the string's storage.
nb::object base64_str(const std::string &data) {
    const std::size_t n = engine::base64::encoded_size(data.size());
    PyObject *s = PyUnicode_New(static_cast<Py_ssize_t>(n), 127);
    if (!s) throw nb::python_error();
    engine::base64::encode(reinterpret_cast<const unsigned char *>(data.data()), data.size(),
                           static_cast<char *>(PyUnicode_DATA(s)));
    return nb::steal(s);
}

nb::object generate_xml_input(nb::handle self, nb::handle as_file) {
    nb::object document = self.attr("_serialize")();

    // The request's text: the document as JSON (UTF-8), gzip, Base64, written by the native code.
    nb::dict request;
    {
        std::string packed;
        {
            engine::json::TextBuffer text;
            json::dump(document, text);
            document.reset();
            packed = norvale::bind::gzip_compress(reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
        }
        request["input"] = base64_str(packed);
    }

    nb::object reply;
    {
        nb::object post = global("_post_on_addon_endpoint");
        nb::object internal_error = global("InternalError");
        try {
            reply = post(kEndpoint, request, nb::arg("timeout") = 60);
        } catch (nb::python_error &e) {
            if (!norvale::bind::error_matches(e, internal_error)) throw;
            nb::object cause = nb::borrow(e.value());
            norvale::bind::raise_with_cause(PyExc_Exception,
                                            nb::str("Input file could not be generated, please check your model"), cause);
        }
    }

    nb::object result = global("_StreamedDict").attr("from_dict")(reply);

    if (truthy(as_file)) {
        nb::object input_file = result.attr("get_value_as_file")("input_file", nb::arg("decompress") = true);
        nb::object def_file = result.attr("get_value_as_file")("def_file", nb::arg("decompress") = true);
        if (!truthy(input_file)) norvale::bind::raise_new(PyExc_ValueError, nb::str("Could not generate xml input file"));
        if (!truthy(def_file)) norvale::bind::raise_new(PyExc_ValueError, nb::str("Could not generate def-file"));
        return nb::make_tuple(input_file, def_file);
    }

    nb::object b64decode = global("base64").attr("b64decode");
    nb::object decompress = global("gzip").attr("decompress");
    nb::object input_bytes = decompress(b64decode(result["input_file"]));
    nb::object def_bytes = decompress(b64decode(result["def_file"]));
    nb::object bytes_io = global("BytesIO");
    return nb::make_tuple(bytes_io(input_bytes), bytes_io(def_bytes));
}

}  // namespace

void init_model_io(nb::module_ &m) {
    // The standard-library names the methods use, imported into the module as a Python module would.
    nb::dict globals = nb::borrow<nb::dict>(PyModule_GetDict(m.ptr()));
    if (!globals.contains("base64")) globals["base64"] = nb::module_::import_("base64");
    if (!globals.contains("gzip")) globals["gzip"] = nb::module_::import_("gzip");
    if (!globals.contains("json")) globals["json"] = nb::module_::import_("json");
    if (!globals.contains("BytesIO")) globals["BytesIO"] = nb::module_::import_("io").attr("BytesIO");

    scope().import_from("norvale.core", {"_post_on_addon_endpoint"});
    scope().import_from("norvale.errors", {"InternalError"});
    scope().import_from("norvale.external.external_program", {"_StreamedDict"});
    scope().import_from("norvale.external.tarsis.object", {"Concrete", "NumericalCrossSection"});
    nb::object model = m.attr("Model");
    norvale::bind::def_method(model, "_serialize", "(self) -> dict",
                              [](nb::handle self) { return model_serialize(self); },
                              "The model document: its 49 members as plain data (what the JSON encoder with a\n"
                              "`_serialize` hook followed by the JSON decoder gives).");
    norvale::bind::def_method(
        model, "generate_xml_input",
        "(self, as_file: bool = False) -> Union[Tuple[BytesIO, BytesIO], Tuple[File, File]]",
        [](nb::handle self, nb::handle as_file) { return generate_xml_input(self, as_file); },
        "The Tarsis input XML and definition file of the model, made by the template-filling service:\n"
        "two BytesIO streams, or two Files when `as_file` is true.");

    // The members of the model document in their order, for the template service.
    nb::list members;
    for (const registry::DocumentMember &member : registry::kDocument) members.append(nb::str(member.key));
    nb::setattr(m, "_DOCUMENT_MEMBERS", nb::tuple(members));
}

}  // namespace norvale::tarsis
