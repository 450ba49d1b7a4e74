// Reading statements the way the hosts' users type them: where a statement ends, how a buffer splits
// into statements, which bind variables a statement names, and substitution of "&name".
//
// Quoting rules shared by all of these: text inside '...', "...", dollar quotes ($$...$$, $tag$...$tag$),
// -- comments (to the end of the line) and /* */ comments is not code: a ";" or ":name" there means
// nothing. Substitution is the exception: "&name" is replaced everywhere, quotes included (a user who
// needs a literal "&" turns it off with SET DEFINE OFF).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korado::console {

// A statement being typed, line by line.
//
// An ordinary statement ends with a line whose last code character is ";". A block (a statement starting
// with DECLARE, or with BEGIN other than a transaction's BEGIN; a CREATE whose text has a BEGIN, such as an
// SQLite trigger; a CREATE PROCEDURE, FUNCTION or PACKAGE without a dollar-quoted body) ends only with a
// line holding just "/", because its body holds ";" of its own. A "/" line ends any statement.
class StatementBuffer {
  public:
    bool Empty() const noexcept { return lines_ == 0; }
    std::size_t Lines() const noexcept { return lines_; }
    const std::string& Text() const noexcept { return text_; }
    // Appends a line; true when it completes the statement.
    bool Add(std::string_view line);
    bool IsBlock() const;
    void Clear();

  private:
    std::string text_;
    std::size_t lines_ = 0;
};

// Splits text at the ";" that are code into statements, without the ";"; pieces holding no code (blanks,
// comments) are dropped.
std::vector<std::string> SplitStatements(std::string_view text);

// The texts that appear as ":name" in code (a ":" not preceded by another ":", followed by a name of
// letters, digits, "_" and non-ASCII characters) for which `declared` is true, each spelling once, in
// order of first appearance.
std::vector<std::string> BindNamesIn(std::string_view sql,
                                     const std::function<bool(std::string_view)>& declared);

// Replaces "&name" and "&&name" (a name starts with a letter or "_"; a "." right after it is dropped, so
// "&x.y" can join a value to text). `value(name, double_ampersand)` gives the value, or nullopt when the
// name has none: then the result is nullopt and `missing` names it.
std::optional<std::string> Substitute(
    std::string_view text, const std::function<std::optional<std::string>(const std::string&, bool)>& value,
    std::string& missing);

// The first word of code in upper case ("" when there is none): comments before it are skipped.
std::string FirstKeyword(std::string_view sql);

// Whether a statement answers with rows by its very form, so that it can be opened as a result set: a
// SELECT (not SELECT ... INTO, which stores its row), VALUES, TABLE, SHOW, EXPLAIN, DESCRIBE, or a WITH
// whose main statement is one of those; opening parentheses before the keyword are skipped. Statements
// that answer with rows only sometimes (PRAGMA, CALL, INSERT ... RETURNING) are not counted.
bool ReturnsRows(std::string_view sql);
// Whether a procedure's body (BEGIN ... END with statements inside) has a statement that answers with rows
// in that sense: one that starts the body, follows a ";", or opens a branch or loop (THEN, ELSE, DO, LOOP,
// REPEAT).
bool BodyReturnsRows(std::string_view body);

// Words of a command line, split at blanks and tabs.
std::vector<std::string> Words(std::string_view line);
std::string Upper(std::string_view s);
std::string TrimBlanks(std::string_view s);
// Drops one trailing ";" (and the blanks around it) that commands accept.
std::string WithoutTerminator(std::string_view line);

}  // namespace korado::console
