// The private helpers of TableBase that read the class configuration.
#include "rows/foreign_flag.hpp"
#include "rows/row_methods.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <utility>
#include <vector>

namespace brx {
namespace {

// The flag of column `name` of `self`, as it is stored.
Ref flag_of(PyObject* self, PyObject* name) {
    Ref attributes = get_attr(self, py::COLUMN_ATTRIBUTES());
    return attributes ? foreign_flag(attributes.get(), name) : Ref();
}

}  // namespace

Ref table_is_foreign(Bound<sig::table_is_foreign> args) { return flag_of(args.get<"self">(), args.get<"name">()); }

Ref table_is_foreign_key(Bound<sig::table_is_foreign_key> args) { return flag_of(args.get<"self">(), args.get<"name">()); }

Ref table_get_pool(Bound<sig::table_get_pool> args) { return pool_or_default(args.get<"pool">(), args.get<"self">(), py::POOL()); }

Ref table_get_foreigns(Bound<sig::table_get_foreigns> args) { return declared_foreign_keys(args.get<"self">()); }

Ref declared_foreign_keys(PyObject* self) {
    Ref attributes = get_attr(self, py::COLUMN_ATTRIBUTES());
    if (!attributes) return {};
    Ref foreigns = Ref::steal(PyList_New(0));
    if (!foreigns) return {};
    const auto add_if_foreign = [&](PyObject* key, PyObject* settings) {
        Ref flag = get_own_attr(settings, py::isForeignKey());
        const int foreign = flag ? truth(flag.get()) : -1;
        return foreign == 0 || (foreign > 0 && PyList_Append(foreigns.get(), key) == 0);
    };
    if (PyDict_CheckExact(attributes.get())) {
        // Its pairs held first: reading a flag may run code that changes the dict.
        std::vector<std::pair<Ref, Ref>> pairs;
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *settings = nullptr;
        while (PyDict_Next(attributes.get(), &pos, &key, &settings)) pairs.emplace_back(Ref::borrow(key), Ref::borrow(settings));
        for (const auto& [held_key, held_settings] : pairs)
            if (!add_if_foreign(held_key.get(), held_settings.get())) return {};
        return foreigns;
    }
    Ref items = call_method(attributes.get(), py::items(), {});
    if (!items) return {};
    const bool done = each_item(items.get(), [&](PyObject* item) {
        Ref key = Ref::steal(PySequence_GetItem(item, 0));
        Ref settings = key ? Ref::steal(PySequence_GetItem(item, 1)) : Ref();
        return settings && add_if_foreign(key.get(), settings.get());
    });
    return done ? std::move(foreigns) : Ref();
}

Ref foreign_key_columns(PyObject* row) {
    if (runs_own(row, py::row_get_foreigns(), sig::table_get_foreigns)) return declared_foreign_keys(row);
    return call_method(row, py::row_get_foreigns(), {});
}

}  // namespace brx
