// Creation by ProgID.
//
// The library, the data-access platform stand-in, the companion components and a host all register the
// classes they make creatable; `CreateObject` makes one by name, as the automation runtime does. ProgIDs
// compare without regard to letter case. A host or a test may register its own factory under a ProgID that
// is taken: the later registration wins and the earlier factory is returned so it can be put back.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "korado/export.h"
#include "korado/runtime/dispatch.h"

namespace korado {

using ClassFactory = std::function<Ref<Dispatch>()>;

struct ClassRegistration {
    std::string prog_id;   // "korADO.clsADO"
    std::string class_id;  // "EA602240-4E0C-48B2-BAD9-EF1E8E3D1117", empty when the class has none
    ClassFactory factory;
};

// Registers (or replaces) a class; returns the registration it replaced (empty factory when none).
KORADO_EXPORT ClassRegistration RegisterClass(ClassRegistration registration);
// Removes a registration; returns it.
KORADO_EXPORT ClassRegistration UnregisterClass(std::string_view prog_id);
// Creates an object by ProgID or by class identifier (with or without braces). Raises 429 naming the
// ProgID when nothing is registered under it; a factory's own failure passes through.
KORADO_EXPORT Ref<Dispatch> CreateObject(std::string_view prog_id);
// As CreateObject, then checks the kind: raises 13 when the object is not a T.
template <class T>
Ref<T> CreateObjectAs(std::string_view prog_id) {
    Ref<Dispatch> object = CreateObject(prog_id);
    // The connection object creates a command by ProgID for every statement: the way from the created
    // class to T is found once per class and thread (a cast's hierarchy walk compares type names).
    thread_local const std::type_info* last_class = nullptr;
    thread_local std::ptrdiff_t last_offset = 0;
    const Dispatch& made = *object;
    const std::type_info& created = typeid(made);
    T* cast = nullptr;
    if (&created == last_class) {
        cast = reinterpret_cast<T*>(reinterpret_cast<char*>(object.get()) + last_offset);
    } else if ((cast = dynamic_cast<T*>(object.get()))) {
        last_class = &created;
        last_offset = reinterpret_cast<char*>(cast) - reinterpret_cast<char*>(object.get());
    }
    if (!cast) RaiseRuntime(rt::TypeMismatch, prog_id);
    return Ref<T>(cast);
}
// Every registration, sorted by ProgID.
KORADO_EXPORT std::vector<ClassRegistration> RegisteredClasses();

// Registers a class while the library loads: `static ClassRegistrar reg{"korADO.clsADO", "EA60...", f};`
struct KORADO_EXPORT ClassRegistrar {
    ClassRegistrar(std::string prog_id, std::string class_id, ClassFactory factory);
};

// Scoped replacement of a registration, for tests and hosts: the earlier one comes back on destruction.
class KORADO_EXPORT ScopedClassOverride {
public:
    ScopedClassOverride(std::string prog_id, ClassFactory factory);
    ~ScopedClassOverride();
    ScopedClassOverride(const ScopedClassOverride&) = delete;
    ScopedClassOverride& operator=(const ScopedClassOverride&) = delete;

private:
    std::string prog_id_;
    ClassRegistration previous_;
};

}  // namespace korado
