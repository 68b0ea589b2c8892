// FillForeign: resolves every foreign key of a row object and loads its absent
// multi-foreign attributes, all on one guarded connection (foreign keys
// included), recursing into every row reached when `deep` is true.
#include "connections/guard_block.hpp"
#include "rows/fill_trail.hpp"
#include "rows/foreign_lookup.hpp"
#include "rows/multi_foreign_rows.hpp"
#include "rows/not_stored.hpp"
#include "rows/row_pool.hpp"
#include "rows/row_methods.hpp"
#include "statements/column_order.hpp"
#include "statements/cursor.hpp"
#include "statements/statement_texts.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

struct Fill {
    PyObject* self;
    PyObject* deep;
    PyObject* cnx;   // the block's connection
    PyObject* pool;  // as this call received it, passed on unchanged

    bool fill_reached(PyObject* obj) const {
        const int recurse = truth(deep);
        if (recurse <= 0) return recurse == 0;
        return static_cast<bool>(call_method(obj, py::FillForeign(), {deep, cnx, pool}));
    }

    bool resolve_foreign_keys() const {
        Ref foreigns = call_method(self, py::row_get_foreigns(), {});
        if (!foreigns) return false;
        return each_item(foreigns.get(), [&](PyObject* column) {
            if (!resolve_foreign_on(self, column, cnx)) return false;
            Ref obj = Ref::steal(PyObject_GetItem(self, column));
            if (!obj) return false;
            // A NULL key points nowhere: there is nothing to fill.
            return obj.get() == Py_None || fill_reached(obj.get());
        });
    }

    // The rows of the other table whose `foreign_name` column holds this row's
    // id; none for a row not stored yet (rows with a key of 0 are not its own).
    Ref read_members(PyObject* settings) const {
        Ref foreign_name = get_attr(settings, py::foreign_name());
        Ref table = foreign_name ? get_attr(settings, py::foreign_attr_table()) : Ref();
        Ref row_class = table ? get_attr(settings, py::_class()) : Ref();
        Ref id = row_class ? Ref::steal(PyObject_GetItem(self, py::id())) : Ref();
        if (!id || !require_integer_id(id.get(), "TableBase.FillForeign")) return {};
        Ref rows = Ref::steal(PyList_New(0));
        const int none_stored = rows ? has_no_stored_rows(id.get()) : -1;
        if (none_stored) return none_stored > 0 ? std::move(rows) : Ref();
        Ref query = select_by_column_text(table.get(), foreign_name.get(), id.get());
        Ref cursor = query ? open_cursor(cnx) : Ref();
        if (!cursor || !execute_statement(cursor.get(), query.get())) return {};
        if (!check_column_order(row_class.get(), table.get(), cursor.get())) return {};
        const bool read = for_each_row(cursor.get(), [&](PyObject* row) {
            Ref obj = call_with_row(row_class.get(), row);
            return obj && PyList_Append(rows.get(), obj.get()) == 0 ? RowStep::Next : RowStep::Fail;
        });
        return read ? std::move(rows) : Ref();
    }

    bool fill_multi_foreign(PyObject* attr_name, PyObject* settings) const {
        Ref objs;
        const int present = lookup_attribute(self, attr_name, objs);
        if (present < 0) return false;
        if (!present) {
            objs = read_members(settings);
            if (!objs || PyObject_SetAttr(self, attr_name, objs.get()) < 0) return false;
        }
        const int recurse = truth(deep);
        if (recurse <= 0) return recurse == 0;
        return each_item(objs.get(), [&](PyObject* obj) {
            return static_cast<bool>(call_method(obj, py::FillForeign(), {deep, cnx, pool}));
        });
    }

    bool load_multi_foreign() const {
        return each_multi_foreign(self, [&](PyObject* attr_name, PyObject* settings) {
            return fill_multi_foreign(attr_name, settings);
        });
    }
};

}  // namespace

Ref table_fill_foreign(Bound<sig::table_fill_foreign> args) {
    PyObject* self = args.get<"self">();
    Ref pool = row_pool(self, args.get<"pool">());
    if (!pool) return {};
    // A row already being filled further up this call tree is skipped, so
    // rows that point back at each other do not recurse without end.
    FillTrail trail(self);
    if (trail.already_filling()) return none();
    return with_guard(args.get<"cnx">(), pool.get(), [&](PyObject* cnx) -> Ref {
        const Fill fill{self, args.get<"deep">(), cnx, args.get<"pool">()};
        if (!fill.resolve_foreign_keys() || !fill.load_multi_foreign()) return {};
        return none();
    });
}

}  // namespace brx
