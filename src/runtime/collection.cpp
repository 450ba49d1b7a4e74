#include "korado/runtime/collection.h"

#include <array>
#include <atomic>
#include <optional>

#include "korado/runtime/strings.h"

namespace korado {
namespace {

class CollectionEnumerator final : public Enumerator {
  public:
    explicit CollectionEnumerator(Ref<Collection> c) : collection_(std::move(c)) {}
    bool Next(Variant& out) override {
        if (next_ >= static_cast<std::size_t>(collection_->Count())) return false;
        out = collection_->ItemAt(++next_);
        return true;
    }
    void Reset() override { next_ = 0; }

  private:
    Ref<Collection> collection_;
    std::size_t next_ = 0;
};

// Whether ASCII `key` folds to `folded`. Names are a few characters: compared in place rather than
// through a library call.
bool FoldsTo(std::string_view key, std::string_view folded) noexcept {
    if (key.size() != folded.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char c = key[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != folded[i]) return false;
    }
    return true;
}

[[noreturn]] void NoSuchItem() { RaiseRuntime(rt::InvalidProcedureCall); }

}  // namespace

std::uint64_t Collection::NextStamp() noexcept {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

void Collection::Add(Variant item, std::string_view key) {
    if (!key.empty()) return AddBefore(std::move(item), items_.size() + 1, key);
    // An item without a key at the end: nothing to look up, nothing after it to renumber.
    stamp_ = NextStamp();
    items_.push_back(std::move(item));
    if (keys_.empty()) return;
    keys_.emplace_back();
    folded_.emplace_back();
}

void Collection::AddBefore(Variant item, std::size_t before, std::string_view key) {
    if (before < 1 || before > items_.size() + 1) NoSuchItem();
    std::string folded;
    if (!key.empty()) {
        folded = FoldCase(key);
        if (index_.count(folded)) RaiseRuntime(rt::KeyAlreadyExists);
    }
    std::size_t pos = before - 1;
    stamp_ = NextStamp();
    // Most collections are lists without keys: the key columns exist from the first key on.
    if (!key.empty() && keys_.empty()) {
        keys_.resize(items_.size());
        folded_.resize(items_.size());
    }
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(item));
    if (keys_.empty() && key.empty()) return;
    keys_.insert(keys_.begin() + static_cast<std::ptrdiff_t>(pos), std::string(key));
    folded_.insert(folded_.begin() + static_cast<std::ptrdiff_t>(pos), folded);
    if (pos + 1 == items_.size()) {
        if (!folded.empty()) index_.emplace(std::move(folded), pos);
    } else {
        Reindex();
    }
}

const Variant* Collection::FindKey(std::string_view key) const noexcept {
    std::size_t pos = PositionOfKey(key);
    return pos ? &items_[pos - 1] : nullptr;
}

void Collection::Reserve(std::size_t count) {
    items_.reserve(count);
    if (!keys_.empty()) {
        keys_.reserve(count);
        folded_.reserve(count);
    }
}

std::size_t Collection::PositionOfKey(std::string_view key) const noexcept {
    if (keys_.empty()) return 0;
    // A host's few variables are compared in turn, the key lower-cased as it is read: cheaper than folding
    // it into a buffer and hashing it.
    if (folded_.size() <= kScanned && IsAscii(key)) {
        for (std::size_t i = 0; i < folded_.size(); ++i)
            if (!keys_[i].empty() && FoldsTo(key, folded_[i])) return i + 1;
        return 0;
    }
    FoldBuffer buffer;
    if (std::optional<std::string_view> folded = FoldAscii(key, buffer)) {
        auto it = index_.find(*folded);
        return it == index_.end() ? 0 : it->second + 1;
    }
    try {
        auto it = index_.find(FoldCase(key));
        return it == index_.end() ? 0 : it->second + 1;
    } catch (...) {
        return 0;
    }
}

const Variant* Collection::Find(const Variant& index) const noexcept {
    try {
        if (index.IsString()) return FindKey(*index.get_if<std::string>());
        if (!IsNumeric(index) || index.IsEmpty()) return nullptr;
        std::int64_t pos = CLngLng(index);
        if (pos < 1 || pos > static_cast<std::int64_t>(items_.size())) return nullptr;
        return &items_[static_cast<std::size_t>(pos - 1)];
    } catch (...) {
        return nullptr;
    }
}

const Variant& Collection::Item(const Variant& index) const {
    if (index.IsNull()) RaiseRuntime(rt::InvalidUseOfNull);
    if (!index.IsString() && !IsNumeric(index)) RaiseRuntime(rt::TypeMismatch);
    const Variant* v = Find(index);
    if (!v) NoSuchItem();
    return *v;
}

const Variant& Collection::ItemAt(std::size_t position) const {
    if (position < 1 || position > items_.size()) NoSuchItem();
    return items_[position - 1];
}

const Variant& Collection::ItemByKey(std::string_view key) const {
    const Variant* v = FindKey(key);
    if (!v) NoSuchItem();
    return *v;
}

const std::string& Collection::KeyAt(std::size_t position) const {
    if (position < 1 || position > items_.size()) NoSuchItem();
    static const std::string kNoKey;
    return keys_.empty() ? kNoKey : keys_[position - 1];
}

void Collection::Remove(const Variant& index) {
    std::size_t pos = 0;
    if (index.IsString()) {
        pos = PositionOfKey(*index.get_if<std::string>());
    } else {
        std::int64_t p = CLngLng(index);
        if (p >= 1 && p <= static_cast<std::int64_t>(items_.size())) pos = static_cast<std::size_t>(p);
    }
    if (pos == 0) NoSuchItem();
    RemoveAt(pos);
}

void Collection::RemoveAt(std::size_t position) {
    if (position < 1 || position > items_.size()) NoSuchItem();
    stamp_ = NextStamp();
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(position - 1));
    if (keys_.empty()) return;
    keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(position - 1));
    folded_.erase(folded_.begin() + static_cast<std::ptrdiff_t>(position - 1));
    Reindex();
}

void Collection::Clear() noexcept {
    stamp_ = NextStamp();
    items_.clear();
    keys_.clear();
    folded_.clear();
    index_.clear();
}

void Collection::Reindex() {
    index_.clear();
    for (std::size_t i = 0; i < keys_.size(); ++i)
        if (!keys_[i].empty()) index_.emplace(FoldCase(keys_[i]), i);
}

Ref<Enumerator> Collection::NewEnum() { return MakeRef<CollectionEnumerator>(Ref<Collection>(this)); }

Variant Collection::LateAdd(const Variant& item, std::optional<std::string> key) {
    Add(item, key ? *key : std::string());
    return Variant();
}
Variant Collection::LateItem(const Variant& index) { return Item(index); }
void Collection::LateRemove(const Variant& index) { Remove(index); }
Ref<Dispatch> Collection::LateNewEnum() { return NewEnum(); }

const MemberTable* Collection::Members() const noexcept {
    static const MemberTable kMembers = MemberTable::Of<Collection>("Item")
                                            .Method<&Collection::LateAdd>("Add")
                                            .Get<&Collection::Count>("Count")
                                            .Get<&Collection::LateItem>("Item")
                                            .Method<&Collection::LateRemove>("Remove")
                                            .Method<&Collection::LateNewEnum>("NewEnum")
                                            .Method<&Collection::LateNewEnum>("_NewEnum")
                                            .Build();
    return &kMembers;
}

Ref<Collection> MakeCollection(std::initializer_list<Variant> items) {
    auto c = MakeRef<Collection>();
    for (const Variant& v : items) c->Add(v);
    return c;
}

}  // namespace korado
