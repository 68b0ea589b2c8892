#include "module/classes.hpp"

#include "frame/function.hpp"
#include "rows/row_type.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <cstring>
#include <string>

namespace brx {
namespace {

constexpr const char* kTableBaseDoc =
    " Every derived table must override TABLE_NAME and COLUMN_NAMES.\n"
    "\tIf derived table has foreign key(s), it must override COLUMN_ATTRIBUTES for foreign key column(s).\n"
    "\n"
    "\tIf derived table has multiple-foreign attribute, it *should* override MULTI_FOREIGN_ATTR.\n"
    "\tIf you do use features this class provides, it *must*.\n"
    "\t";

// Private names (two leading underscores, not two trailing) are stored under
// the class-qualified name, as the class statement would mangle them.
std::string namespace_key(const Signature& signature) {
    const std::size_t len = std::strlen(signature.name);
    const bool dunder_prefix = len > 2 && signature.name[0] == '_' && signature.name[1] == '_';
    const bool dunder_suffix = len > 2 && signature.name[len - 1] == '_' && signature.name[len - 2] == '_';
    if (dunder_prefix && !dunder_suffix) return std::string("_") + signature.owner + signature.name;
    return signature.name;
}

bool set_item(PyObject* dict, const char* key, Ref value) {
    return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

bool add_class_attributes(const char* name, PyObject* ns) {
    if (std::strcmp(name, "CNXGuard") == 0) return set_item(ns, "POOL", Ref::borrow(Py_None));
    if (std::strcmp(name, "CNXPool") == 0)
        return set_item(ns, "MAX_IDLE", Ref::steal(PyLong_FromLong(3))) &&
               set_item(ns, "PING_AFTER", Ref::steal(PyLong_FromLong(0)));
    if (std::strcmp(name, "TableBase") != 0) return true;
    return set_item(ns, "TABLE_NAME", Ref::steal(PyUnicode_FromString("table_base"))) &&
           set_item(ns, "COLUMN_NAMES", Ref::steal(PyList_New(0))) &&
           set_item(ns, "COLUMN_ATTRIBUTES", Ref::steal(PyDict_New())) &&
           set_item(ns, "MULTI_FOREIGN_ATTR", Ref::steal(PyDict_New())) &&
           set_item(ns, "CACHE", Ref::borrow(Py_None)) && set_item(ns, "POOL", Ref::borrow(Py_None));
}

bool add_methods(const char* name, PyObject* ns, PyObject* staticmethod) {
    for (const CallableEntry& callable : all_callables()) {
        const Signature& signature = callable.signature;
        if (!signature.owner || std::strcmp(signature.owner, name) != 0) continue;
        Ref fn = make_function(callable);
        if (fn && signature.kind == Kind::Static) fn = Ref::steal(PyObject_CallOneArg(staticmethod, fn.get()));
        if (!set_item(ns, namespace_key(signature).c_str(), std::move(fn))) return false;
    }
    return true;
}

// TableBase is a type of its own (rows/row_type.hpp) that gets the same
// namespace, set attribute by attribute in the same order.
Ref make_row_class(PyObject* ns) {
    Ref type = make_row_type(kTableBaseDoc);
    if (!type) return {};
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(ns, &pos, &key, &value))
        if (PyObject_SetAttr(type.get(), key, value) < 0) return {};
    return type;
}

Ref make_class(const char* name, const char* doc, PyObject* staticmethod) {
    Ref ns = Ref::steal(PyDict_New());
    if (!ns) return {};
    const bool rows = std::strcmp(name, "TableBase") == 0;
    if (!rows && (!set_item(ns.get(), "__module__", Ref::borrow(py::brx_sql())) ||
                  !set_item(ns.get(), "__qualname__", Ref::steal(PyUnicode_FromString(name)))))
        return {};
    if (doc && !rows && !set_item(ns.get(), "__doc__", Ref::steal(PyUnicode_FromString(doc)))) return {};
    if (!add_class_attributes(name, ns.get()) || !add_methods(name, ns.get(), staticmethod)) return {};
    if (rows) return make_row_class(ns.get());
    Ref bases = Ref::steal(PyTuple_New(0));
    if (!bases) return {};
    return Ref::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "sOO", name, bases.get(),
                                            ns.get()));
}

}  // namespace

bool bind_classes(PyObject* module) {
    PyObject* staticmethod = reinterpret_cast<PyObject*>(&PyStaticMethod_Type);
    const struct {
        const char* name;
        const char* doc;
    } classes[] = {{"CNXPool", nullptr},         {"CNXGuard", nullptr},         {"Cache", nullptr},
                   {"ColumnAttribute", nullptr}, {"MultiForeignAttr", nullptr}, {"TableBase", kTableBaseDoc}};
    for (const auto& cls : classes) {
        Ref type = make_class(cls.name, cls.doc, staticmethod);
        if (!type || PyObject_SetAttrString(module, cls.name, type.get()) < 0) return false;
    }
    return true;
}

bool bind_functions(PyObject* module) {
    for (const CallableEntry& callable : all_callables()) {
        const Signature& signature = callable.signature;
        if (signature.kind != Kind::Function) continue;
        Ref fn = make_function(callable);
        if (!fn || PyObject_SetAttrString(module, signature.name, fn.get()) < 0) return false;
    }
    return true;
}

}  // namespace brx
