// Pooled<T>: class-level operator new/delete that keep freed blocks of T's size on a per-thread list.
//
// Every statement a host runs creates and drops the same handful of platform objects (a command, its
// parameters, an execution, a provider statement, a recordset and its rowset). Taking their blocks back
// from a short list costs a few instructions where the general allocator costs a hundred or more per
// allocation and release.
//
// Builds with AddressSanitizer use the general allocator, so that it still sees every use after release.
#pragma once

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KORADO_POOLED_OBJECTS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORADO_POOLED_OBJECTS 0
#endif
#endif
#ifndef KORADO_POOLED_OBJECTS
#define KORADO_POOLED_OBJECTS 1
#endif

namespace korado {
namespace pooled_detail {

// The freed blocks of one size on one thread. Trivially destructible, so that it can still be asked after
// the thread's cleanup ran (objects released by later cleanup go straight back to the allocator).
struct FreeList {
    struct Node {
        Node* next;
    };
    Node* head = nullptr;
    unsigned count = 0;
    bool closed = false;
};

// Frees a thread's blocks when the thread ends.
struct Reaper {
    FreeList* list;
    ~Reaper() {
        list->closed = true;
        while (FreeList::Node* n = list->head) {
            list->head = n->next;
            ::operator delete(n);
        }
        list->count = 0;
    }
};

template <std::size_t Size>
FreeList& ListOf() noexcept {
    thread_local FreeList list;
    return list;
}

template <std::size_t Size>
void* Take() {
    FreeList& list = ListOf<Size>();
    if (FreeList::Node* n = list.head) {
        list.head = n->next;
        --list.count;
        return n;
    }
    if (!list.closed) {
        // The first block of this size on this thread: the reaper gives the list back at thread exit.
        thread_local Reaper reaper{&list};
        (void)reaper;
    }
    return ::operator new(Size);
}

template <std::size_t Size>
void Give(void* p) noexcept {
    constexpr unsigned kKept = 64;  // enough for the objects of a few statements in flight
    FreeList& list = ListOf<Size>();
    if (list.closed || list.count >= kKept) {
        ::operator delete(p);
        return;
    }
    list.head = new (p) FreeList::Node{list.head};
    ++list.count;
}

}  // namespace pooled_detail

template <class T>
struct Pooled {
#if KORADO_POOLED_OBJECTS
    static void* operator new(std::size_t size) {
        return size == sizeof(T) ? pooled_detail::Take<sizeof(T)>() : ::operator new(size);
    }
    static void operator delete(void* p, std::size_t size) noexcept {
        if (size == sizeof(T)) {
            pooled_detail::Give<sizeof(T)>(p);
        } else {
            ::operator delete(p);
        }
    }
#endif
};

// An allocator for containers that nearly always hold a few items and reserve room for N at once: storage
// for exactly N comes from the thread's freed blocks of that size.
template <class T, std::size_t N>
struct PoolAllocator {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = PoolAllocator<U, N>;
    };
    PoolAllocator() noexcept = default;
    template <class U>
    PoolAllocator(const PoolAllocator<U, N>&) noexcept {}  // NOLINT(google-explicit-constructor)

    T* allocate(std::size_t n) {
#if KORADO_POOLED_OBJECTS
        if (n == N) return static_cast<T*>(pooled_detail::Take<N * sizeof(T)>());
#endif
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept {
#if KORADO_POOLED_OBJECTS
        if (n == N) return pooled_detail::Give<N * sizeof(T)>(p);
#endif
        (void)n;
        ::operator delete(p);
    }
    friend bool operator==(const PoolAllocator&, const PoolAllocator&) noexcept { return true; }
};

}  // namespace korado
