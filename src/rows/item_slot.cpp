#include "rows/item_slot.hpp"

#include "rows/item_meaning.hpp"
#include "support/names.hpp"
#include "support/python_internals.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// TableBase.__getitem__, kept alive for as long as any class uses the slot.
Function* item_read_function = nullptr;

// The common read, a plain column's value, is answered here without a call;
// whatever else the fast case found is finished as the method's own call
// would (its traceback entry when it fails), and everything else is the call.
PyObject* direct_item_slot(PyObject* self, PyObject* name) {
    Ref value;
    const std::optional<ItemMeaning> meaning = plain_item_meaning(self, name, value);
    if (meaning == ItemMeaning::Value) return value.release();
    if (meaning) {
        return run_as_call(*item_read_function,
                           [&] { return item_read(self, name, *meaning, std::move(value)); });
    }
    PyObject* args[] = {self, name};
    return call_positional(*item_read_function, args, 2);
}

}  // namespace

void adopt_direct_item_slot(PyObject* self, const Function& fn) {
    PyTypeObject* type = Py_TYPE(self);
    if (!internals::kFastPaths || !type->tp_as_mapping || internals::has_subscript_slot(type, direct_item_slot)) return;
    if (!PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) return;
    if (internals::type_lookup(type, py::dunder_getitem()) != reinterpret_cast<const PyObject*>(&fn)) return;
    if (!item_read_function) {
        // Held for good: classes keep the slot as long as they live.
        Py_INCREF(reinterpret_cast<const PyObject*>(&fn));
        // Calls through the slot cache their traceback entry on it, as calls of the object do.
        item_read_function = const_cast<Function*>(&fn);
    }
    if (item_read_function != &fn) return;
    internals::set_subscript_slot(type, direct_item_slot);
}

bool reads_items_directly(PyTypeObject* type) { return internals::has_subscript_slot(type, direct_item_slot); }

}  // namespace brx
