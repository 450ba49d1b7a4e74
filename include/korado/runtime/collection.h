// The language's Collection: 1-based, insertion-ordered, with optional string keys compared without regard
// to letter case (Unicode case folding: "Qty", "QTY" and "qty" are one key).
//
// Failures: a position out of range or an unknown key raises 5 (as the language's Collection does for
// Item and Remove); adding a key that is present raises 457.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "korado/export.h"
#include "korado/runtime/dispatch.h"

namespace korado {

class KORADO_EXPORT Collection : public Dispatch {
public:
    Collection() : stamp_(NextStamp()) {}

    // Appends; a non-empty key must be new.
    void Add(Variant item, std::string_view key = {});
    // Inserts before the 1-based position `before`.
    void AddBefore(Variant item, std::size_t before, std::string_view key = {});
    // Room for `count` items without growing again: for a list whose length is known.
    void Reserve(std::size_t count);
    std::int32_t Count() const noexcept { return static_cast<std::int32_t>(items_.size()); }

    // By position (a number, 1 to Count) or by key (text). Raises 5 when there is no such item.
    const Variant& Item(const Variant& index) const;
    const Variant& ItemAt(std::size_t position) const;  // 1-based
    const Variant& ItemByKey(std::string_view key) const;
    // As Item, without raising: nullptr when absent.
    const Variant* Find(const Variant& index) const noexcept;
    const Variant* FindKey(std::string_view key) const noexcept;
    bool ContainsKey(std::string_view key) const noexcept { return FindKey(key) != nullptr; }
    // 1-based position of a key, 0 when absent.
    std::size_t PositionOfKey(std::string_view key) const noexcept;
    // Changes with every Add and Remove, and no two collections ever share one: what a caller found in the
    // collection still holds while its stamp is the same.
    std::uint64_t Stamp() const noexcept { return stamp_; }

    void Remove(const Variant& index);
    void RemoveAt(std::size_t position);  // 1-based
    void Clear() noexcept;

    // Iteration over the items in order (0-based std iteration).
    auto begin() const noexcept { return items_.begin(); }
    auto end() const noexcept { return items_.end(); }
    const std::string& KeyAt(std::size_t position) const;  // 1-based; empty when the item has no key

    Ref<Enumerator> NewEnum();
    std::string_view ClassName() const noexcept override { return "Collection"; }

    // Late-bound members: Add(Item, [Key]), Count, Item(Index) (default), Remove(Index), NewEnum.
    Variant LateAdd(const Variant& item, std::optional<std::string> key);
    Variant LateItem(const Variant& index);
    void LateRemove(const Variant& index);
    Ref<Dispatch> LateNewEnum();

protected:
    const MemberTable* Members() const noexcept override;

private:
    // Folded keys are looked up as views (an ASCII key is folded in a buffer on the stack): hosts look
    // their variables up by name for every statement, and a key string per lookup would cost an allocation.
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    static constexpr std::size_t kScanned = 8;  // up to this many keys, lookups compare them in turn
    static std::uint64_t NextStamp() noexcept;
    void Reindex();
    std::uint64_t stamp_;
    std::vector<Variant> items_;
    // As given and folded, parallel to items_; both empty until an item with a key is added.
    std::vector<std::string> keys_;
    std::vector<std::string> folded_;
    std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> index_;  // folded key -> 0-based
};

// Builds a collection of texts, e.g. the bind-variable names a host passes.
KORADO_EXPORT Ref<Collection> MakeCollection(std::initializer_list<Variant> items);

// The key form: Unicode case folding of the text (ASCII fast path).
KORADO_EXPORT std::string FoldCase(std::string_view s);

}  // namespace korado
