#include "json_writer.h"

#include "engine/json/escape.h"
#include "engine/json/float_repr.h"

#include <climits>
#include <cstring>
#include <cmath>
#include <charconv>
#include <vector>

namespace norvale::bind::json {
namespace {

using engine::json::TextBuffer;

constexpr const char *kRecursion = " while encoding a JSON object";

PyObject *call_serialize(PyObject *obj, void *) {
    static PyObject *name = nullptr;  // filled on first use, no static guard
    if (name == nullptr && (name = PyUnicode_InternFromString("_serialize")) == nullptr) return nullptr;
    return PyObject_CallMethodNoArgs(obj, name);
}

PyObject *call_callable(PyObject *obj, void *ctx) {
    return PyObject_CallOneArg(static_cast<PyObject *>(ctx), obj);
}

/// TypeError as json.JSONEncoder.default raises it.
void set_not_serializable(PyObject *obj) {
    PyObject *cls = PyObject_GetAttrString(obj, "__class__");
    if (!cls) return;
    PyObject *name = PyObject_GetAttrString(cls, "__name__");
    Py_DECREF(cls);
    if (!name) return;
    PyErr_Format(PyExc_TypeError, "Object of type %S is not JSON serializable", name);
    Py_DECREF(name);
}

/// A dict that a hook grew or shrank while it was being walked: what iterating it in Python says.
bool changed_size() {
    PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
    return false;
}

void set_bad_key(PyObject *key) {
    PyErr_Format(PyExc_TypeError, "keys must be str, int, float, bool or None, not %.100s", Py_TYPE(key)->tp_name);
}

/// Containers and hooked objects currently being encoded (json's "markers").
class Markers {
public:
    /// False (with ValueError set) when obj is already on the path.
    bool push(PyObject *obj) {
        for (PyObject *p : stack_) {
            if (p == obj) {
                PyErr_SetString(PyExc_ValueError, "Circular reference detected");
                return false;
            }
        }
        stack_.push_back(obj);
        return true;
    }
    void pop() { stack_.pop_back(); }

private:
    std::vector<PyObject *> stack_;
};

/// Text of a float as the encoder writes it, into buf; returns the length.
std::size_t float_text(double v, char *buf) {
    if (std::isfinite(v)) return norvale::engine::json::format_float_repr(v, buf);
    const char *s = std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity");
    std::size_t n = std::strlen(s);
    std::memcpy(buf, s, n);
    return n;
}

/// Small ints as text without going through Python; false when the value needs int.__repr__.
bool small_int_text(PyObject *obj, char *buf, std::size_t &n) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow) return false;
    auto r = std::to_chars(buf, buf + 24, v);
    n = static_cast<std::size_t>(r.ptr - buf);
    return true;
}

// ---------------------------------------------------------------- text

class Writer {
public:
    Writer(TextBuffer &out, Hook hook) : out_(out), hook_(hook) {}

    bool write(PyObject *obj) {
        if (obj == Py_None) return append("null", 4);
        if (obj == Py_True) return append("true", 4);
        if (obj == Py_False) return append("false", 5);
        if (PyUnicode_Check(obj)) return write_str(obj);
        if (PyLong_Check(obj)) return write_int(obj);
        if (PyFloat_Check(obj)) {
            char buf[norvale::engine::json::kFloatReprMax];
            return append(buf, float_text(PyFloat_AS_DOUBLE(obj), buf));
        }
        if (PyList_Check(obj) || PyTuple_Check(obj)) {
            if (Py_EnterRecursiveCall(kRecursion)) return false;
            bool ok = write_seq(obj);
            Py_LeaveRecursiveCall();
            return ok;
        }
        if (PyDict_Check(obj)) {
            if (Py_EnterRecursiveCall(kRecursion)) return false;
            bool ok = write_dict(obj);
            Py_LeaveRecursiveCall();
            return ok;
        }
        return write_other(obj);
    }

private:
    bool append(const char *s, std::size_t n) {
        out_.append(s, n);
        return true;
    }

    bool write_str(PyObject *s) {
        const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
        const void *data = PyUnicode_DATA(s);
        switch (PyUnicode_KIND(s)) {
            case PyUnicode_1BYTE_KIND:
                norvale::engine::json::append_quoted_ascii(out_, static_cast<const std::uint8_t *>(data), n);
                break;
            case PyUnicode_2BYTE_KIND:
                norvale::engine::json::append_quoted_ascii(out_, static_cast<const std::uint16_t *>(data), n);
                break;
            default:
                norvale::engine::json::append_quoted_ascii(out_, static_cast<const std::uint32_t *>(data), n);
                break;
        }
        return true;
    }

    bool write_int(PyObject *obj) {
        char buf[24];
        std::size_t n;
        if (small_int_text(obj, buf, n)) return append(buf, n);
        PyObject *text = PyLong_Type.tp_repr(obj);
        if (!text) return false;
        Py_ssize_t len;
        const char *utf8 = PyUnicode_AsUTF8AndSize(text, &len);
        if (utf8) out_.append(utf8, static_cast<std::size_t>(len));
        Py_DECREF(text);
        return utf8 != nullptr;
    }

    bool write_seq(PyObject *seq) {
        const bool is_list = PyList_Check(seq);
        auto size = [&] { return is_list ? PyList_GET_SIZE(seq) : PyTuple_GET_SIZE(seq); };
        if (size() == 0) return append("[]", 2);
        if (!markers_.push(seq)) return false;
        out_.push_back('[');
        for (Py_ssize_t i = 0; i < size(); ++i) {
            if (i) out_.append(", ", 2);
            PyObject *item = is_list ? PyList_GET_ITEM(seq, i) : PyTuple_GET_ITEM(seq, i);
            Py_INCREF(item);  // a hook may shrink the list under us
            bool ok = write(item);
            Py_DECREF(item);
            if (!ok) return false;
        }
        out_.push_back(']');
        markers_.pop();
        return true;
    }

    bool write_key(PyObject *key) {
        if (PyUnicode_Check(key)) return write_str(key);
        char buf[norvale::engine::json::kFloatReprMax + 2];
        std::size_t n;
        if (PyFloat_Check(key)) {
            n = float_text(PyFloat_AS_DOUBLE(key), buf + 1);
        } else if (key == Py_True) {
            return append("\"true\"", 6);
        } else if (key == Py_False) {
            return append("\"false\"", 7);
        } else if (key == Py_None) {
            return append("\"null\"", 6);
        } else if (PyLong_Check(key)) {
            if (!small_int_text(key, buf + 1, n)) {
                out_.push_back('"');
                if (!write_int(key)) return false;
                out_.push_back('"');
                return true;
            }
        } else {
            set_bad_key(key);
            return false;
        }
        buf[0] = '"';
        buf[n + 1] = '"';
        return append(buf, n + 2);
    }

    bool write_item(PyObject *key, PyObject *value, bool first) {
        if (!first) out_.append(", ", 2);
        if (!write_key(key)) return false;
        out_.append(": ", 2);
        return write(value);
    }

    bool write_dict(PyObject *dict) {
        if (PyDict_GET_SIZE(dict) == 0) return append("{}", 2);
        if (!markers_.push(dict)) return false;
        out_.push_back('{');
        bool first = true;
        if (PyDict_CheckExact(dict)) {
            Py_ssize_t pos = 0;
            PyObject *key, *value;
            const Py_ssize_t size = PyDict_GET_SIZE(dict);
            while (PyDict_Next(dict, &pos, &key, &value)) {
                Py_INCREF(key);
                Py_INCREF(value);
                bool ok = write_item(key, value, first);
                Py_DECREF(key);
                Py_DECREF(value);
                if (!ok) return false;
                if (PyDict_GET_SIZE(dict) != size) return changed_size();  // a hook changed it
                first = false;
            }
        } else {
            PyObject *items = PyMapping_Items(dict);
            if (!items) return false;
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items); ++i) {
                PyObject *item = PyList_GET_ITEM(items, i);
                if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
                    PyErr_SetString(PyExc_ValueError, "items must return 2-tuples");
                    Py_DECREF(items);
                    return false;
                }
                if (!write_item(PyTuple_GET_ITEM(item, 0), PyTuple_GET_ITEM(item, 1), first)) {
                    Py_DECREF(items);
                    return false;
                }
                first = false;
            }
            Py_DECREF(items);
        }
        out_.push_back('}');
        markers_.pop();
        return true;
    }

    bool write_other(PyObject *obj) {
        if (!markers_.push(obj)) return false;
        if (!hook_.fn) {
            set_not_serializable(obj);
            return false;
        }
        PyObject *repl = hook_.fn(obj, hook_.ctx);
        if (!repl) return false;
        bool ok = false;
        if (!Py_EnterRecursiveCall(kRecursion)) {
            ok = write(repl);
            Py_LeaveRecursiveCall();
        }
        Py_DECREF(repl);
        if (ok) markers_.pop();
        return ok;
    }

    TextBuffer &out_;
    Hook hook_;
    Markers markers_;
};

// ---------------------------------------------------------------- plain data

/// Builds json.loads(json.dumps(obj)) directly. Every function returns a new reference or
/// nullptr with an error set. `owned` means the caller holds the object's only reference.
class Plain {
public:
    explicit Plain(Hook hook) : hook_(hook) {}

    PyObject *convert(PyObject *obj, bool owned) {
        if (obj == Py_None || obj == Py_True || obj == Py_False) return Py_NewRef(obj);
        if (PyUnicode_Check(obj)) return plain_str(obj);
        if (PyLong_Check(obj)) return plain_int(obj);
        if (PyFloat_Check(obj)) {
            if (PyFloat_CheckExact(obj)) return Py_NewRef(obj);
            return PyFloat_FromDouble(PyFloat_AS_DOUBLE(obj));
        }
        if (PyList_Check(obj) || PyTuple_Check(obj)) {
            if (Py_EnterRecursiveCall(kRecursion)) return nullptr;
            PyObject *r = plain_seq(obj, owned);
            Py_LeaveRecursiveCall();
            return r;
        }
        if (PyDict_Check(obj)) {
            if (Py_EnterRecursiveCall(kRecursion)) return nullptr;
            PyObject *r = plain_dict(obj, owned);
            Py_LeaveRecursiveCall();
            return r;
        }
        return plain_other(obj);
    }

private:
    static PyObject *plain_str(PyObject *s) {
        if (PyUnicode_CheckExact(s)) return Py_NewRef(s);
        return PyUnicode_FromKindAndData(PyUnicode_KIND(s), PyUnicode_DATA(s), PyUnicode_GET_LENGTH(s));
    }

    static PyObject *plain_int(PyObject *obj) {
        int overflow = 0;
        (void)PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (overflow) {
            // The encoder writes int.__repr__, which refuses more digits than the interpreter's limit.
            PyObject *text = PyLong_Type.tp_repr(obj);
            if (!text) return nullptr;
            Py_DECREF(text);
        }
        if (PyLong_CheckExact(obj)) return Py_NewRef(obj);
        return PyLong_Type.tp_as_number->nb_int(obj);  // exact int copy of a subclass instance
    }

    /// The str a dict key becomes, as a new reference.
    static PyObject *plain_key(PyObject *key) {
        if (PyUnicode_Check(key)) return plain_str(key);
        if (PyFloat_Check(key)) {
            char buf[norvale::engine::json::kFloatReprMax];
            std::size_t n = float_text(PyFloat_AS_DOUBLE(key), buf);
            return PyUnicode_FromStringAndSize(buf, static_cast<Py_ssize_t>(n));
        }
        if (key == Py_True) return PyUnicode_FromString("true");
        if (key == Py_False) return PyUnicode_FromString("false");
        if (key == Py_None) return PyUnicode_FromString("null");
        if (PyLong_Check(key)) return PyLong_Type.tp_repr(key);
        set_bad_key(key);
        return nullptr;
    }

    PyObject *plain_seq(PyObject *seq, bool owned) {
        const bool is_list = PyList_Check(seq);
        auto size = [&] { return is_list ? PyList_GET_SIZE(seq) : PyTuple_GET_SIZE(seq); };
        auto item_at = [&](Py_ssize_t i) { return is_list ? PyList_GET_ITEM(seq, i) : PyTuple_GET_ITEM(seq, i); };

        if (owned && PyList_CheckExact(seq)) {
            // No one else sees this list: convert its items where they stand.
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(seq); ++i) {
                PyObject *item = PyList_GET_ITEM(seq, i);
                const bool sole = Py_REFCNT(item) == 1;
                Py_INCREF(item);  // held while hooks run, whatever they do
                PyObject *conv = convert(item, sole);
                Py_DECREF(item);
                if (!conv) return nullptr;
                if (conv != item) {
                    // Replaced through the list itself, so a list changed meanwhile stays consistent.
                    if (PyList_SetItem(seq, i, conv) < 0) return nullptr;  // steals conv
                } else {
                    Py_DECREF(conv);
                }
            }
            return Py_NewRef(seq);
        }

        if (size() == 0) return PyList_New(0);
        if (!markers_.push(seq)) return nullptr;
        PyObject *list = PyList_New(0);
        if (!list) return nullptr;
        for (Py_ssize_t i = 0; i < size(); ++i) {
            PyObject *item = Py_NewRef(item_at(i));
            PyObject *conv = convert(item, false);
            Py_DECREF(item);
            if (!conv || PyList_Append(list, conv) < 0) {
                Py_XDECREF(conv);
                Py_DECREF(list);
                return nullptr;
            }
            Py_DECREF(conv);
        }
        markers_.pop();
        return list;
    }

    bool set_converted(PyObject *out, PyObject *key, PyObject *value) {
        PyObject *k = plain_key(key);
        if (!k) return false;
        PyObject *v = convert(value, false);
        if (!v) {
            Py_DECREF(k);
            return false;
        }
        int rc = PyDict_SetItem(out, k, v);
        Py_DECREF(k);
        Py_DECREF(v);
        return rc == 0;
    }

    static bool all_keys_exact_str(PyObject *dict) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(dict, &pos, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) return false;
        }
        return true;
    }

    PyObject *plain_dict(PyObject *dict, bool owned) {
        if (owned && PyDict_CheckExact(dict) && all_keys_exact_str(dict)) {
            // Values may be replaced while iterating as long as the keys stay the same.
            Py_ssize_t pos = 0;
            PyObject *key, *value;
            while (PyDict_Next(dict, &pos, &key, &value)) {
                const bool sole = Py_REFCNT(value) == 1;
                Py_INCREF(key);  // held while hooks run, whatever they do
                Py_INCREF(value);
                PyObject *conv = convert(value, sole);
                bool ok = conv != nullptr && (conv == value || PyDict_SetItem(dict, key, conv) == 0);
                Py_XDECREF(conv);
                Py_DECREF(key);
                Py_DECREF(value);
                if (!ok) return nullptr;
            }
            return Py_NewRef(dict);
        }

        if (PyDict_GET_SIZE(dict) == 0) return PyDict_New();
        if (!markers_.push(dict)) return nullptr;
        PyObject *out = PyDict_New();
        if (!out) return nullptr;
        if (PyDict_CheckExact(dict)) {
            Py_ssize_t pos = 0;
            PyObject *key, *value;
            const Py_ssize_t size = PyDict_GET_SIZE(dict);
            while (PyDict_Next(dict, &pos, &key, &value)) {
                Py_INCREF(key);
                Py_INCREF(value);
                bool ok = set_converted(out, key, value);
                Py_DECREF(key);
                Py_DECREF(value);
                if (ok && PyDict_GET_SIZE(dict) != size) ok = changed_size();  // a hook changed it
                if (!ok) {
                    Py_DECREF(out);
                    return nullptr;
                }
            }
        } else {
            PyObject *items = PyMapping_Items(dict);
            if (!items) {
                Py_DECREF(out);
                return nullptr;
            }
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items); ++i) {
                PyObject *item = PyList_GET_ITEM(items, i);
                bool ok = PyTuple_Check(item) && PyTuple_GET_SIZE(item) == 2;
                if (!ok) PyErr_SetString(PyExc_ValueError, "items must return 2-tuples");
                ok = ok && set_converted(out, PyTuple_GET_ITEM(item, 0), PyTuple_GET_ITEM(item, 1));
                if (!ok) {
                    Py_DECREF(items);
                    Py_DECREF(out);
                    return nullptr;
                }
            }
            Py_DECREF(items);
        }
        markers_.pop();
        return out;
    }

    PyObject *plain_other(PyObject *obj) {
        if (!markers_.push(obj)) return nullptr;
        if (!hook_.fn) {
            set_not_serializable(obj);
            return nullptr;
        }
        PyObject *repl = hook_.fn(obj, hook_.ctx);
        if (!repl) return nullptr;
        PyObject *r = nullptr;
        if (!Py_EnterRecursiveCall(kRecursion)) {
            r = convert(repl, Py_REFCNT(repl) == 1);
            Py_LeaveRecursiveCall();
        }
        Py_DECREF(repl);
        if (r) markers_.pop();
        return r;
    }

    Hook hook_;
    Markers markers_;
};

}  // namespace

Hook serialize_method_hook() { return Hook{call_serialize, nullptr}; }

Hook callable_hook(nb::handle callable) { return Hook{call_callable, callable.ptr()}; }

void dump(nb::handle obj, TextBuffer &out, Hook hook) {
    Writer w(out, hook);
    if (!w.write(obj.ptr())) throw nb::python_error();
}

nb::str dumps(nb::handle obj, Hook hook) {
    TextBuffer out;
    dump(obj, out, hook);
    // The text is ASCII: copy it straight into a compact str.
    PyObject *s = PyUnicode_New(static_cast<Py_ssize_t>(out.size()), 127);
    if (!s) throw nb::python_error();
    std::memcpy(PyUnicode_DATA(s), out.data(), out.size());
    return nb::steal<nb::str>(s);
}

nb::object to_plain(nb::handle obj, Hook hook) {
    Plain p(hook);
    PyObject *r = p.convert(obj.ptr(), false);
    if (!r) throw nb::python_error();
    return nb::steal(r);
}

nb::object to_plain_owned(nb::object obj, Hook hook) {
    Plain p(hook);
    PyObject *raw = obj.release().ptr();
    PyObject *r = p.convert(raw, Py_REFCNT(raw) == 1);
    Py_DECREF(raw);
    if (!r) throw nb::python_error();
    return nb::steal(r);
}

void add_json_functions(nb::module_ &m) {
    m.def(
        "json_dumps",
        [](nb::handle obj, nb::handle fn) {
            return fn.is_none() ? dumps(obj) : dumps(obj, callable_hook(fn));
        },
        nb::arg("obj").none(), nb::arg("default").none() = nb::none(), "json.dumps(obj, default=default), written natively.");
    m.def(
        "json_to_plain",
        [](nb::handle obj, nb::handle fn) {
            return fn.is_none() ? to_plain(obj) : to_plain(obj, callable_hook(fn));
        },
        nb::arg("obj").none(), nb::arg("default").none() = nb::none(), "json.loads(json.dumps(obj, default=default)), without the text.");
}

}  // namespace norvale::bind::json
