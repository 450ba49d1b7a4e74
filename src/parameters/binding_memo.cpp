#include "parameters/binding_memo.h"

#include "korado/runtime/strings.h"
#include "runtime/hot_path.h"

namespace korado::detail {

void BindingMemo::Start(const std::string& sql, const Collection& members, bool force_in) {
    members_stamp_ = 0;
    // Only a binding of input variables is worth keeping: both uses need every variable input.
    recording_ = !force_in && IsAscii(sql);
    if (!recording_) return;
    start_stamp_ = members.Stamp();
    output_modes_ = clsParameter::OutputModesGiven();
    sql_ = sql;
    names_.clear();
    variables_.clear();
    parameters_.clear();
    at_.clear();
}

void BindingMemo::Note(const Variant& entry, clsParameter& variable, ado::Parameter& parameter,
                       std::int32_t mode, std::span<const std::size_t> positions) {
    if (!recording_) return;
    // A number's text can depend on the locale; a name standing twice gets a copy of its parameter.
    const auto* name = entry.get_if<std::string>();
    recording_ = name && positions.size() == 1 && mode == korParamIn;
    for (std::size_t i = 0; recording_ && i < names_.size(); ++i)
        if (TextEquals(names_[i], *name)) recording_ = false;  // it would find the other's parameter
    if (!recording_) return;
    names_.push_back(*name);
    variables_.push_back(&variable);
    parameters_.push_back(&parameter);
    at_.push_back(positions[0] - 1);  // an ASCII text: characters are bytes
}

void BindingMemo::Finish(const Collection* members, ado::Parameters& parameters, bool held_none) {
    // A handler that a failure was reported to may have changed the members while binding ran.
    if (!recording_ || !held_none || !members || members->Stamp() != start_stamp_) return;
    recording_ = false;
    version_ = parameters.Version();
    if (version_ == 0) return;
    list_stamp_ = 0;
    members_stamp_ = start_stamp_;
}

KORADO_HOT bool BindingMemo::Knows(const Collection& list, const Collection& members) const noexcept {
    if (members_stamp_ == 0 || members.Stamp() != members_stamp_) return false;
    if (list.Stamp() == list_stamp_) return true;
    if (static_cast<std::size_t>(list.Count()) != names_.size()) return false;
    std::size_t i = 0;
    for (const Variant& entry : list) {
        const auto* text = entry.get_if<std::string>();
        if (!text || !SameBytes(*text, names_[i++])) return false;
    }
    list_stamp_ = list.Stamp();
    return true;
}

KORADO_HOT bool BindingMemo::AllInputIn(ado::Parameters& parameters) const {
    return version_ != 0 && output_modes_ == clsParameter::OutputModesGiven() &&
           parameters.Version() == version_;
}

KORADO_HOT bool BindingMemo::SameText(const std::string& sql) const noexcept { return SameBytes(sql_, sql); }

KORADO_HOT void BindingMemo::Place(std::size_t index, std::string& SQL) const {
    char* text = SQL.data() + at_[index];
    text[0] = '?';
    for (std::size_t i = 1; i <= names_[index].size(); ++i) text[i] = ' ';  // names are short: no call
}

}  // namespace korado::detail
