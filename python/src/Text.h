#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <string>

namespace zelt::python {

// `text` as a Python str. Text from a vehicle or an adapter need not be
// valid UTF-8 (a banner in Latin-1): each bad byte becomes U+FFFD, as in the
// JSON report, so reading it never fails.
inline pybind11::str Text(const std::string& text) {
    PyObject* decoded =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (decoded == nullptr) {
        throw pybind11::error_already_set();
    }
    return pybind11::reinterpret_steal<pybind11::str>(decoded);
}

// As Text(); None for an empty text (the vehicle reported nothing).
inline pybind11::object TextOrNone(const std::string& text) {
    return text.empty() ? pybind11::object(pybind11::none()) : Text(text);
}

// As Text(); None for a null pointer.
inline pybind11::object TextOrNone(const std::shared_ptr<std::string>& text) {
    return text ? pybind11::object(Text(*text)) : pybind11::object(pybind11::none());
}

// A text from the vehicle or the adapter returned from a call that runs
// without the GIL: converted to a str as Text() does once the GIL is back.
struct ForeignText {
    std::string text;
};

// `text` for Python: None when null.
inline std::optional<ForeignText> Foreign(const std::shared_ptr<std::string>& text) {
    return text ? std::optional<ForeignText>(ForeignText{*text}) : std::nullopt;
}

}  // namespace zelt::python

namespace pybind11::detail {

template <>
struct type_caster<zelt::python::ForeignText> {
    PYBIND11_TYPE_CASTER(zelt::python::ForeignText, const_name("str"));

    // Only ever returned to Python.
    bool load(handle /*source*/, bool /*convert*/) { return false; }

    static handle cast(const zelt::python::ForeignText& value, return_value_policy /*policy*/,
                       handle /*parent*/) {
        return zelt::python::Text(value.text).release();
    }
};

}  // namespace pybind11::detail
