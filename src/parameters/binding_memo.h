// What a binding of a list of names to a new command found, kept for the next statement: hosts run one
// statement with the same variables over and over, and the connection object then binds the command the
// last one ran in again, by setting its parameters anew rather than making a new command
// (clsBindVariables::BindInPlace), and skips reading back outputs where there can be none.
//
// Only the plainest binding is kept: an ASCII text, names that are texts, each standing exactly once in
// it, no two the same without regard to letter case, appended to a command that held no parameters. Then
// the command's parameters are the prepared ones, one per name, and the scan of the same text gives the
// same placeholders, so that writing "?" and blanks where it found them gives the text it would give.
//
// What the memo holds stays true while three things stay: the members of the collection (their stamp; the
// memo keeps the variables as plain pointers, which those members hold), the list of names (compared by
// content), and the command's parameters (their version). A platform whose parameters cannot tell their
// version (0) is never taken to hold what binding appended.
//
// A failure while binding is reported to the host, whose handler may run statements itself: a binding
// marks the memo busy, and a binding that finds it busy neither uses nor records it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "korado/parameters/clsParameter.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/collection.h"

namespace korado::detail {

class BindingMemo {
  public:
    bool busy() const noexcept { return busy_; }

    // ---- recording, by a binding on a new command ----
    // Begins recording the binding of `sql`, with the members as `members` holds them now.
    void Start(const std::string& sql, const Collection& members, bool force_in);
    // The next entry of the list: the variable it stands for, the parameter prepared for it with the
    // effective `mode`, and where the scan found its placeholders (1-based).
    void Note(const Variant& entry, clsParameter& variable, ado::Parameter& parameter, std::int32_t mode,
              std::span<const std::size_t> positions);
    // Ends a recording that went through: the command held no parameters before binding appended
    // (`held_none`), and now holds `parameters`; the members are those of `members` (null when released).
    void Finish(const Collection* members, ado::Parameters& parameters, bool held_none);
    // Holds nothing from now on (the vectors stay, for a binding under way that still reads them).
    void Forget() noexcept { members_stamp_ = 0; }

    // ---- use ----
    // Whether the memo holds the binding of this very list of names with the members as they are now.
    bool Knows(const Collection& list, const Collection& members) const noexcept;
    // And whether `parameters` are still those that binding appended, every variable input then and since.
    bool AllInputIn(ado::Parameters& parameters) const;
    bool SameText(const std::string& sql) const noexcept;

    std::size_t size() const noexcept { return names_.size(); }
    const std::string& name(std::size_t index) const noexcept { return names_[index]; }
    // Held by the members while their stamp is the one the memo knows.
    clsParameter* variable(std::size_t index) const noexcept { return variables_[index]; }
    // Held by the command's parameters while their version is the one the memo knows.
    ado::Parameter& parameter(std::size_t index) const noexcept { return *parameters_[index]; }
    std::uint64_t members_stamp() const noexcept { return members_stamp_; }
    // Writes the marker of entry `index` where the scan found it.
    void Place(std::size_t index, std::string& SQL) const;

  private:
    friend class MemoUse;
    bool busy_ = false;
    bool recording_ = false;
    std::uint64_t start_stamp_ = 0;
    std::uint64_t members_stamp_ = 0;  // 0: the memo holds nothing
    mutable std::uint64_t list_stamp_ = 0;
    std::string sql_;
    std::vector<std::string> names_;
    std::vector<clsParameter*> variables_;
    std::vector<ado::Parameter*> parameters_;
    std::vector<std::size_t> at_;  // byte offset of each name's placeholder
    std::uint64_t output_modes_ = 0;  // the count of output modes given, as of the binding
    std::uint64_t version_ = 0;       // the command's parameters, as binding left them
};

// Marks a memo busy for one binding (null: none to use).
class MemoUse {
  public:
    explicit MemoUse(BindingMemo* memo) noexcept : memo_(memo) {
        if (memo_) memo_->busy_ = true;
    }
    MemoUse(const MemoUse&) = delete;
    MemoUse& operator=(const MemoUse&) = delete;
    ~MemoUse() {
        if (memo_) memo_->busy_ = false;
    }

  private:
    BindingMemo* memo_;
};

}  // namespace korado::detail
