#include "statements/packet_limit.hpp"

#include "statements/cursor.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// Quotes, and the introducer the connector may put before binary data.
constexpr std::size_t kQuoting = 16;
// Numbers (a DECIMAL has at most 65 digits), dates, times and None take fewer
// characters than this.
constexpr std::size_t kShortValue = 80;

// The most UTF-8 bytes a str can take, from its storage kind alone.
std::size_t utf8_size_bound(PyObject* text) {
    const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(text));
    if (PyUnicode_IS_ASCII(text)) return length;
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return 2 * length;
        case PyUnicode_2BYTE_KIND: return 3 * length;
        default: return 4 * length;
    }
}

}  // namespace

std::size_t parameter_size_bound(PyObject* value) {
    // Escaping at most doubles the bytes.
    if (PyUnicode_Check(value)) return 2 * utf8_size_bound(value) + kQuoting;
    if (PyBytes_Check(value)) return 2 * static_cast<std::size_t>(PyBytes_GET_SIZE(value)) + kQuoting;
    if (PyByteArray_Check(value)) return 2 * static_cast<std::size_t>(PyByteArray_GET_SIZE(value)) + kQuoting;
    return kShortValue;
}

long long server_packet_limit(PyObject* cnx) {
    Ref kept;
    if (lookup_attribute(cnx, py::kept_packet_limit(), kept) > 0 && PyLong_CheckExact(kept.get()))
        return PyLong_AsLongLong(kept.get());
    Ref cursor = open_cursor(cnx);
    if (!cursor || !execute_statement(cursor.get(), "SELECT @@max_allowed_packet"_id)) return -1;
    Ref limit;
    const bool read = for_each_row(cursor.get(), [&](PyObject* row) {
        limit = Ref::steal(PySequence_GetItem(row, 0));
        return limit ? RowStep::Stop : RowStep::Fail;
    });
    if (!read) return -1;
    if (!limit || !PyLong_CheckExact(limit.get())) return 0;
    const long long bytes = PyLong_AsLongLong(limit.get());
    if (bytes <= 0) {
        PyErr_Clear();
        return 0;
    }
    // A session's max_allowed_packet cannot change; a connection object that
    // takes no attribute is asked again next time.
    if (PyObject_SetAttr(cnx, py::kept_packet_limit(), limit.get()) < 0) PyErr_Clear();
    return bytes;
}

}  // namespace brx
