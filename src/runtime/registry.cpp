#include "korado/runtime/registry.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <unordered_map>
#include <optional>

#include "korado/runtime/strings.h"
#include "runtime/hot_path.h"

namespace korado {
namespace {

struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

struct Registry {
    // Key: the lower-cased ProgID. Looked up as a view (hashed, without building a key string): the
    // connection object creates a command by ProgID for every statement.
    std::unordered_map<std::string, ClassRegistration, KeyHash, std::equal_to<>> by_prog_id;
    // Changes with every registration and removal.
    std::atomic<std::uint64_t> generation{1};
};

// Never destroyed: objects released during static destruction may still create error components.
Registry& TheRegistry() {
    static Registry* r = new Registry;
    return *r;
}

std::string Key(std::string_view s) { return LCase(s); }

void Changed() { TheRegistry().generation.fetch_add(1, std::memory_order_relaxed); }

// The class each thread created last, under the exact text it was asked by: the connection object creates
// a command by ProgID for every statement. Trivially destructible, so that it still answers while static
// objects are destroyed; the registration it points to stays put while the generation is the same (the
// map's nodes do not move).
struct LastCreated {
    std::uint64_t generation = 0;
    const ClassRegistration* registration = nullptr;
    std::size_t length = 0;
    char prog_id[40];

    const ClassRegistration* Find(std::string_view id) const noexcept {
        return generation == TheRegistry().generation.load(std::memory_order_relaxed) &&
                       SameBytes(id, std::string_view(prog_id, length))
                   ? registration
                   : nullptr;
    }
    void Keep(std::string_view id, const ClassRegistration* found) noexcept {
        if (id.size() > sizeof prog_id) return;
        generation = TheRegistry().generation.load(std::memory_order_relaxed);
        registration = found;
        length = id.size();
        std::memcpy(prog_id, id.data(), id.size());
    }
};
thread_local LastCreated t_last_created;

// "{EA602240-...}" and "EA602240-..." name the same class.
std::string ClassIdKey(std::string_view s) {
    if (s.size() >= 2 && s.front() == '{' && s.back() == '}') s = s.substr(1, s.size() - 2);
    return UCase(s);
}

// By ProgID (letter case aside) or by class identifier; null when neither is registered.
const ClassRegistration* FindRegistration(std::string_view prog_id) {
    auto& map = TheRegistry().by_prog_id;
    const ClassRegistration* found = nullptr;
    FoldBuffer buffer;
    const std::optional<std::string_view> ascii = FoldAscii(prog_id, buffer);
    auto it = ascii ? map.find(*ascii) : map.find(Key(prog_id));
    if (it != map.end()) {
        found = &it->second;
    } else {
        std::string id = ClassIdKey(prog_id);
        for (const auto& [key, reg] : map)
            if (!reg.class_id.empty() && ClassIdKey(reg.class_id) == id) found = &reg;
    }
    return found;
}

}  // namespace

ClassRegistration RegisterClass(ClassRegistration registration) {
    auto& map = TheRegistry().by_prog_id;
    std::string key = Key(registration.prog_id);
    ClassRegistration previous;
    if (auto it = map.find(key); it != map.end()) previous = std::move(it->second);
    map[key] = std::move(registration);
    Changed();
    return previous;
}

ClassRegistration UnregisterClass(std::string_view prog_id) {
    auto& map = TheRegistry().by_prog_id;
    ClassRegistration previous;
    if (auto it = map.find(Key(prog_id)); it != map.end()) {
        previous = std::move(it->second);
        map.erase(it);
        Changed();
    }
    return previous;
}

KORADO_HOT Ref<Dispatch> CreateObject(std::string_view prog_id) {
    const ClassRegistration* found = t_last_created.Find(prog_id);
    if (!found) {
        found = FindRegistration(prog_id);
        if (found) t_last_created.Keep(prog_id, found);
    }
    if (!found || !found->factory) RaiseRuntime(rt::CannotCreateObject, prog_id);
    ClassFactory factory = found->factory;  // the factory may re-register classes while it runs
    Ref<Dispatch> obj = factory();
    if (!obj) RaiseRuntime(rt::CannotCreateObject, prog_id);
    return obj;
}

std::vector<ClassRegistration> RegisteredClasses() {
    std::vector<ClassRegistration> out;
    std::vector<std::string_view> keys;
    for (const auto& entry : TheRegistry().by_prog_id) keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end());
    for (std::string_view key : keys) out.push_back(TheRegistry().by_prog_id.find(key)->second);
    return out;
}

ClassRegistrar::ClassRegistrar(std::string prog_id, std::string class_id, ClassFactory factory) {
    RegisterClass({std::move(prog_id), std::move(class_id), std::move(factory)});
}

ScopedClassOverride::ScopedClassOverride(std::string prog_id, ClassFactory factory)
    : prog_id_(prog_id), previous_(RegisterClass({std::move(prog_id), {}, std::move(factory)})) {
    if (!previous_.class_id.empty()) {
        // Keep the class identifier with the ProgID while the override stands.
        auto& map = TheRegistry().by_prog_id;
        map[Key(prog_id_)].class_id = previous_.class_id;
    }
}

ScopedClassOverride::~ScopedClassOverride() {
    if (previous_.factory) {
        RegisterClass(std::move(previous_));
    } else {
        UnregisterClass(prog_id_);
    }
}

}  // namespace korado
