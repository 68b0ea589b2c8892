#include "support/names.hpp"



namespace brx {
namespace {
detail::NameNode* registered_names = nullptr;
}  // namespace

void detail::register_name(NameNode& node) noexcept {
    node.next = registered_names;
    registered_names = &node;
}

bool intern_all_names() {
    for (detail::NameNode* node = registered_names; node; node = node->next) {
        if (*node->slot) continue;
        *node->slot = PyUnicode_InternFromString(node->text);
        if (!*node->slot) return false;
    }
    return true;
}

}  // namespace brx
