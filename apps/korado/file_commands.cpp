// The console's file commands: SAVE writes the last query's rows to a file in one of the platform's
// persistence formats, LOAD prints a saved file's rows as a query's.
#include <cstdio>

#include "console.h"
#include "help.h"
#include "korado/runtime/strings.h"
#include "output.h"
#include "sql_text.h"

namespace korado::console {

namespace {

// A file name as typed: blanks kept, one pair of surrounding quotes taken off.
std::string FileNameOf(std::string text) {
    text = TrimBlanks(text);
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return text;
}

// "SAVE --help" and the like: prints the command's entry.
bool AskedForHelp(const std::string& rest, std::string_view command) {
    if (TrimBlanks(rest) != "--help") return false;
    std::fputs(CommandHelp(command).c_str(), stdout);
    return true;
}

}  // namespace

void Console::CmdSave(const std::string& rest) {
    if (AskedForHelp(rest, "SAVE")) return;
    // SAVE file [XML|ADTG]: the binary format unless XML is asked for.
    std::string file = rest;
    std::int32_t format = ado::adPersistADTG;
    const std::vector<std::string> words = Words(rest);
    const std::string last = words.empty() ? std::string() : Upper(words.back());
    if (words.size() > 1 && (last == "XML" || last == "ADTG")) {
        format = last == "XML" ? ado::adPersistXML : ado::adPersistADTG;
        file = rest.substr(0, rest.rfind(words.back()));
    }
    file = FileNameOf(file);
    if (!session_) {
        PrintProblem("Not connected (CONNECT connects).");
        return Fail();
    }
    if (!last_query_) {
        PrintProblem("No query to save: SAVE writes the rows of the last query run.");
        return Fail();
    }
    // The rows are read again, all of them, into a client dynaset: a large result printed as it streamed
    // is gone by now.
    Ref<Collection> names;
    if (!last_query_->names.empty()) {
        names = MakeRef<Collection>();
        for (const std::string& name : last_query_->names) names->Add(Variant(name));
    }
    Ref<clsADO> ado = session_->ado;
    std::string text = last_query_->sql;
    bool large = false;
    Ref<clsDynasetADO> rows;
    const std::size_t messages = message_box_->Shown();
    try {
        rows = last_query_->call ? ado->CreateDynasetFromProc(text, names, large)
                                 : ado->CreateDynaset(text, names, large);
        if (!rows) return StatementFailed(messages);
        const std::int32_t count = rows->RecordCount();
        rows->Save(file, Variant(format));
        rows->Detach();
        std::printf("%d %s saved to %s.\n", count, count == 1 ? "row" : "rows", file.c_str());
    } catch (const Error& e) {
        if (rows) rows->Detach();
        PrintError(e);
        Fail();
    }
}

void Console::CmdLoad(const std::string& rest) {
    if (AskedForHelp(rest, "LOAD")) return;
    const std::string file = FileNameOf(rest);
    auto rows = MakeRef<clsDynasetADO>();
    try {
        rows->Constructor3(Ref<Dispatch>(script_object_), file);
    } catch (const Error& e) {
        PrintError(e);
        return Fail();
    }
    // The library reported why through its error component.
    if (!rows->IsOpen()) {
        PrintProblem("Cannot open " + file + " as a saved result.");
        return Fail();
    }
    PrintDynaset(*rows);
}

}  // namespace korado::console
