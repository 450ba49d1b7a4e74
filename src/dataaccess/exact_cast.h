// ExactCast: the checked down-cast of a reference to one of the platform's final classes.
//
// The platform casts the objects a caller hands back to it (the connection a command runs on, each
// parameter appended) on every statement. For a final class the cast succeeds exactly when the object's
// dynamic type is that class, which a type comparison settles without dynamic_cast's search of the
// hierarchy.
#pragma once

#include <type_traits>
#include <typeinfo>

#include "korado/runtime/object.h"

namespace korado::dataaccess {

// The object as a T, or null when it is none (or the reference is null).
template <class T, class U>
Ref<T> ExactCast(const Ref<U>& r) noexcept {
    static_assert(std::is_final_v<T> && std::is_base_of_v<U, T>);
    if (!r || typeid(*r.get()) != typeid(T)) return Ref<T>();
    return Ref<T>(static_cast<T*>(r.get()));
}

}  // namespace korado::dataaccess
