#include "statements/quoted_name.hpp"

#include "support/names.hpp"

namespace brx {

Ref quoted_name(PyObject* name) {
    Ref text = Ref::steal(PyObject_Str(name));
    if (!text) return {};
    const Py_ssize_t found = PyUnicode_FindChar(text.get(), '`', 0, PyUnicode_GET_LENGTH(text.get()), 1);
    if (found == -2) return {};
    if (found == -1) return text;
    return Ref::steal(PyUnicode_Replace(text.get(), "`"_id, "``"_id, -1));
}

}  // namespace brx
