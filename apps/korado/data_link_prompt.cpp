#include "data_link_prompt.h"

#include <cstdio>

#include "korado/platform/adodb.h"
#include "korado/runtime/registry.h"
#include "output.h"
#include "sql_text.h"

namespace korado::console {

void AppendEntry(std::string& connection_string, const std::string& key, const std::string& value) {
    connection_string += key + "=";
    const bool quote = value.find_first_of(";\"'{}") != std::string::npos || value.empty() ||
                       value.front() == ' ' || value.back() == ' ';
    if (quote) {
        connection_string += '"';
        for (char c : value) {
            if (c == '"') connection_string += '"';
            connection_string += c;
        }
        connection_string += '"';
    } else {
        connection_string += value;
    }
    // Every entry ends with ";": the library strips a password from the string it hands back only when
    // the entry is closed.
    connection_string += ';';
}

std::optional<std::string> TerminalDataLinkPrompt::Ask(const std::string& question) {
    std::optional<std::string> line = input_.ReadLine(question);
    // A pipe does not echo what it gives; saying it keeps a transcript readable.
    if (line && !input_.IsTerminal()) std::printf("%s%s\n", question.c_str(), line->c_str());
    return line;
}

std::optional<std::string> TerminalDataLinkPrompt::PromptNew() {
    for (;;) {
        std::optional<std::string> provider = Ask("Provider (SQLite or ODBC) [SQLite]: ");
        if (!provider) return std::nullopt;
        const std::string kind = Upper(TrimBlanks(*provider));
        const bool odbc = kind == "ODBC" || kind == "MSDASQL";
        if (!odbc && !kind.empty() && kind != "SQLITE") {
            std::printf("Unknown provider \"%s\": answer SQLite or ODBC.\n", TrimBlanks(*provider).c_str());
            continue;
        }

        std::optional<std::string> source = Ask(odbc ? "Data source name (DSN): " : "Database file: ");
        if (!source) return std::nullopt;
        const std::string data_source = TrimBlanks(*source);
        if (data_source.empty()) {
            std::printf("No data source given: connection cancelled.\n");
            return std::nullopt;
        }
        std::optional<std::string> user = Ask("User: ");
        if (!user) return std::nullopt;
        if (!input_.IsTerminal()) std::printf("Password: \n");
        std::optional<std::string> password = input_.ReadSecret(input_.IsTerminal() ? "Password: " : "");
        if (!password) return std::nullopt;

        std::string cs;
        AppendEntry(cs, "Provider", odbc ? "MSDASQL" : "SQLite");
        AppendEntry(cs, "Data Source", data_source);
        if (!TrimBlanks(*user).empty()) AppendEntry(cs, "User ID", TrimBlanks(*user));
        if (!password->empty()) AppendEntry(cs, "Password", *password);

        try {
            Ref<ado::Connection> test = CreateObjectAs<ado::Connection>("ADODB.Connection");
            test->Open(cs);
            test->Close();
            std::printf("Test connection succeeded.\n");
            std::fflush(stdout);
            answer_ = cs;
            return cs;
        } catch (const Error& e) {
            std::printf("Test connection failed: %s\n", ConsoleText(e.Description()).c_str());
        }
        std::optional<std::string> again = Ask("Try again? (y/N): ");
        if (!again || Upper(TrimBlanks(*again)).rfind('Y', 0) != 0) {
            std::printf("Connection cancelled.\n");
            std::fflush(stdout);
            return std::nullopt;
        }
    }
}

}  // namespace korado::console
