#include "korado/parameters/clsBindVariables.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <numeric>
#include <span>
#include <typeinfo>

#include "korado/connection/clsADO.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/runtime/strings.h"
#include "runtime/hot_path.h"

namespace korado {
namespace {

constexpr std::string_view kClass = "clsBindVariables";

// An output text shorter than this is padded to it, so that the provider has room to write its answer;
// an empty one is offered at the size the variable holds, or at this size where it holds none (-1).
constexpr std::int32_t kOutputTextSize = 255;

ado::Command& RequireCommand(const Ref<ado::Command>& command) {
    if (!command) RaiseRuntime(rt::ObjectNotSet);
    return *command;
}

std::int32_t TextLength(const Variant& value) { return static_cast<std::int32_t>(LenOfText(value)); }

// Up to N items in place (constructed only as they are added), more on the heap.
template <class T, std::size_t N>
class SmallList {
  public:
    SmallList() = default;
    SmallList(const SmallList&) = delete;
    SmallList& operator=(const SmallList&) = delete;
    ~SmallList() { std::destroy_n(inline_items(), std::min(size_, N)); }

    void push_back(T item) {
        if (size_ < N) {
            std::construct_at(inline_items() + size_, std::move(item));
        } else {
            if (size_ == N)
                heap_.assign(std::make_move_iterator(inline_items()),
                             std::make_move_iterator(inline_items() + N));
            heap_.push_back(std::move(item));
        }
        ++size_;
    }
    T* begin() noexcept { return size_ <= N ? inline_items() : heap_.data(); }
    T* end() noexcept { return begin() + size_; }

  private:
    T* inline_items() noexcept { return std::launder(reinterpret_cast<T*>(storage_)); }
    alignas(T) unsigned char storage_[N * sizeof(T)];
    std::size_t size_ = 0;
    std::vector<T> heap_;
};

// Step A of binding, after the parameter is created: gives it the type and direction of `variable` in
// `mode`, and its value and size.
KORADO_HOT void PrepareParameter(ado::Parameter& prm, clsParameter& variable, std::int32_t mode) {
    switch (variable.data_type()) {
        case korTypeOther:
            prm.SetType(ado::adVariant);
            break;
        case korTypeNumber:
            prm.SetType(ado::adDouble);
            break;
        case korTypeVarchar2:
            prm.SetType(ado::adVarChar);
            if (variable.size() != -1) prm.SetSize(variable.size());
            break;
        case korTypeDate:
            prm.SetType(ado::adDate);
            break;
        default:
            break;
    }
    switch (mode) {
        case korParamIn:
            prm.SetDirection(ado::adParamInput);
            break;
        case korParamOut:
            prm.SetDirection(ado::adParamOutput);
            break;
        case korParamInOut:
            prm.SetDirection(ado::adParamInputOutput);
            break;
        default:
            break;
    }

    // Every read of the variable's Value below also recomputes its Size (a second read of an input
    // variable would give the same value and size, so it is read once).
    if (mode == korParamIn) {
        const Variant& value = variable.ReadValue();
        if (value.IsEmpty() || value.IsNull()) {
            prm.SetValue(Variant::Null());
            prm.SetSize(1);
        } else {
            switch (variable.data_type()) {
                case korTypeOther:
                case korTypeVarchar2: {
                    prm.SetValue(value);
                    // Providers refuse a variable-length parameter of size 0.
                    const std::int32_t length = TextLength(prm.Value());
                    prm.SetSize(length == 0 ? 1 : length);
                    break;
                }
                case korTypeNumber:
                    prm.SetValue(value);
                    prm.SetSize(TextLength(prm.Value()));
                    break;
                case korTypeDate:
                    prm.SetValue(value);
                    prm.SetSize(1);
                    break;
                default:
                    break;
            }
        }
    } else if (mode == korParamOut || mode == korParamInOut) {
        const Variant value = variable.Value();
        const bool no_value = value.IsEmpty() || value.IsNull() || Equals(value, Variant(""));
        const std::int32_t data_type = variable.data_type();
        if (no_value) {
            if (data_type == korTypeOther || data_type == korTypeVarchar2) {
                // The provider writes the output into the buffer offered, so offer room for it.
                const std::int32_t size = variable.size();
                if (size == -1) {
                    prm.SetValue(Space(kOutputTextSize));
                    prm.SetSize(kOutputTextSize);
                } else {
                    if (size < 0) RaiseRuntime(rt::InvalidProcedureCall);
                    prm.SetValue(Space(static_cast<std::size_t>(size)));
                    prm.SetSize(size);
                }
            } else if (data_type == korTypeNumber || data_type == korTypeDate) {
                prm.SetValue(Variant(std::int16_t{0}));
            }
        } else if (data_type == korTypeOther || data_type == korTypeVarchar2) {
            const std::size_t length = LenOfText(variable.Value());
            if (length < static_cast<std::size_t>(kOutputTextSize)) {
                prm.SetValue(CStr(variable.Value()) + Space(kOutputTextSize - length));
                prm.SetSize(kOutputTextSize);
            } else {
                prm.SetValue(variable.Value());
                const Variant stored = prm.Value();
                if (stored.IsNull() || stored.IsEmpty()) {
                    prm.SetSize(1);
                } else if (prm.Size() == 0) {
                    prm.SetSize(1);
                }
            }
        } else if (data_type == korTypeNumber || data_type == korTypeDate) {
            prm.SetValue(variable.Value());
        }
    }
}

// Whether PrepareParameter sets all that binding gives a parameter (type, direction, value and size), so
// that a parameter bound before comes out as a new one would: an input variable of a known type.
bool PreparesWhole(const clsParameter& variable, std::int32_t mode) noexcept {
    return mode == korParamIn && variable.data_type() >= korTypeOther && variable.data_type() <= korTypeDate;
}

// Puts a parameter back as binding creates it (CreateParameter(name, adEmpty, adParamInput, 0)).
void ResetAsCreated(ado::Parameter& prm) {
    prm.SetType(ado::adEmpty);
    prm.SetDirection(ado::adParamInput);
    prm.SetSize(0);
    prm.SetValue(Variant());
}

// ---- the placeholder scan -------------------------------------------------------------------------------

// A byte that starts no character stands for itself, apart from every code point.
constexpr char32_t kInvalidBase = 0x110000;

struct Unit {
    char32_t code;
    std::uint32_t offset;  // byte offset in the original text
    std::uint32_t length;  // byte length in the original text
};

// Characters are delimited exactly as Len counts them, so that positions here are the positions the rest
// of the library sees.
std::vector<Unit> Decode(std::string_view s) {
    std::vector<Unit> units;
    units.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = ByteOffsetOfChar(s.substr(i), 2);
        const auto b = static_cast<unsigned char>(s[i]);
        char32_t c;
        if (n == 1) {
            c = b < 0x80 ? b : kInvalidBase + b;
        } else {
            c = n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
            for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        units.push_back({c, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(n)});
        i += n;
    }
    return units;
}

bool IsAsciiAlnum(char32_t c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Names continue over letters and digits and over every character the single-byte code page encodes at
// 128 to 255; the original took that code from the system code page, which for the hosts' users was
// Windows-1252, so the library fixes it rather than following the process locale. A character the code
// page lacks converts to "?" and so ends the name.
bool IsWordCharacter(char32_t c) noexcept {
    // What Windows-1252 holds at 0x80 to 0x9F, in byte order. The five bytes it leaves undefined (0x81,
    // 0x8D, 0x8F, 0x90, 0x9D) are mapped by Windows to the C1 controls of the same number and back.
    // clang-format off
    static constexpr char32_t k80To9F[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    // clang-format on
    if (c < 0x80) return IsAsciiAlnum(c);
    if (c >= 0xA0 && c <= 0xFF) return true;
    return std::find(std::begin(k80To9F), std::end(k80To9F), c) != std::end(k80To9F);
}

// Where the colons of an ASCII text stand, found once for all the names bound in it: a placeholder can
// only start at one. Rewriting keeps them where they are (a rewritten one reads "?" from then on). A text
// with very many colons is searched afresh for each name instead.
class Colons {
  public:
    // Lists nothing until Scan; the list itself is left unset, not cleared, as it is filled in order.
    Colons() {}  // NOLINT(modernize-use-equals-default)
    explicit Colons(std::string_view sql) { Scan(sql); }

    void Scan(std::string_view sql) {
        count_ = 0;
        auto note = [&](std::size_t at) {
            if (count_ == at_.size()) {
                count_ = kTooMany;
                return false;
            }
            at_[count_++] = static_cast<std::uint32_t>(at);
            return true;
        };
        // A short statement is looked at byte by byte, a long one searched (a call per colon found).
        if (sql.size() <= 256) {
            for (std::size_t at = 0; at < sql.size(); ++at)
                if (sql[at] == ':' && !note(at)) return;
            return;
        }
        for (std::size_t at = sql.find(':'); at != std::string_view::npos; at = sql.find(':', at + 1))
            if (!note(at)) return;
    }
    bool listed() const noexcept { return count_ != kTooMany; }
    const std::uint32_t* begin() const noexcept { return at_.data(); }
    const std::uint32_t* end() const noexcept { return at_.data() + count_; }

  private:
    static constexpr std::size_t kTooMany = SIZE_MAX;
    std::array<std::uint32_t, 32> at_;
    std::size_t count_ = kTooMany;
};

// Statements are nearly always ASCII: search and rewrite the bytes in place. Names are short: compared in
// place rather than through the library's search calls.
template <class Found>
void RewriteAscii(std::string& sql, std::string_view name, const Colons& colons, Found&& found) {
    char* text = sql.data();
    const std::size_t size = sql.size();
    auto try_at = [&](std::size_t at) {
        if (text[at] != ':' || at + name.size() >= size) return;
        for (std::size_t k = 0; k < name.size(); ++k)
            if (text[at + 1 + k] != name[k]) return;
        const std::size_t after = at + 1 + name.size();
        if (after == size || !IsAsciiAlnum(static_cast<unsigned char>(text[after]))) {
            text[at] = '?';
            std::fill_n(text + at + 1, name.size(), ' ');
            found(at + 1);
        }
    };
    if (colons.listed()) {
        for (std::uint32_t at : colons) try_at(at);
    } else {
        for (std::size_t at = sql.find(':'); at != std::string::npos; at = sql.find(':', at + 1)) try_at(at);
    }
}

// Rewrites every placeholder of `name` in `SQL` and hands each one's 1-based character position to
// `found`, in text order. `ascii_sql`: SQL holds nothing but ASCII (rewriting keeps it so); `colons`
// lists its colons then.
template <class Found>
void RewriteEach(std::string& SQL, std::string_view name, bool ascii_sql, const Colons* colons,
                 Found&& found) {
    if (ascii_sql && IsAscii(name)) {
        if (colons) return RewriteAscii(SQL, name, *colons, found);
        return RewriteAscii(SQL, name, Colons(SQL), found);
    }
    // A name with other characters cannot stand in an ASCII text.
    if (ascii_sql) return;

    // Compare and rewrite character by character: the marker replaces the colon and the name's characters
    // one for one, so character positions after it stay valid even where the name took several bytes.
    std::vector<Unit> text = Decode(SQL);
    std::vector<Unit> key = Decode(name);
    const std::size_t span = key.size() + 1;
    bool rewritten = false;
    for (std::size_t p = 0; p + span <= text.size(); ++p) {
        if (text[p].code != ':') continue;
        bool match = true;
        for (std::size_t k = 0; k < key.size() && match; ++k) match = text[p + 1 + k].code == key[k].code;
        if (!match) continue;
        const std::size_t after = p + span;
        if (after < text.size() && IsWordCharacter(text[after].code)) continue;
        text[p].code = '?';
        for (std::size_t k = 1; k < span; ++k) text[p + k].code = ' ';
        found(p + 1);
        rewritten = true;
    }
    if (!rewritten) return;

    std::string out;
    out.reserve(SQL.size());
    for (const Unit& u : text) {
        // Rewritten characters are ASCII now; all others keep their original bytes, malformed ones too.
        if (u.code < 0x80)
            out.push_back(static_cast<char>(u.code));
        else
            out.append(SQL, u.offset, u.length);
    }
    SQL = std::move(out);
}

}  // namespace

std::vector<std::size_t> RewritePlaceholders(std::string& SQL, std::string_view name) {
    std::vector<std::size_t> positions;
    RewriteEach(SQL, name, IsAscii(SQL), nullptr,
                [&](std::size_t position) { positions.push_back(position); });
    return positions;
}

namespace detail {

// What binding found for one list of names, kept for the next statement: hosts run the same statement
// with the same variables over and over. The variable each name stands for holds while the names read the
// same and the members keep their stamp; where each name's placeholders stand holds for the same text as
// well. The scan writes "?" and blanks and nothing else, so writing them where it found the placeholders
// gives the text it would give.
//
// A failure while binding is reported to the host, whose handler may run statements itself: while one
// binding uses the memo, bindings started from inside it leave the memo alone and search afresh.
struct BindingMemo {
    // The most names a statement bound again appends as they are (see AppendsAlone).
    static constexpr std::size_t kFew = 8;

    std::uint64_t members_stamp = 0;  // 0 while being recorded: stamps start at 1
    // A list of names found to read the same; a collection's items stay as they are while its stamp does.
    mutable std::uint64_t list_stamp = 0;
    bool busy = false;      // a binding is using it
    bool orphaned = false;  // dropped by Destructor while busy: the user deletes it
    std::vector<std::string> names;
    std::vector<clsParameter*> variables;  // held by the members while their stamp is the same
    std::string sql;                       // the text as given (ASCII)
    std::vector<std::uint32_t> first;      // per name, its first entry in `colons`; one more at the end
    std::vector<std::uint32_t> colons;     // byte offsets of each name's placeholders, in text order
    // Every name stands at most once, and no two that stand are the same name without regard to letter
    // case: appended to a command without parameters, none can find another already there.
    bool placed_once = false;
    bool all_placed = false;  // every name stands at least once
    // With placed_once and all_placed: the names' indexes in the order they stand in the text.
    std::vector<std::uint32_t> text_order;
    // The command's parameters as the last binding with these names left them (their Version), when every
    // name stands: then each name finds a parameter there while the version stays. 0 otherwise.
    std::uint64_t built_version = 0;
    // With built_version: every variable was input, as of this count of output modes given.
    bool all_input = false;
    std::uint64_t output_modes = 0;
    // With built_version, when the parameters were appended alone: each name's parameter, held by that
    // collection while its version stays.
    bool built_alone = false;
    std::array<ado::Parameter*, kFew> built{};

    bool Knows(const Collection& list, const Collection& members) const noexcept {
        if (members.Stamp() != members_stamp) return false;
        if (list.Stamp() == list_stamp) return true;
        if (static_cast<std::size_t>(list.Count()) != names.size()) return false;
        std::size_t i = 0;
        for (const Variant& entry : list) {
            const auto* text = entry.get_if<std::string>();
            if (!text || !SameBytes(*text, names[i++])) return false;
        }
        list_stamp = list.Stamp();
        return true;
    }

    void StartRecording(const std::string& text) {
        members_stamp = 0;
        list_stamp = 0;
        placed_once = false;
        all_placed = false;
        names.clear();
        variables.clear();
        sql = text;
        first.assign(1, 0);
        colons.clear();
        text_order.clear();
    }

    // Ends a recording that went through: what was found now holds for the members' `stamp`.
    void Finish(std::uint64_t stamp) {
        all_placed = true;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (first[i + 1] == first[i]) all_placed = false;
        placed_once = true;
        for (std::size_t i = 0; i < names.size() && placed_once; ++i) {
            const std::uint32_t stands = first[i + 1] - first[i];
            if (stands > 1) placed_once = false;
            for (std::size_t j = 0; j < i && placed_once && stands == 1; ++j)
                if (first[j + 1] - first[j] == 1 && TextEquals(names[i], names[j])) placed_once = false;
        }
        if (placed_once && all_placed) {
            text_order.resize(names.size());
            std::iota(text_order.begin(), text_order.end(), std::uint32_t{0});
            std::sort(text_order.begin(), text_order.end(),
                      [&](std::uint32_t a, std::uint32_t b) { return colons[first[a]] < colons[first[b]]; });
        }
        members_stamp = stamp;
    }

    // Every name stands exactly once, and no two are the same name: bound again, each parameter can be
    // appended as it is.
    bool AppendsAlone() const noexcept { return placed_once && all_placed && names.size() <= kFew; }

    template <class Found>
    void Place(std::size_t index, std::string& SQL, Found&& found) const {
        const std::size_t length = names[index].size();
        char* text = SQL.data();
        for (std::uint32_t k = first[index]; k < first[index + 1]; ++k) {
            const std::uint32_t at = colons[k];
            text[at] = '?';
            for (std::size_t i = 1; i <= length; ++i) text[at + i] = ' ';  // names are short: no call
            found(std::size_t{at} + 1);
        }
    }
};

// Marks a memo busy for one binding (null: none to use).
class MemoUse {
  public:
    explicit MemoUse(BindingMemo* memo) noexcept : memo_(memo) {
        if (memo_) memo_->busy = true;
    }
    MemoUse(const MemoUse&) = delete;
    MemoUse& operator=(const MemoUse&) = delete;
    KORADO_HOT ~MemoUse() {
        if (!memo_) return;
        memo_->busy = false;
        if (memo_->orphaned) delete memo_;
    }

  private:
    BindingMemo* memo_;
};

}  // namespace detail

clsBindVariables::clsBindVariables() : m_Members(MakeRef<Collection>()) {}

clsBindVariables::~clsBindVariables() { Destructor(); }

namespace {

// The variable an item holds, or null. Members are made by Add, so their exact type settles the cast
// without dynamic_cast's search; a derived object still converts.
Ref<clsParameter> AsParameter(const Variant& item) {
    const Object* object = item.ObjectPointer();
    if (object && typeid(*object) == typeid(clsParameter))
        return Ref<clsParameter>(const_cast<clsParameter*>(static_cast<const clsParameter*>(object)));
    return item.ObjectAs<clsParameter>();
}

// A member by position or name, or null: a miss (or a released collection) is no failure here.
Ref<clsParameter> Lookup(const Ref<Collection>& members, const Variant& index) {
    const Variant* found = members ? members->Find(index) : nullptr;
    return found ? AsParameter(*found) : nullptr;
}

Collection& RequireMembers(const Ref<Collection>& members) {
    if (!members) RaiseRuntime(rt::ObjectNotSet);
    return *members;
}

Ref<clsParameter> ItemOf(const Ref<Collection>& members, const Variant& index) {
    // Names are the usual index: straight to the key lookup, which fails as Item does.
    const auto* name = index.get_if<std::string>();
    Collection& all = RequireMembers(members);
    Ref<clsParameter> p = AsParameter(name ? all.ItemByKey(*name) : all.Item(index));
    if (!p) RaiseRuntime(rt::ObjectNotSet);
    return p;
}

}  // namespace

Ref<clsParameter> clsBindVariables::VariableOf(const detail::BindingMemo* memo, std::size_t index,
                                               const Variant& entry) const {
    if (memo && m_Members && m_Members->Stamp() == memo->members_stamp)
        return Ref<clsParameter>(memo->variables[index]);
    return ItemOf(m_Members, entry);
}

Ref<clsParameter> clsBindVariables::VariableOf(const detail::BindingMemo& memo, std::size_t index) const {
    if (m_Members && m_Members->Stamp() == memo.members_stamp)
        return Ref<clsParameter>(memo.variables[index]);
    return ItemOf(m_Members, Variant(memo.names[index]));
}

Ref<clsParameter> clsBindVariables::Add(const std::string& Name) {
    Ref<clsParameter> result;
    Try({kClass, "Add"}, [&] {
        const Variant key(Name);
        if (Exists(key)) {
            result = ItemOf(m_Members, key);
            return;
        }
        auto parameter = MakeRef<clsParameter>();
        parameter->Constructor(Name, korBindVariable, m_ADO);
        RequireMembers(m_Members).Add(Variant(parameter), Name);
        result = parameter;
    });
    return result;
}

void clsBindVariables::AddParametersToCommand(Ref<ado::Command>& command, Ref<Collection>& ParamNames,
                                              std::string& SQL, const Variant& ForceDirectionIn) {
    Try({kClass, "AddParametersToCommand"}, [&] {
        if (!ParamNames) return;
        const bool force_in = ForceDirectionIn.IsMissing() ? false : CBool(ForceDirectionIn);
        // With no names nothing is prepared, rewritten or appended: the command is not even looked at.
        if (ParamNames->Count() == 0) return;
        const Ref<Collection> names = ParamNames;

        // The last statement again with the same names: its markers go where the scan found them. Anything
        // else is scanned, and what the scan finds in an ASCII text is kept for the next statement.
        if (!m_Memo) m_Memo = std::make_unique<detail::BindingMemo>();
        detail::BindingMemo* memo = m_Memo->busy ? nullptr : m_Memo.get();
        const detail::MemoUse use(memo);
        if (memo) {
            memo->built_version = 0;
            memo->built_alone = false;
        }
        const std::uint64_t output_modes = clsParameter::OutputModesGiven();
        bool all_input = !force_in;
        const bool same_statement =
            memo && m_Members && memo->Knows(*names, *m_Members) && SameBytes(memo->sql, SQL);
        const detail::BindingMemo* repeat = same_statement ? memo : nullptr;
        const bool ascii_sql = repeat || IsAscii(SQL);
        Colons colons;
        detail::BindingMemo* record = nullptr;
        if (!repeat && ascii_sql) {
            colons.Scan(SQL);
            record = memo;
            if (record) record->StartRecording(SQL);
        }

        Ref<ado::Parameters> appended;  // the command's, once asked for
        // Everything but the same statement again: kept out of line, so that the way a statement run again
        // takes stays short and together.
        auto bind_afresh = [&]() __attribute__((noinline)) {
            struct Placeholder {
                std::size_t position;
                Ref<ado::Parameter> parameter;
                const Variant* name;  // the entry when it is the name's text, else null
            };
            // A statement holds a few placeholders: they stay on the stack, more go to the heap.
            SmallList<Placeholder, 8> placeholders;
            auto add = [&](std::size_t position, const Ref<ado::Parameter>& prm, const Variant* name) {
                placeholders.push_back({position, prm, name});
            };
            // The list as it reads now: a failure reported while a value is read runs the host's handler,
            // which may change the list under an iterator.
            const std::vector<Variant> entries(names->begin(), names->end());
            std::size_t index = 0;
            for (const Variant& entry : entries) {
                std::string converted;
                const std::string* text = entry.get_if<std::string>();
                if (!text) {
                    // A number's text can depend on the locale: such a list is not kept.
                    text = &(converted = CStr(entry));
                    record = nullptr;
                }
                const std::string_view name = *text;

                // A: prepare the entry's parameter.
                Ref<ado::Parameter> prm =
                    RequireCommand(command).CreateParameter(name, ado::adEmpty, ado::adParamInput, 0);
                Ref<clsParameter> variable = VariableOf(repeat, index, entry);
                if (record) {
                    record->names.push_back(*text);
                    record->variables.push_back(variable.get());
                }
                const std::int32_t mode = force_in ? korParamIn : variable->mode();
                if (mode != korParamIn) all_input = false;

                PrepareParameter(*prm, *variable, mode);

                // B: rewrite the entry's placeholders; each one is bound to the parameter just prepared.
                auto place = [&](std::size_t position) {
                    add(position, prm, text == &converted ? nullptr : &entry);
                };
                if (repeat) {
                    repeat->Place(index, SQL, place);
                } else {
                    RewriteEach(SQL, name, ascii_sql, ascii_sql ? &colons : nullptr,
                                [&](std::size_t position) {
                                    if (record)
                                        record->colons.push_back(static_cast<std::uint32_t>(position - 1));
                                    place(position);
                                });
                    if (record) record->first.push_back(static_cast<std::uint32_t>(record->colons.size()));
                }
                ++index;
            }

            // C: append in text order (no two placeholders share a position). A name placed more than once,
            // or one the command already holds, gets a copy: the platform refuses to append the same
            // parameter object twice.
            auto in_text_order = [](const Placeholder& a, const Placeholder& b) {
                return a.position < b.position;
            };
            // Names are usually listed in the order they stand in the text.
            if (!std::is_sorted(placeholders.begin(), placeholders.end(), in_text_order))
                std::sort(placeholders.begin(), placeholders.end(), in_text_order);
            if (placeholders.begin() != placeholders.end()) {
                ado::Command& cmd = RequireCommand(command);
                appended = cmd.Parameters();
                const bool none_held = repeat && repeat->placed_once && appended->Count() == 0;
                for (const Placeholder& placeholder : placeholders) {
                    const Ref<ado::Parameter>& prm = placeholder.parameter;
                    Variant named;
                    const Variant& name =
                        placeholder.name ? *placeholder.name : (named = Variant(prm->Name()));
                    if (none_held || !appended->FindItem(name)) {
                        appended->Append(prm);
                    } else {
                        appended->Append(cmd.CreateParameter(prm->Name(), prm->Type(), prm->Direction(),
                                                             prm->Size(), prm->Value()));
                    }
                }
            }
        };

        if (repeat && repeat->AppendsAlone() &&
            (appended = RequireCommand(command).Parameters())->Count() == 0) {
            BindAgain(*command, *appended, SQL, *memo, force_in, all_input);
        } else {
            bind_afresh();
        }
        if (record && m_Members) record->Finish(m_Members->Stamp());
        if (const detail::BindingMemo* known = repeat ? repeat : record; known && known->all_placed) {
            memo->built_version = (appended ? appended : RequireCommand(command).Parameters())->Version();
            memo->all_input = all_input;
            memo->output_modes = output_modes;
        }
    });
}

void clsBindVariables::BindAgain(ado::Command& command, ado::Parameters& appended, std::string& SQL,
                                 detail::BindingMemo& memo, bool force_in, bool& all_input) const {
    std::array<Ref<ado::Parameter>, detail::BindingMemo::kFew> made;
    // The names are the memo's, which read as the list did: a handler that a failure is reported to while
    // a value is read may change the list.
    const std::size_t count = memo.names.size();
    for (std::size_t index = 0; index < count; ++index) {
        Ref<ado::Parameter>& prm = made[index] =
            command.CreateParameter(memo.names[index], ado::adEmpty, ado::adParamInput, 0);
        Ref<clsParameter> variable = VariableOf(memo, index);
        const std::int32_t mode = force_in ? korParamIn : variable->mode();
        if (mode != korParamIn) all_input = false;
        PrepareParameter(*prm, *variable, mode);
        memo.Place(index, SQL, [](std::size_t) {});
    }
    for (const std::uint32_t k : memo.text_order) appended.Append(made[k]);
    memo.built_alone = true;
    for (std::size_t k = 0; k < count; ++k) memo.built[k] = made[k].get();
}

KORADO_HOT bool clsBindVariables::BindInPlace(ado::Command& command, const Ref<Collection>& ParamNames,
                                              std::string& SQL) {
    detail::BindingMemo* memo = m_Memo && !m_Memo->busy ? m_Memo.get() : nullptr;
    // A platform whose parameters cannot tell their version (0) never shows them unchanged.
    if (!memo || !ParamNames || !m_Members || !memo->built_alone || !memo->all_input ||
        memo->built_version == 0 || memo->output_modes != clsParameter::OutputModesGiven() ||
        !memo->Knows(*ParamNames, *m_Members) || !SameBytes(memo->sql, SQL) ||
        command.Parameters()->Version() != memo->built_version)
        return false;
    Try({kClass, "AddParametersToCommand"}, [&]() KORADO_HOT {
        const detail::MemoUse use(memo);
        try {
            // The names are the memo's, which read as the list did: reading a value may report a failure,
            // whose handler may change the list or the variables. Each variable is looked at as binding
            // reaches it.
            for (std::size_t index = 0; index < memo->names.size(); ++index) {
                Ref<clsParameter> variable = VariableOf(*memo, index);
                const std::int32_t mode = variable->mode();
                ado::Parameter& prm = *memo->built[index];
                if (!PreparesWhole(*variable, mode)) ResetAsCreated(prm);
                PrepareParameter(prm, *variable, mode);
                memo->Place(index, SQL, [](std::size_t) {});
            }
        } catch (...) {
            // A new command would be left without parameters (they are appended once all are prepared), so
            // that the statement cannot run with a value from before.
            const Ref<ado::Parameters> parameters = command.Parameters();
            while (parameters->Count() > 0) parameters->Delete(Variant(0));
            throw;
        }
    });
    return true;
}

std::int32_t clsBindVariables::Count() {
    std::int32_t result = 0;
    Try({kClass, "Get Count"}, [&] { result = RequireMembers(m_Members).Count(); });
    return result;
}

void clsBindVariables::Constructor(const Ref<clsADO>& ADO) {
    Try({kClass, "Constructor"}, [&] { m_ADO = ADO; });
}

void clsBindVariables::Delete(const Variant& Index) {
    Try({kClass, "Delete"}, [&] { RequireMembers(m_Members).Remove(Index); });
}

void clsBindVariables::Destructor() {
    Try({kClass, "Destructor"}, [&] {
        m_Members = nullptr;
        m_ADO = nullptr;
        // A binding under way (this runs from a handler it reported to) keeps its memo until it ends.
        if (m_Memo && m_Memo->busy) {
            m_Memo.release()->orphaned = true;
        } else {
            m_Memo = nullptr;
        }
    });
}

bool clsBindVariables::Exists(const Variant& Index) {
    bool result = false;
    Try({kClass, "Exists"}, [&] { result = static_cast<bool>(Lookup(m_Members, Index)); });
    return result;
}

Ref<clsParameter> clsBindVariables::Item(const Variant& Index) {
    Ref<clsParameter> result;
    Try({kClass, "Get Items"}, [&] { result = Lookup(m_Members, Index); });
    return result;
}

Ref<Enumerator> clsBindVariables::NewEnum() {
    Ref<Enumerator> result;
    Try({kClass, "NewEnum"}, [&] { result = RequireMembers(m_Members).NewEnum(); });
    return result;
}

KORADO_HOT void clsBindVariables::PopulateOutputParameters(Ref<ado::Command>& command,
                                                           Ref<Collection>& ParamNames) {
    Try({kClass, "PopulateOutputParameters"}, [&]() KORADO_HOT {
        if (!ParamNames) return;
        const Ref<Collection> names = ParamNames;
        detail::BindingMemo* memo = m_Memo && !m_Memo->busy ? m_Memo.get() : nullptr;
        const detail::MemoUse use(memo);
        const detail::BindingMemo* known =
            memo && m_Members && memo->Knows(*names, *m_Members) ? memo : nullptr;
        if (names->Count() == 0) return;
        const Ref<ado::Parameters> parameters = RequireCommand(command).Parameters();
        // Where binding left this very list of parameters, every name is known to find one: the lookup of an
        // input variable, which can only fail, is left out.
        const bool found_by_all =
            known && known->built_version != 0 && parameters->Version() == known->built_version;
        // Nothing to read back where binding found only input variables and none became output.
        if (found_by_all && known->all_input && known->output_modes == clsParameter::OutputModesGiven())
            return;

        // The list as it reads now: storing a value may report a failure, whose handler may change the list
        // under an iterator.
        const std::vector<Variant> entries(names->begin(), names->end());
        std::size_t index = 0;
        for (const Variant& entry : entries) {
            Ref<ado::Parameter> prm = found_by_all ? nullptr : parameters->Item(entry);
            Ref<clsParameter> variable = VariableOf(known, index, entry);
            ++index;
            const std::int32_t mode = variable->mode();
            if (mode != korParamOut && mode != korParamInOut) continue;
            if (!prm) prm = parameters->Item(entry);
            // Each test reads the provider's value afresh, as a host's own code would.
            if (prm->Value().IsEmpty()) {
                variable->SetValue(Variant());
            } else if (prm->Value().IsError()) {
                variable->SetValue(Variant());
            } else if (IsNumeric(prm->Value())) {
                variable->SetValue(Variant(CDbl(prm->Value())));
            } else if (IsDate(prm->Value())) {
                variable->SetValue(Variant(CDate(prm->Value())));
            } else {
                variable->SetValue(prm->Value());
            }
        }
    });
}

void clsBindVariables::RemoveAll() {
    Try({kClass, "RemoveAll"}, [&] {
        Collection& members = RequireMembers(m_Members);
        while (members.Count() >= 1) members.RemoveAt(1);
    });
}

const MemberTable* clsBindVariables::Members() const noexcept {
    static const MemberTable t =
        MemberTable::Of<clsBindVariables>("Item")
            .Method<&clsBindVariables::Add>("Add")
            .Method<&clsBindVariables::AddParametersToCommand>("AddParametersToCommand")
            .Get<&clsBindVariables::Count>("Count")
            .Method<&clsBindVariables::Constructor>("Constructor")
            .Method<&clsBindVariables::Delete>("Delete")
            .Method<&clsBindVariables::Destructor>("Destructor")
            .Method<&clsBindVariables::Exists>("Exists")
            .Get<&clsBindVariables::Item>("Item")
            .Method<&clsBindVariables::NewEnum>("NewEnum")
            .Method<&clsBindVariables::NewEnum>("_NewEnum")
            .Method<&clsBindVariables::PopulateOutputParameters>("PopulateOutputParameters")
            .Method<&clsBindVariables::RemoveAll>("RemoveAll")
            .Build();
    return &t;
}

}  // namespace korado
