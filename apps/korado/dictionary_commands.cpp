// The commands that read and make the database's structure: DESCRIBE, LIST, CREATE DATABASE and COPY TO.
// They ask the library's dictionary (clsADO::Dictionary) and catalog members, never SQL text of their own,
// apart from COPY's INSERT, so that they answer alike on every provider the dictionary reads.
#include <algorithm>
#include <cstdio>

#include "console.h"
#include "help.h"
#include "korado/platform/adodb.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "output.h"
#include "sample_database.h"

namespace korado::console {
namespace {

// One word of a command: a name or pattern, maybe quoted. `quoted`: it came in quotes, so it is taken
// exactly as written (blanks and letter case included).
struct Word {
    std::string text;
    bool quoted = false;
};

bool IsBlankChar(char c) { return c == ' ' || c == '\t'; }

// The word at `pos` of `text`: '...' or "..." (a doubled quote stands for itself), or everything up to a
// blank or `stop`. Advances `pos` past it. nullopt for a quote left open.
std::optional<Word> ReadWord(std::string_view text, std::size_t& pos, char stop = '\0') {
    while (pos < text.size() && IsBlankChar(text[pos])) ++pos;
    Word word;
    if (pos < text.size() && (text[pos] == '\'' || text[pos] == '"')) {
        const char quote = text[pos++];
        word.quoted = true;
        for (;;) {
            if (pos >= text.size()) return std::nullopt;
            if (text[pos] == quote) {
                if (pos + 1 < text.size() && text[pos + 1] == quote) {
                    word.text += quote;
                    pos += 2;
                    continue;
                }
                ++pos;
                return word;
            }
            word.text += text[pos++];
        }
    }
    while (pos < text.size() && !IsBlankChar(text[pos]) && text[pos] != stop) word.text += text[pos++];
    return word;
}

// Every word of `text`; nullopt for a quote left open.
std::optional<std::vector<Word>> ReadWords(std::string_view text) {
    std::vector<Word> words;
    std::size_t pos = 0;
    for (;;) {
        while (pos < text.size() && IsBlankChar(text[pos])) ++pos;
        if (pos >= text.size()) return words;
        std::optional<Word> w = ReadWord(text, pos);
        if (!w) return std::nullopt;
        words.push_back(std::move(*w));
    }
}

// "[schema.]name", either part maybe in double quotes: {schema, name}, the schema empty when not given.
// nullopt when `text` is not one such name.
std::optional<std::pair<Word, Word>> ReadQualifiedName(std::string_view text) {
    std::size_t pos = 0;
    std::optional<Word> first = ReadWord(text, pos, '.');
    if (!first) return std::nullopt;
    std::pair<Word, Word> name{Word{}, *first};
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        std::optional<Word> second = ReadWord(text, pos, '.');
        if (!second || (second->text.empty() && !second->quoted)) return std::nullopt;
        name = {*first, *second};
    }
    if (pos != text.size()) return std::nullopt;
    return name;
}

// The value of the field `name` in one column entry of clsDictionary::Columns; Null when it has none.
Variant FieldOf(const Collection& entry, std::string_view name) {
    for (const Variant& item : entry) {
        const VariantArray* a = item.get_if<VariantArray>();
        if (a && a->size() == 3 && (*a)[0].IsString() && *(*a)[0].get_if<std::string>() == name)
            return (*a)[1];
    }
    return Variant::Null();
}

// The column names of one table's entries of clsDictionary::Columns (the first schema's), in their order.
std::vector<std::string> ColumnNamesOf(const Collection& columns) {
    std::vector<std::pair<double, std::string>> named;
    std::optional<std::string> first_schema;
    for (const Variant& item : columns) {
        Ref<Collection> entry = item.ObjectAs<Collection>();
        if (!entry) continue;
        const std::string schema = CStr(FieldOf(*entry, "TABLE_SCHEMA"));
        if (!first_schema) first_schema = schema;
        if (schema != *first_schema) continue;
        const Variant position = FieldOf(*entry, "ORDINAL_POSITION");
        named.emplace_back(position.IsNull() ? 0.0 : CDbl(position), CStr(FieldOf(*entry, "COLUMN_NAME")));
    }
    std::stable_sort(named.begin(), named.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (auto& [position, name] : named) names.push_back(std::move(name));
    return names;
}

// A column's type as DESCRIBE shows it: the dictionary's type name, with the size of a text or binary
// type that has one and the precision and scale of an exact number.
std::string TypeOf(const Collection& entry) {
    const Variant type = FieldOf(entry, "DATA_TYPE");
    std::string text = type.IsNull() ? std::string() : CStr(type);
    static const char* const sized[] = {"Char", "WChar", "VarChar", "VarWChar", "Binary", "VarBinary"};
    if (std::find(std::begin(sized), std::end(sized), text) != std::end(sized)) {
        const Variant size = FieldOf(entry, "CHARACTER_MAXIMUM_LENGTH");
        // Providers report an undeclared size as the largest one.
        if (!size.IsNull() && CDbl(size) > 0 && CDbl(size) < 2147483647.0)
            text.append("(").append(CStr(size)).append(")");
    } else if (text == "Numeric" || text == "Decimal") {
        const Variant precision = FieldOf(entry, "NUMERIC_PRECISION");
        const Variant scale = FieldOf(entry, "NUMERIC_SCALE");
        if (!precision.IsNull())
            text.append("(")
                .append(CStr(precision))
                .append(",")
                .append(scale.IsNull() ? std::string("0") : CStr(scale))
                .append(")");
    }
    return text;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string QuoteName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

void PrintCount(std::int64_t n) {
    if (n == 0) {
        std::printf("no rows selected\n");
    } else if (n == 1) {
        std::printf("\n1 row selected.\n");
    } else {
        std::printf("\n%lld rows selected.\n", static_cast<long long>(n));
    }
}

// "DESC --help" and the like: prints the command's entry.
bool AskedForHelp(const std::string& rest, std::string_view command) {
    if (TrimBlanks(rest) != "--help") return false;
    std::fputs(CommandHelp(command).c_str(), stdout);
    return true;
}

}  // namespace

Ref<clsDictionary> Console::Dictionary() {
    if (!session_) {
        PrintProblem("Not connected (CONNECT connects).");
        return nullptr;
    }
    Ref<clsDictionary> dictionary = session_->ado->Dictionary();
    if (!dictionary) PrintProblem("The connection has no dictionary.");
    return dictionary;
}

void Console::PrintNames(const std::string& heading, const Collection& names) {
    Table table;
    table.headings = {heading};
    table.numeric = {false};
    for (const Variant& name : names) table.rows.push_back({CStr(name)});
    if (!table.rows.empty()) PrintTable(stdout, table);
    PrintCount(static_cast<std::int64_t>(table.rows.size()));
}

// ---- DESCRIBE -------------------------------------------------------------------------------------------

void Console::CmdDescribe(const std::string& rest) {
    if (AskedForHelp(rest, "DESC")) return;
    const std::optional<std::pair<Word, Word>> name = rest.empty() ? std::nullopt : ReadQualifiedName(rest);
    if (!name) {
        PrintProblem("Usage: DESCRIBE [schema.]name");
        return Fail();
    }
    const auto& [schema, table] = *name;
    if (table.text.empty() || (schema.quoted && schema.text.empty())) {
        PrintProblem("A blank name names no table.");
        return Fail();
    }
    Ref<clsDictionary> dictionary = Dictionary();
    if (!dictionary) return Fail();

    // Bare names as typed first, then as the databases that fold unquoted names keep them (both parts
    // folded alike); a quoted part stays as written.
    const auto spelling = [](const Word& w, int fold) {
        if (w.quoted || fold == 0) return w.text;
        return fold == 1 ? Lower(w.text) : Upper(w.text);
    };
    const std::size_t messages = message_box_->Shown();
    Ref<Collection> columns;
    try {
        std::vector<std::pair<std::string, std::string>> tried;
        for (int fold = 0; fold < 3; ++fold) {
            std::pair<std::string, std::string> names{spelling(schema, fold), spelling(table, fold)};
            if (std::find(tried.begin(), tried.end(), names) != tried.end()) continue;
            tried.push_back(names);
            const Variant schema_name =
                schema.text.empty() && !schema.quoted ? Variant::Null() : Variant(names.first);
            const Variant answer = dictionary->Columns(schema_name, Variant(names.second));
            columns = answer.ObjectAs<Collection>();
            if (!columns) return StatementFailed(messages);
            if (columns->Count() > 0) break;
        }
    } catch (const Error& e) {
        PrintError(e);
        return Fail();
    }
    if (columns->Count() == 0) {
        PrintProblem("Object " + (schema.text.empty() ? std::string() : schema.text + ".") + table.text +
                     " does not exist.");
        return Fail();
    }

    struct Row {
        double position;
        std::vector<std::optional<std::string>> cells;
    };
    std::vector<Row> rows;
    // Without a schema the dictionary answers for the table of that name in every schema: the first one's.
    std::optional<Variant> first_schema;
    for (const Variant& item : *columns) {
        Ref<Collection> entry = item.ObjectAs<Collection>();
        if (!entry) continue;
        const Variant in_schema = FieldOf(*entry, "TABLE_SCHEMA");
        if (!first_schema) first_schema = in_schema;
        if (CStr(in_schema) != CStr(*first_schema)) continue;
        const Variant nullable = FieldOf(*entry, "IS_NULLABLE");
        const Variant position = FieldOf(*entry, "ORDINAL_POSITION");
        rows.push_back(Row{
            position.IsNull() ? 0.0 : CDbl(position),
            {CStr(FieldOf(*entry, "COLUMN_NAME")),
             !nullable.IsNull() && !CBool(nullable) ? std::optional<std::string>("NOT NULL") : std::nullopt,
             TypeOf(*entry)}});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.position < b.position; });
    Table out;
    out.headings = {"Name", "Null?", "Type"};
    out.numeric = {false, false, false};
    for (Row& row : rows) out.rows.push_back(std::move(row.cells));
    PrintTable(stdout, out);
}

// ---- LIST -----------------------------------------------------------------------------------------------

void Console::CmdList(const std::string& rest) {
    if (AskedForHelp(rest, "LIST")) return;
    const std::optional<std::vector<Word>> words = ReadWords(rest);
    const std::string what = words && !words->empty() ? Upper((*words)[0].text) : std::string();
    const bool schemas = what == "SCHEMAS";
    if ((what != "TABLES" && what != "VIEWS" && !schemas) || words->size() > (schemas ? 1u : 2u) ||
        (*words)[0].quoted) {
        PrintProblem("Usage: LIST TABLES [pattern], LIST VIEWS [pattern] or LIST SCHEMAS");
        return Fail();
    }
    Ref<clsDictionary> dictionary = Dictionary();
    if (!dictionary) return Fail();
    const std::size_t messages = message_box_->Shown();
    try {
        if (schemas) {
            const Variant answer = dictionary->Schemas(Variant::Null());
            if (answer.IsObject() && !answer.AsObject()) {
                PrintProblem("The provider cannot list schemas.");
                return Fail();
            }
            Ref<Collection> names = answer.ObjectAs<Collection>();
            if (!names) return StatementFailed(messages);
            return PrintNames("SCHEMA_NAME", *names);
        }
        const bool tables = what == "TABLES";
        const Variant pattern = words->size() == 2 ? Variant((*words)[1].text) : Variant(std::string("%"));
        Ref<Collection> names =
            dictionary->Objects(tables ? dictTables : dictViews, Variant::Null(), pattern, Variant(false));
        if (!names) return StatementFailed(messages);
        PrintNames(tables ? "TABLE_NAME" : "VIEW_NAME", *names);
    } catch (const Error& e) {
        PrintError(e);
        Fail();
    }
}

// ---- CREATE DATABASE ------------------------------------------------------------------------------------

bool Console::IsCreateDatabaseCommand(const std::vector<std::string>& words) const {
    // A plain name on a server connection is the server's own statement; a file name is ours.
    if (!session_ || words.size() < 3 || words[2] == "--help") return true;
    if (session_->ado->Provider() == "SQLite") return true;
    if (words.size() > 3) return false;
    const std::string& name = words[2];
    return name.find_first_of("'\"/.\\") != std::string::npos;
}

void Console::CmdCreateDatabase(const std::string& rest) {
    if (AskedForHelp(rest, "CREATE DATABASE")) return;
    const std::optional<std::vector<Word>> words = ReadWords(rest);
    if (!words || words->size() != 1) {
        PrintProblem("Usage: CREATE DATABASE file");
        return Fail();
    }
    const std::string file = (*words)[0].text;
    if (TrimBlanks(file).empty()) {
        PrintProblem("A blank name names no file.");
        return Fail();
    }
    std::string connection = apps::SqliteConnectionString(file) + ";";
    const std::size_t messages = message_box_->Shown();
    Ref<clsADO> creator;
    try {
        creator = NewConnectionObject();
        creator->Create(connection);
    } catch (const Error& e) {
        PrintError(e);
    }
    Ref<ado::Connection> created = creator ? creator->Connection() : nullptr;
    const bool done = created && created->State() == ado::adStateOpen;
    // Create gives the connection object only a platform connection; the session's object is connected as
    // every other is, with its variables and its transaction, to the file that now exists.
    try {
        if (done) created->Close();
        if (creator) creator->Destructor();
    } catch (const Error& e) {
        PrintError(e);
    }
    if (!done) {
        if (message_box_->Shown() == messages)
            PrintProblem(
                "The database " + file + " was not created" +
                (alerts_ ? std::string(".") : std::string(" (SET ALERTS ON shows the library's message).")));
        return Fail();
    }
    std::printf("Database %s created.\n", file.c_str());
    Open("", "", "", Variant(connection));
}

// ---- COPY TO --------------------------------------------------------------------------------------------

void Console::CmdCopy(const std::string& rest) {
    if (AskedForHelp(rest, "COPY")) return;
    const auto usage = [&] {
        PrintProblem("Usage: COPY TO table USING query");
        Fail();
    };
    std::size_t pos = 0;
    std::optional<Word> to = ReadWord(rest, pos);
    if (!to || to->quoted || Upper(to->text) != "TO") return usage();
    std::optional<Word> table = ReadWord(rest, pos);
    std::optional<Word> using_word = ReadWord(rest, pos);
    const std::string query = TrimBlanks(std::string_view(rest).substr(std::min(pos, rest.size())));
    if (!table || !using_word || using_word->quoted || Upper(using_word->text) != "USING" || query.empty())
        return usage();
    if (TrimBlanks(table->text).empty()) {
        PrintProblem("A blank name names no table.");
        return Fail();
    }
    Ref<clsDictionary> dictionary = Dictionary();
    if (!dictionary) return Fail();

    Ref<clsADO> ado = session_->ado;
    std::string sql = query;
    const std::vector<std::string> binds =
        BindNamesIn(sql, [&](std::string_view name) { return FindBind(name) != nullptr; });
    Ref<Collection> names;
    if (!binds.empty()) {
        names = MakeRef<Collection>();
        for (const std::string& name : binds) names->Add(Variant(name));
    }
    const std::size_t messages = message_box_->Shown();
    bool large = large_;
    Ref<clsDynasetADO> rows;
    try {
        rows = ado->CreateDynaset(sql, names, large);
    } catch (const Error& e) {
        PrintError(e);
        return Fail();
    }
    if (!rows) return StatementFailed(messages);

    bool done = false;
    std::int64_t copied = 0;
    try {
        ado->ClearErrors();
        dictionary->CreateTableFromDynaset(table->text, rows);
        // A failure the library reports instead of raising (a message, its error log) leaves the provider's
        // error on the connection, or no table.
        const Variant made = dictionary->Columns(Variant::Null(), Variant(table->text));
        const Ref<Collection> columns = made.ObjectAs<Collection>();
        if (message_box_->Shown() == messages && ado->LastServerErr() == 0 && columns &&
            columns->Count() > 0) {
            std::printf("Table %s created.\n", table->text.c_str());
            // The table's own column names: creating it replaced the characters a column name may not hold.
            done = InsertRows(*rows, table->text, ColumnNamesOf(*columns), copied);
        } else {
            PrintProblem("The table " + table->text + " was not created; no rows copied.");
            Fail();
        }
    } catch (const Error& e) {
        PrintError(e);
        Fail();
    }
    rows->Detach();
    if (done)
        std::printf(copied == 1 ? "1 row copied.\n" : "%lld rows copied.\n", static_cast<long long>(copied));
}

bool Console::InsertRows(clsDynasetADO& rows, const std::string& table, const std::vector<std::string>& names,
                         std::int64_t& copied) {
    Ref<ado::Recordset> rs = rows.Recordset();
    Ref<ado::Fields> fields = rs->Fields();
    const std::int32_t count = fields->Count();
    Ref<ado::Connection> connection = session_->ado->Connection();

    // One prepared statement for every row, its values bound as parameters of the fields' own types.
    Ref<ado::Command> insert = CreateObjectAs<ado::Command>("ADODB.Command");
    insert->SetActiveConnection(connection);
    std::string columns, marks;
    for (std::int32_t i = 0; i < count; ++i) {
        Ref<ado::Field> field = fields->Item(Variant(i));
        const std::size_t n = static_cast<std::size_t>(i);
        columns += (i > 0 ? ", " : "") +
                   QuoteName(names.size() == static_cast<std::size_t>(count) ? names[n] : field->Name());
        marks += i > 0 ? ", ?" : "?";
        Ref<ado::Parameter> p =
            insert->CreateParameter({}, field->Type(), ado::adParamInput, std::max(field->DefinedSize(), 0));
        p->SetPrecision(field->Precision());
        p->SetNumericScale(field->NumericScale());
        insert->Parameters()->Append(p);
    }
    insert->SetCommandText("INSERT INTO " + QuoteName(table) + " (" + columns + ") VALUES (" + marks + ")");
    insert->SetPrepared(true);

    // Under AUTOCOMMIT the copy is one transaction of its own; otherwise it is part of the session's.
    const bool own_transaction = autocommit_ && session_->ado->AreTransactionsAvailable();
    if (own_transaction) connection->BeginTrans();
    const Ref<clsFieldsADO>& values = rows.FieldsCollection();
    try {
        Ref<ado::Parameters> parameters = insert->Parameters();
        for (bool end = rs->Eof() || rows.EOF_(); !end; end = rows.EOF_()) {
            for (std::int32_t i = 0; i < count; ++i)
                parameters->Item(Variant(i))->SetValue(values->Item(Variant(i))->ReadValue());
            insert->Execute(nullptr, Variant::Missing(), ado::adExecuteNoRecords);
            ++copied;
            rows.MoveNext();
        }
        if (own_transaction) connection->CommitTrans();
    } catch (const Error& e) {
        PrintError(e);
        if (own_transaction) {
            connection->RollbackTrans();
            PrintProblem("No rows copied.");
        } else {
            PrintProblem(std::to_string(copied) + (copied == 1 ? " row" : " rows") +
                         " copied before the failure; ROLLBACK undoes the copy.");
        }
        Fail();
        return false;
    }
    return true;
}

}  // namespace korado::console
