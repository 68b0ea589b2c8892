#include "rows/fill_trail.hpp"

#include "rows/not_stored.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// The row's table name and positive identifier, or false when it has none.
// Nothing here may disturb the caller: failures are cleared.
bool row_key(PyObject* row, FillTrail::Key& key) {
    StashedError keep_caller_state;
    Ref table = Ref::steal(PyObject_GetAttr(row, py::TABLE_NAME()));
    Ref text = table ? Ref::steal(PyObject_Str(table.get())) : Ref();
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (!utf8) return false;
    Ref id = Ref::steal(PyObject_GetItem(row, py::id()));
    if (!id || !PyLong_Check(id.get()) || not_stored(id.get()) != 0) return false;
    int overflow = 0;
    key.id = PyLong_AsLongLongAndOverflow(id.get(), &overflow);
    if (overflow) return false;
    key.table = utf8;
    return true;
}

}  // namespace

FillTrail::FillTrail(PyObject* row) {
    if (RunningInThread<ByObject, PyObject*>::contains(row)) {
        already_filling_ = true;
        return;
    }
    Key key;
    if (row_key(row, key)) {
        if (RunningInThread<ByKey, Key>::contains(key)) {
            already_filling_ = true;
            return;
        }
        keyed_.emplace(std::move(key));
    }
    object_.emplace(row);
}

FillTrail::~FillTrail() = default;

}  // namespace brx
