#include "sql_text.h"

#include <algorithm>

namespace korado::console {
namespace {

bool IsAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
// Names may hold any non-ASCII character: bytes of UTF-8 sequences are never quotes or punctuation.
bool IsNameChar(unsigned char c) { return IsAsciiLetter(c) || IsDigit(c) || c == '_' || c >= 0x80; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Walks SQL text and calls on_code(i) for every byte that is code: outside comments, and outside quotes
// apart from the quote characters themselves (so that a quoted value still counts as something typed).
class Lexer {
  public:
    template <class OnCode>
    void Scan(std::string_view text, OnCode&& on_code) {
        const std::size_t n = text.size();
        for (std::size_t i = 0; i < n; ++i) {
            const char c = text[i];
            const char next = i + 1 < n ? text[i + 1] : '\0';
            switch (state_) {
                case State::Code:
                    if (c == '\'') {
                        state_ = State::Single;
                    } else if (c == '"') {
                        state_ = State::Double;
                    } else if (c == '-' && next == '-') {
                        state_ = State::LineComment;
                        ++i;
                        continue;
                    } else if (c == '/' && next == '*') {
                        state_ = State::BlockComment;
                        ++i;
                        continue;
                    } else if (c == '$') {
                        if (std::size_t end = DollarTagEnd(text, i); end != 0) {
                            tag_ = std::string(text.substr(i, end - i + 1));
                            state_ = State::Dollar;
                            saw_dollar_quote_ = true;
                            on_code(i);
                            i = end;
                            continue;
                        }
                    }
                    on_code(i);
                    break;
                case State::Single:
                    if (c == '\'') {
                        state_ = State::Code;
                        on_code(i);
                    }
                    break;
                case State::Double:
                    if (c == '"') {
                        state_ = State::Code;
                        on_code(i);
                    }
                    break;
                case State::Dollar:
                    if (text.compare(i, tag_.size(), tag_) == 0) {
                        state_ = State::Code;
                        on_code(i);
                        i += tag_.size() - 1;
                    }
                    break;
                case State::LineComment:
                    if (c == '\n') state_ = State::Code;
                    break;
                case State::BlockComment:
                    if (c == '*' && next == '/') {
                        state_ = State::Code;
                        ++i;
                    }
                    break;
            }
        }
    }

    // True when the text ended outside quotes and block comments.
    bool AtCode() const noexcept { return state_ == State::Code || state_ == State::LineComment; }
    bool SawDollarQuote() const noexcept { return saw_dollar_quote_; }

  private:
    enum class State { Code, Single, Double, Dollar, LineComment, BlockComment };

    // The position of the closing "$" of a dollar-quote opener at `i` ("$$" or "$tag$"), or 0. A "$" inside
    // a name ("a$b$") or before digits ("$1", a positional parameter) opens nothing.
    static std::size_t DollarTagEnd(std::string_view text, std::size_t i) {
        if (i > 0 && IsNameChar(static_cast<unsigned char>(text[i - 1]))) return 0;
        std::size_t j = i + 1;
        if (j < text.size() && IsDigit(static_cast<unsigned char>(text[j]))) return 0;
        while (j < text.size() && IsNameChar(static_cast<unsigned char>(text[j])) && text[j] != '$') ++j;
        return j < text.size() && text[j] == '$' ? j : 0;
    }

    State state_ = State::Code;
    std::string tag_;
    bool saw_dollar_quote_ = false;
};

struct Analysis {
    std::vector<std::string> tokens;  // code words in upper case, and ";"
    char last_code = '\0';            // the last code character that is not blank
    bool at_code = true;
    bool dollar_quoted = false;
};

// Code words in upper case, and each of `marks` met in code as a token of its own. `lexer` is left at the
// end of the text; `last_code`, when given, receives the last code character that is not blank.
std::vector<std::string> CodeTokens(std::string_view text, std::string_view marks, Lexer& lexer,
                                    char* last_code = nullptr) {
    std::vector<std::string> tokens;
    std::string word;
    auto flush = [&] {
        if (!word.empty()) tokens.push_back(Upper(word));
        word.clear();
    };
    std::size_t previous = std::string_view::npos;
    lexer.Scan(text, [&](std::size_t i) {
        const char c = text[i];
        // Code on both sides of a comment or quote is not one word.
        if (previous != std::string_view::npos && i != previous + 1) flush();
        previous = i;
        if (IsNameChar(static_cast<unsigned char>(c)) && c != '$') {
            word += c;
            return;
        }
        flush();
        if (marks.find(c) != std::string_view::npos) tokens.emplace_back(1, c);
        if (last_code && !IsBlank(c)) *last_code = c;
    });
    flush();
    return tokens;
}

Analysis Analyze(std::string_view text) {
    Analysis a;
    Lexer lexer;
    a.tokens = CodeTokens(text, ";", lexer, &a.last_code);
    a.at_code = lexer.AtCode();
    a.dollar_quoted = lexer.SawDollarQuote();
    return a;
}

bool IsBlockText(const Analysis& a) {
    if (a.tokens.empty()) return false;
    const std::string& first = a.tokens[0];
    if (first == "DECLARE") return true;
    if (first == "BEGIN") {
        if (a.tokens.size() == 1) return false;
        static const char* const kTransaction[] = {";",         "TRANSACTION", "WORK",      "DEFERRED",
                                                   "IMMEDIATE", "EXCLUSIVE",   "ISOLATION", "READ"};
        return std::none_of(std::begin(kTransaction), std::end(kTransaction),
                            [&](const char* w) { return a.tokens[1] == w; });
    }
    if (first != "CREATE") return false;
    if (std::find(a.tokens.begin(), a.tokens.end(), "BEGIN") != a.tokens.end()) return true;
    // CREATE [OR REPLACE] [EDITIONABLE ...] PROCEDURE|FUNCTION|PACKAGE: a body in dollar quotes holds its
    // own ";" safely, any other body needs the "/" line.
    for (std::size_t i = 1; i < a.tokens.size() && i <= 4; ++i) {
        const std::string& w = a.tokens[i];
        if (w == "PROCEDURE" || w == "FUNCTION" || w == "PACKAGE") return !a.dollar_quoted;
    }
    return false;
}

}  // namespace

bool StatementBuffer::Add(std::string_view line) {
    if (lines_ > 0) text_ += '\n';
    text_.append(line);
    ++lines_;
    const Analysis a = Analyze(text_);
    return a.at_code && a.last_code == ';' && !IsBlockText(a);
}

bool StatementBuffer::IsBlock() const { return IsBlockText(Analyze(text_)); }

void StatementBuffer::Clear() {
    text_.clear();
    lines_ = 0;
}

std::vector<std::string> SplitStatements(std::string_view text) {
    std::vector<std::string> out;
    std::vector<std::size_t> cuts;
    std::vector<bool> has_code_before;  // per piece
    bool code = false;
    Lexer lexer;
    lexer.Scan(text, [&](std::size_t i) {
        if (text[i] == ';') {
            cuts.push_back(i);
            has_code_before.push_back(code);
            code = false;
        } else if (!IsBlank(text[i])) {
            code = true;
        }
    });
    cuts.push_back(text.size());
    has_code_before.push_back(code);
    std::size_t from = 0;
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        if (has_code_before[k]) out.push_back(TrimBlanks(text.substr(from, cuts[k] - from)));
        from = cuts[k] + 1;
    }
    return out;
}

std::vector<std::string> BindNamesIn(std::string_view sql,
                                     const std::function<bool(std::string_view)>& declared) {
    std::vector<std::string> names;
    Lexer lexer;
    lexer.Scan(sql, [&](std::size_t i) {
        if (sql[i] != ':') return;
        if (i > 0 && sql[i - 1] == ':') return;
        std::size_t j = i + 1;
        while (j < sql.size() && IsNameChar(static_cast<unsigned char>(sql[j])) && sql[j] != '$') ++j;
        if (j == i + 1) return;
        std::string name(sql.substr(i + 1, j - i - 1));
        if (!declared(name)) return;
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
    });
    return names;
}

std::optional<std::string> Substitute(
    std::string_view text, const std::function<std::optional<std::string>(const std::string&, bool)>& value,
    std::string& missing) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const bool twice = i + 1 < text.size() && text[i + 1] == '&';
        std::size_t k = i + (twice ? 2 : 1);
        const auto start = k < text.size() ? static_cast<unsigned char>(text[k]) : 0;
        if (!(IsAsciiLetter(start) || start == '_' || start >= 0x80)) {
            out += '&';
            continue;
        }
        std::size_t j = k;
        while (j < text.size() && IsNameChar(static_cast<unsigned char>(text[j]))) ++j;
        const std::string name(text.substr(k, j - k));
        std::optional<std::string> v = value(name, twice);
        if (!v) {
            missing = name;
            return std::nullopt;
        }
        out += *v;
        if (j < text.size() && text[j] == '.') ++j;
        i = j - 1;
    }
    return out;
}

std::string FirstKeyword(std::string_view sql) {
    const Analysis a = Analyze(sql);
    return a.tokens.empty() || a.tokens[0] == ";" ? std::string() : a.tokens[0];
}

namespace {

// Code words in upper case, and the ";" and parentheses that tell statements, definitions and main
// statements apart.
std::vector<std::string> StatementTokens(std::string_view sql) {
    Lexer lexer;
    return CodeTokens(sql, "();", lexer);
}

// Whether the statement starting at tokens[i] (and ending at the next ";" outside parentheses, or at the
// end) answers with rows by its form.
bool StatementReturnsRows(const std::vector<std::string>& tokens, std::size_t i) {
    auto ends = [&](std::size_t j, int depth) {
        return j == tokens.size() || (depth == 0 && tokens[j] == ";");
    };
    while (i < tokens.size() && tokens[i] == "(") ++i;
    if (ends(i, 0)) return false;
    if (tokens[i] == "WITH") {
        // The main statement is the first word outside the definitions' parentheses that starts one.
        int depth = 0;
        for (++i; !ends(i, depth); ++i) {
            const std::string& t = tokens[i];
            if (t == "(") {
                ++depth;
            } else if (t == ")") {
                --depth;
            } else if (depth == 0 && (t == "SELECT" || t == "VALUES" || t == "TABLE" || t == "INSERT" ||
                                      t == "UPDATE" || t == "DELETE" || t == "MERGE")) {
                break;
            }
        }
        if (ends(i, depth)) return false;
    }
    const std::string& verb = tokens[i];
    if (verb == "SELECT") {
        // SELECT ... INTO (a new table, or variables) answers with no rows.
        int depth = 0;
        for (std::size_t j = i + 1; !ends(j, depth); ++j) {
            if (tokens[j] == "(") ++depth;
            if (tokens[j] == ")") --depth;
            if (depth == 0 && tokens[j] == "INTO") return false;
        }
        return true;
    }
    return verb == "VALUES" || verb == "TABLE" || verb == "SHOW" || verb == "EXPLAIN" || verb == "DESCRIBE" ||
           verb == "DESC";
}

}  // namespace

bool ReturnsRows(std::string_view sql) { return StatementReturnsRows(StatementTokens(sql), 0); }

bool BodyReturnsRows(std::string_view body) {
    const std::vector<std::string> tokens = StatementTokens(body);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& before = i == 0 ? std::string(";") : tokens[i - 1];
        const bool starts = before == ";" || before == "BEGIN" || before == "THEN" || before == "ELSE" ||
                            before == "DO" || before == "LOOP" || before == "REPEAT" || before == "ATOMIC";
        if (starts && StatementReturnsRows(tokens, i)) return true;
    }
    return false;
}

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        std::size_t j = i;
        while (j < line.size() && !IsBlank(line[j])) ++j;
        if (j > i) words.emplace_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string TrimBlanks(std::string_view s) {
    std::size_t a = 0, b = s.size();
    while (a < b && IsBlank(s[a])) ++a;
    while (b > a && IsBlank(s[b - 1])) --b;
    return std::string(s.substr(a, b - a));
}

std::string WithoutTerminator(std::string_view line) {
    std::string s = TrimBlanks(line);
    if (!s.empty() && s.back() == ';') s = TrimBlanks(std::string_view(s).substr(0, s.size() - 1));
    return s;
}

}  // namespace korado::console
