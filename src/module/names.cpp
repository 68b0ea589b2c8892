#include "module/names.hpp"

#include <utility>
#include <vector>

namespace brx {
namespace {
std::vector<std::pair<PyObject**, const char*>>& pending_names() {
    static std::vector<std::pair<PyObject**, const char*>> names;
    return names;
}
}  // namespace

void detail::register_name(PyObject** slot, const char* text) {
    pending_names().emplace_back(slot, text);
}

bool intern_all_names() {
    for (auto& [slot, text] : pending_names()) {
        if (*slot) continue;
        *slot = PyUnicode_InternFromString(text);
        if (!*slot) return false;
    }
    return true;
}

}  // namespace brx
