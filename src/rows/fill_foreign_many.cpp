// FillForeignMany: follows dotted paths of foreign-key columns and
// multi-foreign attributes for a whole list of row objects at once, with one
// statement per step of each path (split only for very long id lists), in one
// guarded block.
//
// Everything is read first; only when every read has succeeded and the guard
// has ended does any given row object change. Row objects made by this call
// are filled as they are made, since nobody else can see them before the end.
#include "connections/guard_block.hpp"
#include "frame/module_state.hpp"
#include "rows/foreign_flag.hpp"
#include "rows/foreign_lookup.hpp"
#include "rows/item_meaning.hpp"
#include "rows/many_rows.hpp"
#include "rows/not_stored.hpp"
#include "rows/row_access.hpp"
#include "rows/row_methods.hpp"
#include "statements/column_order.hpp"
#include "statements/cursor.hpp"
#include "statements/statement_texts.hpp"
#include "support/calls.hpp"
#include "support/deferred_tracking.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <algorithm>
#include <charconv>
#include <memory_resource>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace brx {
namespace {

// No statement carries more identifiers than this.
constexpr std::size_t kIdsPerStatement = 5000;

// One step of the paths, and the steps that follow it. Paths with a common
// prefix share its steps, so the prefix is read once.
struct Step {
    Ref name;  // interned str
    std::vector<std::unique_ptr<Step>> below;

    Step* child(PyObject* step_name) {
        for (auto& step : below)
            if (step->name.get() == step_name) return step.get();
        below.push_back(std::make_unique<Step>());
        below.back()->name = Ref::borrow(step_name);
        return below.back().get();
    }
};

bool build_steps(PyObject* paths, Step& root) {
    if (PyUnicode_Check(paths) || PyBytes_Check(paths)) {
        PyErr_SetString(PyExc_TypeError, "FillForeignMany paths must be a list of dotted names, not a single str");
        return false;
    }
    return each_item(paths, [&](PyObject* path) {
        if (!PyUnicode_Check(path)) {
            PyErr_Format(PyExc_TypeError, "FillForeignMany path must be a str, not %.200s", Py_TYPE(path)->tp_name);
            return false;
        }
        Ref parts = Ref::steal(PyUnicode_Split(path, "."_id, -1));
        if (!parts) return false;
        Step* step = &root;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(parts.get()); ++i) {
            PyObject* part = PyList_GET_ITEM(parts.get(), i);
            Py_INCREF(part);
            PyUnicode_InternInPlace(&part);
            Ref name = Ref::steal(part);
            step = step->child(name.get());
        }
        return true;
    });
}

// An identifier as this call holds it: the value of an int (or of a subclass
// of it, so True is 1), which is all its decimal text in a statement tells.
struct RowId {
    unsigned long long bits = 0;
    bool above_signed = false;  // a value beyond the signed range, read unsigned
    bool operator==(const RowId&) const = default;
};

struct RowIdHash {
    std::size_t operator()(const RowId& id) const noexcept {
        return std::hash<unsigned long long>()(id.bits) ^ static_cast<std::size_t>(id.above_signed);
    }
};

// The identifier `id` holds; TypeError for anything but an int, so that no
// other object is ever written into a statement.
bool row_id(PyObject* id, RowId& out) {
    if (!PyLong_Check(id)) {
        PyErr_Format(PyExc_TypeError, "row identifiers must be integers, not %.200s", Py_TYPE(id)->tp_name);
        return false;
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(id, &overflow);
    if (value == -1 && PyErr_Occurred()) return false;
    if (!overflow) {
        out = RowId{static_cast<unsigned long long>(value), false};
        return true;
    }
    const unsigned long long large = PyLong_AsUnsignedLongLong(id);
    if (PyErr_Occurred()) return false;
    out = RowId{large, true};
    return true;
}

// The identifier of item `index` of a fetched row.
bool row_id_at(PyObject* row, Py_ssize_t index, RowId& out) {
    Ref id = Ref::steal(PySequence_GetItem(row, index));
    return id && row_id(id.get(), out);
}

// str(obj) as UTF-8.
bool text_of(PyObject* obj, std::string& out) {
    Ref text = Ref::steal(PyObject_Str(obj));
    Py_ssize_t size = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (!utf8) return false;
    out.assign(utf8, static_cast<std::size_t>(size));
    return true;
}

// "3, 5, 8" for ids[begin, end).
Ref id_list(const std::pmr::vector<RowId>& ids, std::size_t begin, std::size_t end) {
    std::string text;
    char digits[24];
    for (std::size_t i = begin; i < end; ++i) {
        if (i > begin) text += ", ";
        const RowId& id = ids[i];
        const auto written = id.above_signed ? std::to_chars(digits, digits + sizeof digits, id.bits)
                                             : std::to_chars(digits, digits + sizeof digits, static_cast<long long>(id.bits));
        text.append(digits, written.ptr);
    }
    return Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// Runs a `SELECT * FROM table WHERE ... IN (...)` statement and builds one
// row object per result row with `row_class(*row)`, calling
// on_object(row, obj). The one place these reads turn rows into objects.
template <class OnObject>
bool read_rows(PyObject* cnx, PyObject* statement, PyObject* table, PyObject* row_class, DeferredTracking& tracking,
               OnObject&& on_object) {
    Ref cursor = open_cursor(cnx);
    if (!cursor || !execute_statement(cursor.get(), statement)) return false;
    if (!check_column_order(row_class, table, cursor.get())) return false;
    return for_each_row(cursor.get(), [&](PyObject* row) {
        Ref obj = call_with_row(row_class, row);
        if (obj) tracking.defer(obj.get());
        return obj && on_object(row, obj) ? RowStep::Next : RowStep::Fail;
    });
}

// What a step names on a class, by the rules of item read (attribute rule
// aside), asked of `row`, one of the class's rows, where only a row can tell
// (null: none at hand): a foreign-key column or a multi-foreign attribute,
// with its settings. Anything else raises KeyError.
enum class StepKind { Failed, ForeignKey, MultiForeign };

StepKind step_kind(PyObject* cls, PyObject* name, PyObject* row, Ref& settings) {
    const Declared declared = declared_as(
        name, [&] { return get_attr(cls, py::COLUMN_NAMES()); },
        [&](PyObject* attribute) { return get_attr(cls, attribute); });
    if (declared == Declared::Failed) return StepKind::Failed;
    if (declared == Declared::Column) {
        const int foreign = foreign_key_of(cls, name, row);
        if (foreign < 0) return StepKind::Failed;
        if (foreign) {
            Ref attributes = get_attr(cls, py::COLUMN_ATTRIBUTES());
            settings = attributes ? Ref::steal(PyObject_GetItem(attributes.get(), name)) : Ref();
            return settings ? StepKind::ForeignKey : StepKind::Failed;
        }
    } else if (declared == Declared::MultiForeign) {
        Ref multi_foreign = get_attr(cls, py::MULTI_FOREIGN_ATTR());
        settings = multi_foreign ? Ref::steal(PyObject_GetItem(multi_foreign.get(), name)) : Ref();
        return settings ? StepKind::MultiForeign : StepKind::Failed;
    }
    Ref class_name = get_attr(cls, py::dunder_name());
    if (!class_name) return StepKind::Failed;
    Ref message = format("%s has neither a foreign key column nor a multi-foreign attribute named '%s'"_id,
                         {class_name.get(), name});
    if (message) PyErr_SetObject(PyExc_KeyError, message.get());
    return StepKind::Failed;
}

// Checks every step against the declared classes before any statement:
// from `cls` (whose row `row` is given), then through each foreign key's
// foreignClass and each multi-foreign attribute's _class, as far as those
// are row classes.
bool check_steps(PyObject* cls, PyObject* row, const Step& step, PyObject* table_base) {
    for (const auto& next : step.below) {
        Ref settings;
        const StepKind kind = step_kind(cls, next->name.get(), row, settings);
        if (kind == StepKind::Failed) return false;
        if (next->below.empty()) continue;
        Ref target = get_attr(settings.get(), kind == StepKind::ForeignKey ? py::foreignClass() : py::_class());
        if (!target) return false;
        if (!PyType_Check(target.get())) continue;
        const int is_row_class = PyObject_IsSubclass(target.get(), table_base);
        if (is_row_class < 0) return false;
        if (is_row_class && !check_steps(target.get(), nullptr, *next, table_base)) return false;
    }
    return true;
}

// The place in the child class's columns of the column that points back at
// the owner, which a list's rows are matched to their owners by. ValueError
// naming the attribute and both classes when the child has no such column.
Py_ssize_t back_column_index(PyObject* owner, PyObject* attr_name, PyObject* child_class, PyObject* column) {
    Ref child_columns = get_attr(child_class, py::COLUMN_NAMES());
    if (!child_columns) return -1;
    const int is_column = contains_name(child_columns.get(), column);
    if (is_column <= 0) {
        if (is_column == 0) {
            Ref child_name = get_attr(child_class, py::dunder_name());
            if (child_name)
                PyErr_Format(PyExc_ValueError,
                             "multi-foreign attribute '%U' of %.200s names the column %R as its foreign_name, but %S "
                             "has no such column in COLUMN_NAMES",
                             attr_name, Py_TYPE(owner)->tp_name, column, child_name.get());
        }
        return -1;
    }
    return PySequence_Index(child_columns.get(), column);
}

// A change to a row object, made only once the whole call has succeeded:
// store[name] = value for a column, setattr(row, name, value) otherwise.
struct Change {
    Ref row;
    Ref store;  // null for an attribute
    Ref name;
    Ref value;
};

// Everything one call keeps on the side (the identity map, the changes, the
// groups and lists of each step) is allocated from one arena, released when
// the call ends: a page of rows would otherwise cost thousands of separate
// allocations.
using Arena = std::pmr::monotonic_buffer_resource;
using Refs = std::pmr::vector<Ref>;
using Pointers = std::pmr::vector<PyObject*>;

// Row objects grouped by class, in the order their classes first appear.
using Groups = std::pmr::vector<std::pair<PyObject*, Pointers>>;

Groups by_class(const Refs& objects, Arena& arena) {
    Groups groups(&arena);
    for (const Ref& obj : objects) {
        PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(obj.get()));
        auto it = groups.begin();
        while (it != groups.end() && it->first != cls) ++it;
        if (it == groups.end()) {
            groups.emplace_back(cls, Pointers(&arena));
            it = groups.end() - 1;
        }
        it->second.push_back(obj.get());
    }
    return groups;
}

// The identifiers one statement (or a few, for very long lists) reads.
struct Lookup {
    explicit Lookup(Arena& arena) : ids(&arena), seen(&arena) {}
    Ref table;
    std::size_t table_number = 0;
    Ref row_class;
    std::pmr::vector<RowId> ids;  // distinct, in first-seen order
    std::pmr::unordered_set<RowId, RowIdHash> seen;

    void add(const RowId& id) {
        if (seen.insert(id).second) ids.push_back(id);
    }
};

// Where a row object stands in the identity map: its class, its table (by
// the number the call gave the table's name) and its identifier.
struct RowKey {
    PyObject* cls;
    std::size_t table;
    RowId id;
    bool operator==(const RowKey&) const = default;
};

struct RowKeyHash {
    std::size_t operator()(const RowKey& key) const noexcept {
        const std::size_t h = std::hash<const void*>()(key.cls) * 31 + key.table;
        return h * 1000003 ^ RowIdHash()(key.id);
    }
};

struct PairHash {
    std::size_t operator()(const std::pair<PyObject*, PyObject*>& pair) const noexcept {
        return std::hash<const void*>()(pair.first) * 31 ^ std::hash<const void*>()(pair.second);
    }
};

class ManyFill {
public:
    explicit ManyFill(PyObject* table_base) : table_base_(table_base) {}
    ManyFill(const ManyFill&) = delete;
    ManyFill& operator=(const ManyFill&) = delete;

    void use_connection(PyObject* cnx) { cnx_ = cnx; }

    // Follows every step from the given rows.
    bool fill(const Step& root, std::vector<Ref> rows) {
        Refs objects(&arena_);
        objects.reserve(rows.size());
        for (Ref& row : rows) objects.push_back(std::move(row));
        return walk(root, std::move(objects));
    }

    bool walk(const Step& step, Refs objects) {
        objects = distinct(std::move(objects));
        if (!remember_all(objects)) return false;
        for (const auto& next : step.below) {
            Refs reached(&arena_);
            if (!take_step(next->name.get(), objects, reached)) return false;
            if (!next->below.empty() && !walk(*next, std::move(reached))) return false;
        }
        return true;
    }

    // Makes every change; the reads are over. When one cannot be made (a row
    // class refusing an attribute, say), those made already are undone, so
    // every row is left as it was.
    bool apply() {
        std::pmr::vector<Undo> made(&arena_);
        made.reserve(changes_.size());
        for (const Change& change : changes_) {
            Undo undo{&change, {}};
            if (change.store) {
                undo.old = Ref::steal(PyObject_GetItem(change.store.get(), change.name.get()));
                if (!undo.old) {
                    if (!PyErr_ExceptionMatches(PyExc_KeyError)) return undo_all(made);
                    PyErr_Clear();
                }
            }
            const int done = change.store ? PyObject_SetItem(change.store.get(), change.name.get(), change.value.get())
                                          : PyObject_SetAttr(change.row.get(), change.name.get(), change.value.get());
            if (done < 0) return undo_all(made);
            made.push_back(std::move(undo));
        }
        return true;
    }

private:
    // A change made, with what its column held before (null: nothing, or an
    // attribute, which the row did not have).
    struct Undo {
        const Change* change;
        Ref old;
    };

    // Puts back, newest first, what `made` changed; the pending exception is
    // kept, and a failure to put one back does not stop the others.
    static bool undo_all(std::pmr::vector<Undo>& made) {
        StashedError failure;
        for (auto undo = made.rbegin(); undo != made.rend(); ++undo) {
            const Change& change = *undo->change;
            if (change.store && undo->old)
                PyObject_SetItem(change.store.get(), change.name.get(), undo->old.get());
            else if (change.store)
                PyObject_DelItem(change.store.get(), change.name.get());
            else
                PyObject_DelAttr(change.row.get(), change.name.get());
            PyErr_Clear();
        }
        return false;
    }

    PyObject* cnx_ = nullptr;
    PyObject* table_base_;
    // Declared before everything allocated from it.
    Arena arena_{16384};
    // Declared first of the members that hold rows, so destroyed last: every
    // row made is tracked again before any is let go.
    DeferredTracking tracking_;
    std::pmr::vector<Change> changes_{&arena_};
    // Every row object this call has reached or made, by class, table and
    // identifier: each row is one object within the call.
    std::pmr::unordered_map<RowKey, Ref, RowKeyHash> known_{&arena_};
    std::pmr::unordered_map<PyObject*, std::size_t> class_tables_{&arena_};
    // Table names, numbered by their text as a statement has it; names that
    // are exact str objects are known again by identity (and held, so that no
    // other object takes their address).
    std::vector<std::string> table_texts_;
    std::vector<std::pair<Ref, std::size_t>> table_objects_;
    // What (row, name) will hold once the changes are made.
    std::pmr::unordered_map<std::pair<PyObject*, PyObject*>, Ref, PairHash> pending_{&arena_};

    Refs distinct(Refs objects) {
        std::pmr::unordered_set<PyObject*> seen(&arena_);
        Refs out(&arena_);
        out.reserve(objects.size());
        for (Ref& obj : objects)
            if (seen.insert(obj.get()).second) out.push_back(std::move(obj));
        return out;
    }

    int is_row_object(PyObject* obj) const { return PyObject_IsInstance(obj, table_base_); }

    bool table_number(PyObject* table, std::size_t& number) {
        for (const auto& [known, known_number] : table_objects_) {
            if (known.get() != table) continue;
            number = known_number;
            return true;
        }
        std::string text;
        if (!text_of(table, text)) return false;
        const auto found = std::find(table_texts_.begin(), table_texts_.end(), text);
        number = static_cast<std::size_t>(found - table_texts_.begin());
        if (found == table_texts_.end()) table_texts_.push_back(std::move(text));
        if (PyUnicode_CheckExact(table)) table_objects_.emplace_back(Ref::borrow(table), number);
        return true;
    }

    bool class_table(PyObject* cls, std::size_t& table) {
        auto found = class_tables_.find(cls);
        if (found != class_tables_.end()) {
            table = found->second;
            return true;
        }
        Ref name = get_attr(cls, py::TABLE_NAME());
        if (!name || !table_number(name.get(), table)) return false;
        class_tables_.emplace(cls, table);
        return true;
    }

    // Enters stored rows reached (given, or held by keys and lists) into the
    // identity map, so that a key pointing at one of them gets that object.
    bool remember_all(const Refs& objects) {
        for (const Ref& obj : objects) {
            PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(obj.get()));
            Ref id = Ref::steal(PyObject_GetItem(obj.get(), py::id()));
            if (!id) {
                PyErr_Clear();  // a row without an "id" is only not shared
                continue;
            }
            if (!PyLong_Check(id.get())) continue;  // not stored in a way a key can name
            const int is_new = not_stored(id.get());
            if (is_new) {
                if (is_new < 0) return false;
                continue;
            }
            RowKey key{cls, 0, {}};
            if (!row_id(id.get(), key.id) || !class_table(cls, key.table)) return false;
            known_.try_emplace(key, Ref::borrow(obj.get()));
        }
        return true;
    }

    void change(PyObject* row, PyObject* store, PyObject* name, PyObject* value) {
        changes_.push_back(Change{Ref::borrow(row), Ref::borrow(store), Ref::borrow(name), Ref::borrow(value)});
        pending_[{row, name}] = Ref::borrow(value);
    }

    // Goes on through `value` when it is a row object.
    bool reach(PyObject* value, Refs& reached) const {
        if (value == Py_None) return true;
        const int row = is_row_object(value);
        if (row < 0) return false;
        if (row) reached.push_back(Ref::borrow(value));
        return true;
    }

    bool take_step(PyObject* name, const Refs& objects, Refs& reached) {
        Groups keys(&arena_), multi_foreign(&arena_);
        Refs multi_foreign_settings(&arena_);
        for (auto& [cls, rows] : by_class(objects, arena_)) {
            Ref settings;
            const StepKind kind = step_kind(cls, name, rows.front(), settings);
            if (kind == StepKind::Failed) return false;
            (kind == StepKind::ForeignKey ? keys : multi_foreign).emplace_back(cls, std::move(rows));
            if (kind == StepKind::MultiForeign) multi_foreign_settings.push_back(std::move(settings));
        }
        if (!keys.empty() && !follow_keys(name, keys, reached)) return false;
        for (std::size_t i = 0; i < multi_foreign.size(); ++i)
            if (!load_multi_foreign(name, multi_foreign_settings[i].get(), multi_foreign[i].second, reached)) return false;
        return true;
    }

    // A foreign-key column step: the identifiers still held as integers,
    // read with one statement per referenced table and class.
    bool follow_keys(PyObject* name, const Groups& groups, Refs& reached) {
        struct Waiting {
            PyObject* row;
            Ref store;
            Ref id;
            RowKey key;
            Lookup* lookup;
        };
        std::vector<std::unique_ptr<Lookup>> lookups;
        std::pmr::vector<Waiting> waiting(&arena_);
        for (const auto& group : groups) {
            for (PyObject* row : group.second) {
                auto held = pending_.find({row, name});
                if (held != pending_.end()) {
                    if (!reach(held->second.get(), reached)) return false;
                    continue;
                }
                Ref id, cache;
                const ForeignRead read = foreign_read(row, name, id, cache);
                if (read == ForeignRead::Failed) return false;
                if (read == ForeignRead::AsStored) {
                    Ref value = Ref::steal(PyObject_GetItem(row, name));
                    if (!value || !reach(value.get(), reached)) return false;
                    continue;
                }
                Ref store = column_store(row);
                Ref table, row_class;
                if (!store || !foreign_target(row, name, table, row_class)) return false;
                if (read == ForeignRead::Cache) {
                    // As item read: the cache's Select, on the cache's own terms.
                    Ref value = call_method(cache.get(), py::Select(), {id.get(), table.get(), row_class.get()});
                    if (!value) return false;
                    change(row, store.get(), name, value.get());
                    if (!reach(value.get(), reached)) return false;
                    continue;
                }
                RowKey key{row_class.get(), 0, {}};
                if (!row_id(id.get(), key.id) || !table_number(table.get(), key.table)) return false;
                auto known = known_.find(key);
                if (known != known_.end()) {
                    change(row, store.get(), name, known->second.get());
                    if (!reach(known->second.get(), reached)) return false;
                    continue;
                }
                // One statement per class and table name.
                Lookup* lookup = nullptr;
                for (auto& candidate : lookups)
                    if (candidate->row_class.get() == row_class.get() && candidate->table_number == key.table)
                        lookup = candidate.get();
                if (!lookup) {
                    lookups.push_back(std::make_unique<Lookup>(arena_));
                    lookup = lookups.back().get();
                    lookup->table = std::move(table);
                    lookup->table_number = key.table;
                    lookup->row_class = std::move(row_class);
                }
                lookup->add(key.id);
                waiting.push_back(Waiting{row, std::move(store), std::move(id), key, lookup});
            }
        }
        for (const auto& lookup : lookups)
            if (!read_by_ids(*lookup)) return false;
        for (const Waiting& wait : waiting) {
            auto found = known_.find(wait.key);
            if (found == known_.end()) {
                Ref message = format("Table %s has no row with id = %d"_id, {wait.lookup->table.get(), wait.id.get()});
                if (message) PyErr_SetObject(PyExc_KeyError, message.get());
                return false;
            }
            change(wait.row, wait.store.get(), name, found->second.get());
            if (!reach(found->second.get(), reached)) return false;
        }
        return true;
    }

    // SELECT * FROM `table` WHERE id IN (...): the rows enter the identity map.
    bool read_by_ids(const Lookup& lookup) {
        for (std::size_t begin = 0; begin < lookup.ids.size(); begin += kIdsPerStatement) {
            const std::size_t end = std::min(lookup.ids.size(), begin + kIdsPerStatement);
            Ref ids = id_list(lookup.ids, begin, end);
            Ref statement = ids ? select_by_ids_text(lookup.table.get(), ids.get()) : Ref();
            if (!statement) return false;
            const bool read = read_rows(cnx_, statement.get(), lookup.table.get(), lookup.row_class.get(), tracking_, [&](PyObject* row, Ref& obj) {
                RowKey key{lookup.row_class.get(), lookup.table_number, {}};
                if (!row_id_at(row, 0, key.id)) return false;
                known_.try_emplace(key, std::move(obj));
                return true;
            });
            if (!read) return false;
        }
        return true;
    }

    // A multi-foreign attribute step: the children of every row of one class
    // that does not hold the attribute yet, read with one statement (rows of
    // several classes at one step: one statement per class).
    bool load_multi_foreign(PyObject* name, PyObject* settings, const Pointers& rows, Refs& reached) {
        Ref foreign_name = get_attr(settings, py::foreign_name());
        Ref table = foreign_name ? get_attr(settings, py::foreign_attr_table()) : Ref();
        Ref row_class = table ? get_attr(settings, py::_class()) : Ref();
        if (!row_class) return false;
        if (PyUnicode_CheckExact(foreign_name.get())) {
            PyObject* interned = foreign_name.release();
            PyUnicode_InternInPlace(&interned);
            foreign_name = Ref::steal(interned);
        }
        // Parents by identifier, in first-seen order.
        std::pmr::vector<RowId> ids(&arena_);
        std::pmr::unordered_map<RowId, Pointers, RowIdHash> parents(&arena_);
        for (PyObject* row : rows) {
            auto held = pending_.find({row, name});
            Ref present;
            if (held != pending_.end()) {
                present = Ref::borrow(held->second.get());
            } else {
                const int found = lookup_attribute(row, name, present);
                if (found < 0) return false;
            }
            if (present) {
                // Loaded already (or set by the application): not read again.
                if (!each_item(present.get(), [&](PyObject* member) { return reach(member, reached); })) return false;
                continue;
            }
            Ref id = Ref::steal(PyObject_GetItem(row, py::id()));
            const int none_stored = id ? has_no_stored_rows(id.get()) : -1;
            if (none_stored < 0) return false;
            if (none_stored) {
                // Not stored yet: rows holding its id (0) are no children of it.
                Ref empty = Ref::steal(PyList_New(0));
                if (!empty) return false;
                change(row, nullptr, name, empty.get());
                continue;
            }
            RowId parent_id;
            if (!row_id(id.get(), parent_id)) return false;
            auto& same_id = parents[parent_id];
            if (same_id.empty()) ids.push_back(parent_id);
            same_id.push_back(row);
        }
        if (ids.empty()) return true;

        const Py_ssize_t back_index = back_column_index(rows.front(), name, row_class.get(), foreign_name.get());
        if (back_index < 0) return false;
        const ClassForeignKey back_key = class_foreign_key(row_class.get(), foreign_name.get());
        if (back_key == ClassForeignKey::Failed) return false;
        std::size_t table_number = 0;
        if (!this->table_number(table.get(), table_number)) return false;

        std::pmr::unordered_map<RowId, Refs, RowIdHash> children(&arena_);
        for (std::size_t begin = 0; begin < ids.size(); begin += kIdsPerStatement) {
            const std::size_t end = std::min(ids.size(), begin + kIdsPerStatement);
            Ref id_text_list = id_list(ids, begin, end);
            Ref statement =
                id_text_list ? select_by_column_in_text(table.get(), foreign_name.get(), id_text_list.get()) : Ref();
            if (!statement) return false;
            const bool read = read_rows(cnx_, statement.get(), table.get(), row_class.get(), tracking_, [&](PyObject* row, Ref& obj) {
                Ref id = Ref::steal(PySequence_GetItem(row, 0));
                Ref parent_id = id ? Ref::steal(PySequence_GetItem(row, back_index)) : Ref();
                RowKey key{row_class.get(), table_number, {}};
                RowId parent;
                if (!parent_id || !row_id(id.get(), key.id) || !row_id(parent_id.get(), parent)) return false;
                // A row reached already in this call stays the one object.
                auto [entry, added] = known_.try_emplace(key, std::move(obj));
                children[parent].push_back(Ref::borrow(entry->second.get()));
                return true;
            });
            if (!read) return false;
        }

        for (const RowId& parent_id : ids) {
            const Refs& members = children[parent_id];
            const Pointers& owners = parents[parent_id];
            for (PyObject* owner : owners) {
                Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(members.size())));
                if (!list) return false;
                for (std::size_t i = 0; i < members.size(); ++i)
                    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Ref::borrow(members[i].get()).release());
                change(owner, nullptr, name, list.get());
            }
            for (const Ref& member : members) {
                reached.push_back(Ref::borrow(member.get()));
                if (back_key != ClassForeignKey::No && !point_back(member.get(), foreign_name.get(), owners.front(), back_key))
                    return false;
            }
        }
        return true;
    }

    // The child's key column holds its parent object, as item read of it
    // would give (a row that holds an object there already keeps it).
    bool point_back(PyObject* child, PyObject* column, PyObject* parent, ClassForeignKey back_key) {
        if (pending_.count({child, column})) return true;
        if (back_key == ClassForeignKey::PerRow) {
            const int foreign = is_foreign_key(RowView(child), column);
            if (foreign <= 0) return foreign == 0;
        }
        Ref store = column_store(child);
        if (!store) return false;
        Ref value = Ref::steal(PyObject_GetItem(store.get(), column));
        if (!value) return false;
        if (PyLong_Check(value.get())) change(child, store.get(), column, parent);
        return true;
    }
};

constexpr ManyRowsCall kFillForeignMany{"FillForeignMany", "reads",
                                        "fill them apart, or give the cnx or pool to read them from"};

}  // namespace

Ref fill_foreign_many(Bound<sig::fill_foreign_many> args) {
    Ref table_base = global(py::TableBase());
    if (!table_base) return {};
    Step root;
    Ref rows;
    std::vector<Ref> objects;
    // Everything that can be checked without the server is checked first.
    if (!row_objects(args.get<"rows">(), kFillForeignMany, rows, objects)) return {};
    if (!build_steps(args.get<"paths">(), root)) return {};
    std::vector<PyObject*> classes;
    for (const Ref& row : objects) {
        PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(row.get()));
        if (std::find(classes.begin(), classes.end(), cls) == classes.end()) {
            classes.push_back(cls);
            if (!check_steps(cls, row.get(), root, table_base.get())) return {};
        }
    }
    if (objects.empty() || root.below.empty()) return rows;

    Ref pool = shared_pool(objects, args.get<"cnx">(), args.get<"pool">(), kFillForeignMany);
    if (!pool) return {};
    ManyFill fill(table_base.get());
    Ref done = with_guard(args.get<"cnx">(), pool.get(), [&](PyObject* cnx) -> Ref {
        fill.use_connection(cnx);
        return fill.fill(root, std::move(objects)) ? none() : Ref();
    });
    // The guard has ended the transaction and given the connection back.
    if (!done || !fill.apply()) return {};
    return rows;
}

}  // namespace brx
