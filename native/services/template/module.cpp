// norvale.services._template: the native work of the Tarsis template-filling service
// (norvale.services.tarsis_template): it reads the model document and writes both replies. The
// service checks the request's form, and reads with the host's decoders what this reader does not
// take, to word their errors.

#include "engine/template/template.h"
#include "external/tarsis/tarsis/registries.h"

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <algorithm>

namespace nb = nanobind;
namespace tt = norvale::engine::tarsis_template;

namespace {

std::vector<tt::Member> member_list(const std::vector<std::string> &members, const std::vector<std::string> &single) {
    std::vector<tt::Member> out;
    out.reserve(members.size());
    for (const std::string &name : members) {
        out.push_back({name, std::find(single.begin(), single.end(), name) != single.end()});
    }
    return out;
}

std::string_view utf8(const nb::str &s) {
    Py_ssize_t n = 0;
    const char *p = PyUnicode_AsUTF8AndSize(s.ptr(), &n);
    if (!p) throw nb::python_error();
    return {p, static_cast<std::size_t>(n)};
}

}  // namespace

NB_MODULE(_template, m) {
    m.doc() = "Native reading and writing for the Tarsis template-filling service.";
    // The model document's members come from the one table of the Model's registries.
    namespace reg = norvale::tarsis::registry;
    nb::list document, setup;
    for (const reg::DocumentMember &member : reg::kDocument) {
        document.append(member.key);
        if (reg::kRows[member.source].kind == reg::Kind::Setup) setup.append(member.key);
    }
    m.attr("MEMBERS") = nb::tuple(document);
    m.attr("SETUP_MEMBERS") = nb::tuple(setup);
    m.attr("MAX_DEPTH") = tt::kMaxDepth;
    m.def(
        "fill",
        [](nb::str text, const std::vector<std::string> &members, const std::vector<std::string> &single,
           nb::str ns, nb::str def_name, int level, std::size_t window) -> nb::object {
            // Only ASCII text can be Base64; its UTF-8 form is the string's own buffer.
            if (!PyUnicode_IS_ASCII(text.ptr())) return nb::none();
            const std::string_view input = utf8(text);
            const std::string ns_text(utf8(ns)), def_text(utf8(def_name));
            const std::vector<tt::Member> list = member_list(members, single);
            std::optional<tt::Files> files;
            {
                nb::gil_scoped_release unlocked;
                files = tt::fill(input, list, tt::Layout{ns_text, def_text, level, window});
            }
            if (!files) return nb::none();
            if (!files->refusal.empty()) return nb::str(files->refusal.data(), files->refusal.size());
            nb::str input_file(files->input_file.data(), files->input_file.size());
            files->input_file = std::string();
            nb::str def_file(files->def_file.data(), files->def_file.size());
            return nb::make_tuple(input_file, def_file);
        },
        nb::arg("text"), nb::arg("members"), nb::arg("single"), nb::arg("ns"), nb::arg("def_name"),
        nb::arg("level") = 6, nb::arg("window") = std::size_t(1) << 20,
        "The input XML and the definition file (gzip + Base64 text) for the Base64 text of one request; "
        "the reason as text when the document holds text XML cannot carry; None when this reader does "
        "not take the request.");
    m.def(
        "render",
        [](nb::bytes json, const std::vector<std::string> &members, const std::vector<std::string> &single,
           nb::str ns, nb::str def_name, bool pack) -> nb::object {
            const std::string_view input(json.c_str(), json.size());
            const std::string ns_text(utf8(ns)), def_text(utf8(def_name));
            const std::vector<tt::Member> list = member_list(members, single);
            std::optional<tt::Files> files;
            {
                nb::gil_scoped_release unlocked;
                files = tt::render(input, list, tt::Layout{ns_text, def_text, 6}, pack);
            }
            if (!files) return nb::none();
            if (!files->refusal.empty()) return nb::str(files->refusal.data(), files->refusal.size());
            if (pack)
                return nb::make_tuple(nb::str(files->input_file.data(), files->input_file.size()),
                                      nb::str(files->def_file.data(), files->def_file.size()));
            return nb::make_tuple(nb::bytes(files->input_file.data(), files->input_file.size()),
                                  nb::bytes(files->def_file.data(), files->def_file.size()));
        },
        nb::arg("json"), nb::arg("members"), nb::arg("single"), nb::arg("ns"), nb::arg("def_name"),
        nb::arg("pack") = false,
        "The input XML and the definition file of a model document's JSON text: UTF-8 bytes, or gzip + "
        "Base64 text when `pack`; the reason as text when the document holds text XML cannot carry; "
        "None when this reader does not take the text.");
}
