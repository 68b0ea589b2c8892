// Item read straight from the type slot. A class whose __getitem__ is a
// function object gets CPython's generic slot, which looks the method up and
// calls it through the call protocol on every `row[name]`. A row class whose
// __getitem__ is the module's own gets a slot that runs the body directly
// instead. CPython rebuilds a class's slots whenever __getitem__ is assigned on
// it or on a base, so the direct slot never outlives that condition; it is
// taken again, if it holds again, on the next read.
#pragma once

#include "frame/function.hpp"

namespace brx {

// Gives the class of `self` the direct slot when its __getitem__ is `fn`.
void adopt_direct_item_slot(PyObject* self, const Function& fn);

// True when `row[name]` on a row of `type` runs the module's item read
// through the direct slot (taken on the class's first item read).
bool reads_items_directly(PyTypeObject* type);

}  // namespace brx
