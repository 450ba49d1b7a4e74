// FilterCriteria: a parsed Recordset.Filter criteria string, and the test of one row against it.
//
// The Recordset parses the text once when Filter is set and asks Matches for every row it shows; the
// object owns copies of everything it needs (no reference to the text, the field list or the rows), so it
// is an ordinary value: copy it, move it, keep it after the Fields are gone.
//
// Grammar (keywords AND, OR, LIKE, NULL in any letter case; blanks, tabs and line breaks between tokens):
//
//   criteria := <nothing>                            the empty criteria: every row matches
//             | expr
//   expr     := term { (AND | OR) term }
//   term     := clause | "(" expr ")"
//   clause   := field op value
//   field    := name                                 up to a blank or one of  < > = ( ) [ ] ' #
//             | "[" any text but "]" "]"             names with blanks; no escape for "]"
//   op       := "<" | ">" | "<=" | ">=" | "<>" | "=" | LIKE
//   value    := "'" text "'"                         '' inside stands for one quote
//             | "#" text "#"                         a date when the text reads as one (ISO 8601 or
//                                                    m/d/yyyy, m/d/yy with years 30-99 in the 1900s and
//                                                    00-29 in the 2000s, optional time); otherwise text,
//                                                    which is how the platform lets a value begin and
//                                                    end with a quote: #'1'#
//             | number                               [+|-] [$] [+|-] digits [. digits] [E [+|-] digits]
//                                                    (".5" and "5." too)
//             | NULL                                 only with = and <>
//
// AND and OR have no precedence over each other: a chain is read from left to right, and parentheses
// group. The platform refuses a group of ORed clauses that is then ANDed with anything, so every accepted
// criteria is a disjunction of conjunctions (that is also how it is kept here). Read left to right,
// "a OR b AND c" would be "(a OR b) AND c", which that rule refuses; so where SQL's precedence and the
// platform's reading would differ, the text fails instead of silently meaning something else.
//
// LIKE takes a text value whose wildcards, * or % (any run of characters), stand at the end ('Smi*') or at
// both ends ('*mit*'); no wildcard at all means equality. A wildcard anywhere else, including at the start
// only ('*ith'), is refused: the platform supports no other forms.
//
// Failures of Parse: malformed text raises 3001 from "ADODB.Recordset" (unbalanced quote, bracket, # or
// parenthesis, a missing field, operator or value, an empty group "()", AND/OR with nothing on one side,
// an ORed group ANDed with something, a wildcard out of place, NULL with an operator other than = and <>,
// a bare word as a value, a number too large for a Double, parentheses nested deeper than 100). Only when
// the text is well formed are the field names resolved, each once, through `column_of`; a name it does not
// know (it returns -1) raises 3265 from "ADODB.Recordset". Whatever `column_of` itself raises passes through.
//
// How a clause compares (the literal is converted to the kind of the field's value in that row, so that a
// number literal against a Double column compares as Doubles, against a Long or Currency column exactly):
// - a Null field value (Empty counts as Null: a new row's unset field) satisfies "= Null" and nothing
//   else; a value that is not Null satisfies "<> Null";
// - text compares without regard to letter case (Unicode case folding, as the runtime's StrComp with the
//   text method: "STRASSE" = 'straße'), ordered by folded code point. Unconfirmed on the platform's cursor
//   engine; chosen because hosts type criteria by hand and expect 'smith' to find "Smith". A number
//   literal against text compares as it was written (without "$"), a date literal as ISO text (2024-05-17);
// - numbers compare numerically (Byte, Integer, Long, LongLong, Currency and Decimal exactly against the
//   literal's decimal value; Single as Single; Double as Double); a text literal must read as a number;
// - dates compare as dates, time of day included (#1/1/2024# is midnight); a text literal must read as a
//   date, a number literal counts days as the runtime's dates do;
// - Booleans compare with the literal's truth (True/False text, or a number: non-zero is True);
// - LIKE compares the field's text (numbers, dates and Booleans through CStr) without regard to case;
// - a literal that cannot be converted to the field value's kind, a NaN, binary data, an object, an array
//   or an error value satisfies no clause: the row is simply not shown (the platform decides per row, and
//   one odd row must not make the whole filter fail).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "korado/runtime/variant.h"

namespace korado::dataaccess {

class FilterCriteria {
  public:
    // The empty criteria: Matches is true for every row.
    FilterCriteria() = default;

    // Parses criteria text; see the header comment for the grammar and what raises 3001 or 3265.
    // `column_of` returns the 0-based column of a field name, or -1 when there is none.
    static FilterCriteria Parse(std::string_view criteria,
                                const std::function<int(std::string_view)>& column_of);

    // True when the row whose column values `value_of` gives satisfies the criteria. Raises nothing of its
    // own (a value that cannot be compared makes its clause false); what `value_of` raises passes through.
    bool Matches(const std::function<const Variant&(int)>& value_of) const;

    // True for the criteria of empty or blank text.
    bool Empty() const noexcept { return groups_.empty(); }

    // The 0-based columns the criteria reads, ascending, each once.
    std::vector<int> Columns() const;

  private:
    enum class Op : std::uint8_t { Less, Greater, LessEqual, GreaterEqual, NotEqual, Equal, Like };
    enum class LikeForm : std::uint8_t { Exact, Prefix, Contains };

    // A value of the criteria in every form a field may ask for, converted once when parsed.
    struct Literal {
        bool is_null = false;
        std::string text;  // against text fields
        std::optional<double> number;
        std::optional<Decimal> exact;  // only when the decimal value is the number itself, not rounded
        std::optional<float> single;
        std::optional<Date> date;
        std::optional<bool> truth;
    };

    struct Clause {
        std::string field;  // as written, until resolved
        int column = -1;
        Op op = Op::Equal;
        Literal value;
        LikeForm like = LikeForm::Exact;
        std::string pattern;  // LIKE: case-folded, wildcards removed
    };

    // Every clause of one group must hold; any one group is enough.
    using Group = std::vector<Clause>;

    class Parser;
    friend class Parser;

    static bool Test(const Clause& c, const Variant& v);

    std::vector<Group> groups_;
};

}  // namespace korado::dataaccess
