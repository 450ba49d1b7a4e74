#include "dataaccess/filter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "korado/platform/ado_enums.h"
#include "korado/runtime/collection.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/error.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess {
namespace {

constexpr std::string_view kSource = "ADODB.Recordset";
// The runtime's dates, 0100-01-01 to 9999-12-31, both bounds open: before day zero the fraction counts
// forward from midnight, so -657434.5 is noon of the first day.
constexpr double kMinDateDays = -657435.0;
constexpr double kMaxDateDays = 2958466.0;
// Each level costs two stack frames; a hostile criteria string must not exhaust the stack.
constexpr int kMaxDepth = 100;

[[noreturn]] void BadCriteria() {
    Raise(
        ado::adErrInvalidArgument, std::string(kSource),
        "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.");
}

[[noreturn]] void UnknownField() {
    Raise(ado::adErrItemNotFound, std::string(kSource),
          "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Characters that end an unbracketed name, keyword or number.
bool IsDelimiter(char c) {
    switch (c) {
        case '<':
        case '>':
        case '=':
        case '(':
        case ')':
        case '[':
        case ']':
        case '\'':
        case '#':
            return true;
        default:
            return IsSpace(c);
    }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsKeyword(std::string_view word, std::string_view keyword) {
    if (word.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (c != keyword[i]) return false;
    }
    return true;
}

// m/d/yy as the automation runtime reads it (years 00-29 in the 2000s, 30-99 in the 1900s); the runtime's
// ParseDate takes four-digit years only, and the platform's own examples write #8/24/95#.
std::string WidenTwoDigitYear(std::string_view s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return std::string(s);
    std::size_t i = b;
    for (int part = 0; part < 2; ++part) {
        std::size_t start = i;
        while (i < s.size() && IsDigit(s[i])) ++i;
        if (i == start || i - start > 2 || i >= s.size() || s[i] != '/') return std::string(s);
        ++i;
    }
    std::size_t y = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i - y != 2 || (i < s.size() && s[i] != ' ' && s[i] != '\t')) return std::string(s);
    int yy = (s[y] - '0') * 10 + (s[y + 1] - '0');
    std::string out(s.substr(0, y));
    out += yy < 30 ? "20" : "19";
    out += s.substr(y);
    return out;
}

std::optional<Date> ReadDate(std::string_view text) { return ParseDate(WidenTwoDigitYear(text)); }

// Fills the numeric forms of a literal from its number. The exact decimal is kept only when it is the
// number itself: the runtime's decimal rounds beyond 28 places, and 1E-40 must not equal 0.
void SetNumber(std::optional<double> number, std::string_view text, std::optional<double>& out_number,
               std::optional<Decimal>& out_exact, std::optional<float>& out_single) {
    if (!number || !std::isfinite(*number)) return;
    out_number = number;
    try {
        Decimal d = CDec(Variant(std::string(text)));
        if (ParseNumber(FormatDecimal(d)) == number) out_exact = d;
    } catch (const Error&) {
    }
    if (std::fabs(*number) <= std::numeric_limits<float>::max()) out_single = static_cast<float>(*number);
}

Cmp CompareDoubles(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return Cmp::Null;
    return a < b ? Cmp::Less : a > b ? Cmp::Greater : Cmp::Equal;
}

}  // namespace

// Recursive descent over the text; builds the disjunction of conjunctions as it reads.
class FilterCriteria::Parser {
  public:
    explicit Parser(std::string_view s) : s_(s) {}

    std::vector<Group> ParseAll() {
        SkipSpace();
        if (AtEnd()) return {};
        std::vector<Group> groups = Expr(0);
        SkipSpace();
        if (!AtEnd()) BadCriteria();  // a stray ")" or text after the last clause
        return groups;
    }

  private:
    std::vector<Group> Expr(int depth) {
        std::vector<Group> left = Term(depth);
        for (;;) {
            SkipSpace();
            if (AtEnd() || s_[i_] == ')') return left;
            std::string_view word = Word();
            bool is_and = IsKeyword(word, "AND");
            if (!is_and && !IsKeyword(word, "OR")) BadCriteria();
            std::vector<Group> right = Term(depth);
            if (is_and) {
                // ANDing anything that contains an OR is the one combination the platform refuses.
                if (left.size() != 1 || right.size() != 1) BadCriteria();
                for (Clause& c : right.front()) left.front().push_back(std::move(c));
            } else {
                for (Group& g : right) left.push_back(std::move(g));
            }
        }
    }

    std::vector<Group> Term(int depth) {
        SkipSpace();
        if (AtEnd()) BadCriteria();
        if (s_[i_] == '(') {
            if (depth >= kMaxDepth) BadCriteria();
            ++i_;
            SkipSpace();
            if (AtEnd() || s_[i_] == ')') BadCriteria();
            std::vector<Group> inner = Expr(depth + 1);
            SkipSpace();
            if (AtEnd() || s_[i_] != ')') BadCriteria();
            ++i_;
            return inner;
        }
        std::vector<Group> one(1);
        one.front().push_back(ClauseAt());
        return one;
    }

    Clause ClauseAt() {
        Clause c;
        c.field = FieldName();
        c.op = Operator();
        SkipSpace();
        if (AtEnd()) BadCriteria();
        bool quoted_text = false;
        char ch = s_[i_];
        if (ch == '\'') {
            TextLiteral(QuotedText(), c.value);
            quoted_text = true;
        } else if (ch == '#') {
            std::string inner = HashText();
            if (auto d = ReadDate(inner)) {
                DateLiteral(*d, c.value);
            } else {
                TextLiteral(std::move(inner), c.value);
                quoted_text = true;
            }
        } else if (IsDigit(ch) || ch == '.' || ch == '+' || ch == '-' || ch == '$') {
            NumberLiteral(c.value);
        } else {
            if (!IsKeyword(Word(), "NULL")) BadCriteria();
            if (c.op != Op::Equal && c.op != Op::NotEqual) BadCriteria();
            c.value.is_null = true;
        }
        if (c.op == Op::Like) {
            if (!quoted_text) BadCriteria();
            SetPattern(c);
        }
        return c;
    }

    std::string FieldName() {
        SkipSpace();
        if (AtEnd()) BadCriteria();
        if (s_[i_] == '[') {
            std::size_t close = s_.find(']', i_ + 1);
            if (close == std::string_view::npos || close == i_ + 1) BadCriteria();
            std::string name(s_.substr(i_ + 1, close - i_ - 1));
            i_ = close + 1;
            return name;
        }
        std::string_view name = Word();
        // A keyword where a field belongs is an empty clause ("a = 1 AND OR b = 2"), not a field named OR.
        if (name.empty() || IsKeyword(name, "AND") || IsKeyword(name, "OR")) BadCriteria();
        return std::string(name);
    }

    Op Operator() {
        SkipSpace();
        if (AtEnd()) BadCriteria();
        char ch = s_[i_];
        char next = i_ + 1 < s_.size() ? s_[i_ + 1] : '\0';
        if (ch == '<') {
            i_ += next == '=' || next == '>' ? 2 : 1;
            return next == '=' ? Op::LessEqual : next == '>' ? Op::NotEqual : Op::Less;
        }
        if (ch == '>') {
            i_ += next == '=' ? 2 : 1;
            return next == '=' ? Op::GreaterEqual : Op::Greater;
        }
        if (ch == '=') {
            ++i_;
            return Op::Equal;
        }
        if (IsKeyword(Word(), "LIKE")) return Op::Like;
        BadCriteria();
    }

    // '...' with '' standing for one quote.
    std::string QuotedText() {
        std::string out;
        ++i_;
        for (;;) {
            if (AtEnd()) BadCriteria();
            char ch = s_[i_++];
            if (ch == '\'') {
                if (i_ < s_.size() && s_[i_] == '\'') {
                    out += '\'';
                    ++i_;
                    continue;
                }
                return out;
            }
            out += ch;
        }
    }

    std::string HashText() {
        std::size_t close = s_.find('#', i_ + 1);
        if (close == std::string_view::npos) BadCriteria();
        std::string out(s_.substr(i_ + 1, close - i_ - 1));
        i_ = close + 1;
        return out;
    }

    void NumberLiteral(Literal& lit) {
        std::size_t start = i_;
        while (!AtEnd() && !IsDelimiter(s_[i_])) ++i_;
        std::string_view token = s_.substr(start, i_ - start);
        // Signs and one "$" in front, in either order; the runtime's parser reads the rest.
        std::string spelled;
        bool sign = false, dollar = false;
        std::size_t k = 0;
        for (; k < token.size(); ++k) {
            if ((token[k] == '+' || token[k] == '-') && !sign) {
                sign = true;
                spelled += token[k];
            } else if (token[k] == '$' && !dollar) {
                dollar = true;
            } else {
                break;
            }
        }
        std::string_view body = token.substr(k);
        // Digits, one ".", an exponent: nothing the runtime would also take (blanks, &H, the D exponent).
        bool digit = false, point = false;
        std::size_t j = 0;
        for (; j < body.size(); ++j) {
            if (IsDigit(body[j])) {
                digit = true;
            } else if (body[j] == '.' && !point) {
                point = true;
            } else {
                break;
            }
        }
        if (!digit) BadCriteria();
        if (j < body.size() && (body[j] == 'e' || body[j] == 'E')) {
            ++j;
            if (j < body.size() && (body[j] == '+' || body[j] == '-')) ++j;
            if (j >= body.size() || !IsDigit(body[j])) BadCriteria();
            while (j < body.size() && IsDigit(body[j])) ++j;
        }
        if (j != body.size()) BadCriteria();
        spelled += body;
        std::optional<double> number = ParseNumber(spelled);
        if (!number) BadCriteria();  // beyond the range of a Double
        lit.text = spelled;
        SetNumber(number, spelled, lit.number, lit.exact, lit.single);
        lit.truth = *number != 0;
        if (*number > kMinDateDays && *number < kMaxDateDays) lit.date = Date{*number};
    }

    static void TextLiteral(std::string text, Literal& lit) {
        SetNumber(ParseNumber(text), text, lit.number, lit.exact, lit.single);
        lit.date = ReadDate(text);
        std::string_view trimmed = text;
        while (!trimmed.empty() && IsSpace(trimmed.front())) trimmed.remove_prefix(1);
        while (!trimmed.empty() && IsSpace(trimmed.back())) trimmed.remove_suffix(1);
        if (IsKeyword(trimmed, "TRUE")) {
            lit.truth = true;
        } else if (IsKeyword(trimmed, "FALSE")) {
            lit.truth = false;
        } else if (lit.number) {
            lit.truth = *lit.number != 0;
        }
        lit.text = std::move(text);
    }

    static void DateLiteral(Date d, Literal& lit) {
        lit.date = d;
        lit.number = d.days;
        lit.single = static_cast<float>(d.days);
        lit.text = FormatDate(d);
    }

    static void SetPattern(Clause& c) {
        std::string_view p = c.value.text;
        auto wild = [](char ch) { return ch == '*' || ch == '%'; };
        bool lead = !p.empty() && wild(p.front());
        if (lead) p.remove_prefix(1);
        bool trail = !p.empty() && wild(p.back());
        if (trail) p.remove_suffix(1);
        // A lone "*" is a wildcard at the end; "*abc" (at the start only) is not a supported form.
        if (lead && !trail && p.empty()) {
            lead = false;
            trail = true;
        }
        if (lead && !trail) BadCriteria();
        for (char ch : p)
            if (wild(ch)) BadCriteria();
        c.like = lead ? LikeForm::Contains : trail ? LikeForm::Prefix : LikeForm::Exact;
        c.pattern = FoldCase(p);
    }

    // The run of characters up to the next delimiter (empty when a delimiter is next).
    std::string_view Word() {
        SkipSpace();
        std::size_t start = i_;
        while (!AtEnd() && !IsDelimiter(s_[i_])) ++i_;
        return s_.substr(start, i_ - start);
    }

    void SkipSpace() {
        while (!AtEnd() && IsSpace(s_[i_])) ++i_;
    }
    bool AtEnd() const { return i_ >= s_.size(); }

    std::string_view s_;
    std::size_t i_ = 0;
};

FilterCriteria FilterCriteria::Parse(std::string_view criteria,
                                     const std::function<int(std::string_view)>& column_of) {
    FilterCriteria f;
    f.groups_ = Parser(criteria).ParseAll();
    // Names are resolved only once the whole text is known to be well formed: a typo in the syntax is
    // reported as such even when it also hides a field name.
    for (Group& g : f.groups_) {
        for (Clause& c : g) {
            c.column = column_of(c.field);
            if (c.column < 0) UnknownField();
        }
    }
    return f;
}

std::vector<int> FilterCriteria::Columns() const {
    std::vector<int> out;
    for (const Group& g : groups_)
        for (const Clause& c : g) out.push_back(c.column);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

bool FilterCriteria::Matches(const std::function<const Variant&(int)>& value_of) const {
    if (groups_.empty()) return true;
    for (const Group& g : groups_) {
        bool all = true;
        for (const Clause& c : g) {
            if (!Test(c, value_of(c.column))) {
                all = false;
                break;
            }
        }
        if (all) return true;
    }
    return false;
}

bool FilterCriteria::Test(const Clause& c, const Variant& v) {
    bool missing = v.IsNull() || v.IsEmpty();
    const Literal& lit = c.value;
    if (lit.is_null) return c.op == Op::Equal ? missing : !missing;
    if (missing) return false;

    // An undecided comparison (NaN) satisfies no operator.
    auto holds = [op = c.op](Cmp r) {
        if (r == Cmp::Null) return false;
        switch (op) {
            case Op::Less:
                return r == Cmp::Less;
            case Op::Greater:
                return r == Cmp::Greater;
            case Op::LessEqual:
                return r != Cmp::Greater;
            case Op::GreaterEqual:
                return r != Cmp::Less;
            case Op::NotEqual:
                return r != Cmp::Equal;
            default:
                return r == Cmp::Equal;
        }
    };
    const bool like = c.op == Op::Like;
    switch (v.Type()) {
        case VarType::String:
            if (like) break;
            return holds(static_cast<Cmp>(StrComp(*v.get_if<std::string>(), lit.text, CompareMethod::Text)));
        case VarType::Byte:
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong:
        case VarType::Currency:
        case VarType::Decimal:
            if (like) break;
            if (lit.exact) return holds(Compare(v, Variant(*lit.exact)));
            if (lit.number) return holds(Compare(v, Variant(*lit.number)));
            return false;
        case VarType::Double:
            if (std::isnan(*v.get_if<double>())) return false;
            if (like) break;
            return lit.number && holds(CompareDoubles(*v.get_if<double>(), *lit.number));
        case VarType::Single: {
            float f = *v.get_if<float>();
            if (std::isnan(f)) return false;
            if (like) break;
            if (lit.single) {
                float l = *lit.single;
                return holds(f < l ? Cmp::Less : f > l ? Cmp::Greater : Cmp::Equal);
            }
            // Beyond the range of a Single: compare in Double, where the literal still has its value.
            return lit.number && holds(CompareDoubles(f, *lit.number));
        }
        case VarType::Date: {
            // A day count outside the runtime's dates (or NaN) is no date: CStr could not even spell it.
            double d = v.get_if<Date>()->days;
            if (!(d > kMinDateDays && d < kMaxDateDays)) return false;
            if (like) break;
            return lit.date && holds(CompareDoubles(d, lit.date->days));
        }
        case VarType::Boolean:
            if (like) break;
            return lit.truth && holds(Compare(v, Variant(*lit.truth)));
        default:
            return false;  // binary data, objects, arrays, error values
    }

    // LIKE: the field as text, folded as the pattern was.
    std::string folded;
    try {
        folded = FoldCase(v.IsString() ? *v.get_if<std::string>() : CStr(v));
    } catch (const Error&) {
        return false;
    }
    switch (c.like) {
        case LikeForm::Exact:
            return folded == c.pattern;
        case LikeForm::Prefix:
            return folded.compare(0, c.pattern.size(), c.pattern) == 0;
        case LikeForm::Contains:
            return folded.find(c.pattern) != std::string::npos;
    }
    return false;
}

}  // namespace korado::dataaccess
