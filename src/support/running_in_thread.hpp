// Marks something as running in this thread for as long as a scope lasts, so
// that the operation reached again for it further in (through a cycle of
// rows, say) can tell and stop instead of recursing without end.
#pragma once

#include <algorithm>
#include <vector>

namespace brx {

// `Tag` names one operation: each tag has its own thread-local stack of keys.
template <class Tag, class Key>
class RunningInThread {
public:
    explicit RunningInThread(Key key) : key_(std::move(key)) { stack().push_back(key_); }
    ~RunningInThread() {
        auto& running = stack();
        auto found = std::find(running.rbegin(), running.rend(), key_);
        if (found != running.rend()) running.erase(std::next(found).base());
    }
    RunningInThread(const RunningInThread&) = delete;
    RunningInThread& operator=(const RunningInThread&) = delete;

    static bool contains(const Key& key) {
        const auto& running = stack();
        return std::find(running.begin(), running.end(), key) != running.end();
    }

    // The keys entered since `key` was (its outermost entry), `key` first and
    // the innermost last: the round a cycle has gone so far. Empty when `key`
    // is not running.
    static std::vector<Key> since(const Key& key) {
        const auto& running = stack();
        return std::vector<Key>(std::find(running.begin(), running.end(), key), running.end());
    }

private:
    static std::vector<Key>& stack() {
        thread_local std::vector<Key> running;
        return running;
    }

    Key key_;
};

}  // namespace brx
