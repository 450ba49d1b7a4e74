#include "korado/runtime/dispatch.h"

#include <algorithm>

namespace korado {
namespace {

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

int SlotOf(CallType t) {
    switch (t) {
        case CallType::Method: return 0;
        case CallType::Get: return 1;
        case CallType::Let: return 2;
        case CallType::Set: return 3;
    }
    return 0;
}

}  // namespace

Variant Dispatch::Invoke(std::string_view member, CallType type, std::span<Variant> args) {
    const MemberTable* table = Members();
    std::string_view name = member;
    if (name.empty() && table) name = table->DefaultMember();
    MemberTable::Found found = table && !name.empty() ? table->Find(name, type) : MemberTable::Found{};
    if (!found) RaiseRuntime(rt::NotSupported, member.empty() ? std::string_view("(default member)") : member);
    return found.thunk(*this, args, found.defaults);
}

bool Dispatch::HasMember(std::string_view member) const {
    const MemberTable* table = Members();
    return table && table->Has(member);
}

const MemberTable* Enumerator::Members() const noexcept {
    static const MemberTable kMembers =
        MemberTable::Of<Enumerator>().Method<&Enumerator::Next>("Next").Method<&Enumerator::Reset>("Reset").Build();
    return &kMembers;
}

Variant Invoke(const Variant& object, std::string_view member, CallType type, std::span<Variant> args) {
    Ref<Dispatch> target = RequireObject(object);
    return target->Invoke(member, type, args);
}

Ref<Dispatch> RequireObject(const Variant& v) {
    if (!v.IsObject()) RaiseRuntime(rt::ObjectRequired);
    Ref<Dispatch> o = v.AsObject();
    if (!o) RaiseRuntime(rt::ObjectNotSet);
    return o;
}

MemberTable::Found MemberTable::Find(std::string_view name, CallType type) const {
    auto it = entries_.find(LowerAscii(name));
    if (it == entries_.end()) return {};
    const Entry& e = it->second;
    int slot = SlotOf(type);
    if (!e.thunks[slot]) {
        // The language lets a function be read as a property and a property be called like a function, and
        // a host may assign an object with Let where Set was meant.
        static constexpr int kFallback[] = {1, 0, 3, 2};
        slot = kFallback[slot];
    }
    return Found{e.thunks[slot], e.defaults[slot]};
}

bool MemberTable::Has(std::string_view name) const { return entries_.count(LowerAscii(name)) != 0; }

std::vector<std::string> MemberTable::Names() const {
    std::vector<std::string> names;
    for (const auto& [key, e] : entries_) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

void MemberTable::Add(std::string_view name, CallType type, MemberThunk thunk, std::vector<Variant> defaults) {
    Entry& e = entries_[LowerAscii(name)];
    if (e.name.empty()) e.name = std::string(name);
    e.thunks[SlotOf(type)] = thunk;
    e.defaults[SlotOf(type)] = std::move(defaults);
}

}  // namespace korado
