// SharedText: an immutable text shared by reference count.
//
// A command's text travels to every recordset its executions return (their Source), one recordset per
// statement run; sharing it costs a count instead of a copy. The text is one block with its count; the
// empty text holds none. Counts are not atomic: the objects that share a text belong to one thread, as all
// platform objects do.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/hot_path.h"
#include "runtime/pooled.h"

namespace korado::dataaccess {

class SharedText {
  public:
    SharedText() noexcept = default;
    explicit SharedText(std::string_view text) {
        if (text.empty()) return;
        block_ = static_cast<Block*>(Allocate(offsetof(Block, data) + text.size()));
        block_->refs = 1;
        block_->size = text.size();
        std::memcpy(block_->data, text.data(), text.size());
    }
    SharedText(const SharedText& o) noexcept : block_(o.block_) {
        if (block_) ++block_->refs;
    }
    SharedText(SharedText&& o) noexcept : block_(std::exchange(o.block_, nullptr)) {}
    SharedText& operator=(const SharedText& o) noexcept {
        SharedText(o).swap(*this);
        return *this;
    }
    SharedText& operator=(SharedText&& o) noexcept {
        SharedText(std::move(o)).swap(*this);
        return *this;
    }
    KORADO_HOT ~SharedText() {
        if (block_ && --block_->refs == 0) Free(block_, offsetof(Block, data) + block_->size);
    }

    std::string_view view() const noexcept {
        return block_ ? std::string_view(block_->data, block_->size) : std::string_view();
    }
    std::string str() const { return std::string(view()); }
    bool empty() const noexcept { return block_ == nullptr; }
    void swap(SharedText& o) noexcept { std::swap(block_, o.block_); }

  private:
    struct Block {
        std::size_t refs;
        std::size_t size;
        char data[1];  // `size` characters; the block is allocated to hold them all
    };
    // A statement's text is usually short, and a new one comes with every command: such blocks are kept
    // on the thread's list of freed blocks of their size.
    static constexpr std::size_t kShortBlock = 128;
    static void* Allocate(std::size_t bytes) {
#if KORADO_POOLED_OBJECTS
        if (bytes <= kShortBlock) return pooled_detail::Take<kShortBlock>();
#endif
        return ::operator new(bytes);
    }
    static void Free(void* block, std::size_t bytes) noexcept {
#if KORADO_POOLED_OBJECTS
        if (bytes <= kShortBlock) return pooled_detail::Give<kShortBlock>(block);
#endif
        (void)bytes;
        ::operator delete(block);
    }

    Block* block_ = nullptr;
};

}  // namespace korado::dataaccess
