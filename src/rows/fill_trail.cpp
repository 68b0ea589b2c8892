#include "rows/fill_trail.hpp"

#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <algorithm>
#include <vector>

namespace brx {
namespace {

struct RowKey {
    std::string table;
    long long id;
    bool operator==(const RowKey&) const = default;
};

thread_local std::vector<RowKey> active_fills;
thread_local std::vector<PyObject*> active_objects;

// The row's table name and positive identifier, or false when it has none.
// Nothing here may disturb the caller: failures are cleared.
bool row_key(PyObject* row, RowKey& key) {
    StashedError keep_caller_state;
    Ref table = Ref::steal(PyObject_GetAttr(row, py::TABLE_NAME()));
    Ref text = table ? Ref::steal(PyObject_Str(table.get())) : Ref();
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (!utf8) return false;
    Ref id = Ref::steal(PyObject_GetItem(row, py::id()));
    if (!id || !PyLong_Check(id.get())) return false;
    int overflow = 0;
    key.id = PyLong_AsLongLongAndOverflow(id.get(), &overflow);
    if (overflow || key.id <= 0) return false;
    key.table = utf8;
    return true;
}

}  // namespace

FillTrail::FillTrail(PyObject* row) {
    if (std::find(active_objects.begin(), active_objects.end(), row) != active_objects.end()) {
        already_filling_ = true;
        return;
    }
    RowKey key;
    if (row_key(row, key)) {
        if (std::find(active_fills.begin(), active_fills.end(), key) != active_fills.end()) {
            already_filling_ = true;
            return;
        }
        active_fills.push_back(std::move(key));
        keyed_ = true;
    }
    active_objects.push_back(row);
}

FillTrail::~FillTrail() {
    if (already_filling_) return;
    active_objects.pop_back();
    if (keyed_) active_fills.pop_back();
}

}  // namespace brx
