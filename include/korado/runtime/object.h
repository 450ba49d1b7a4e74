// Counted object references.
//
// Every object that the library, the data-access platform or a host hands out by reference derives from
// `Object`, which carries its own reference count. Objects routinely hand out references to themselves
// (a dynaset gives its fields collection a reference back to it), which an intrusive count makes safe:
// `Ref<T>(this)` joins the existing count instead of starting a second one.
//
// Thread-safety: none. Objects live on their host's thread; the only threads the library starts (an ODBC
// cursor reading its next block ahead, a statement's time-out watch) work on driver handles and buffers and
// never touch an object, so the count is a plain integer.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "korado/export.h"

namespace korado {

class KORADO_EXPORT Object {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    void AddRef() const noexcept { ++refs_; }
    // Deletes the object when the last reference goes.
    void Release() const noexcept {
        if (refs_ == 1) {
            // A destructor may hand out references to the object (a Close() that passes `this` on); their
            // release must not bring the count to zero again and delete the object a second time.
            refs_ = kDestroying;
            delete this;
        } else {
            // Not "if (--refs_ == 0)": GCC 12 at -O2 and above then drops the decrement from the clean-up
            // run while an exception passes (the store looks dead beside the one above), and every
            // reference a failing operation held on the way out stayed counted for good.
            --refs_;
        }
    }
    std::uint32_t RefCount() const noexcept { return refs_; }

protected:
    virtual ~Object() = default;

private:
    static constexpr std::uint32_t kDestroying = 1u << 30;
    mutable std::uint32_t refs_ = 0;
};

// A counted reference; may be null ("Nothing").
template <class T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    Ref(const Ref& o) noexcept : Ref(o.p_) {}
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(const Ref<U>& o) noexcept : Ref(o.get()) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(Ref<U>&& o) noexcept : p_(o.detach()) {}
    ~Ref() {
        if (p_) p_->Release();
    }

    Ref& operator=(const Ref& o) noexcept {
        Ref(o).swap(*this);
        return *this;
    }
    Ref& operator=(Ref&& o) noexcept {
        Ref(std::move(o)).swap(*this);
        return *this;
    }
    Ref& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    void reset() noexcept { Ref().swap(*this); }
    void swap(Ref& o) noexcept { std::swap(p_, o.p_); }
    // Gives up ownership without releasing.
    T* detach() noexcept { return std::exchange(p_, nullptr); }

    friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }
    friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
    return Ref<T>(new T(std::forward<Args>(args)...));
}

// Checked down-cast of a reference; null when the object is not a T.
template <class T, class U>
Ref<T> RefCast(const Ref<U>& r) noexcept {
    return Ref<T>(dynamic_cast<T*>(r.get()));
}

}  // namespace korado
