// korado: the console host of the korADO library (see help.cpp for what it does, console.h for how).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console.h"
#include "help.h"
#include "korado/export.h"
#include "korado/platform/modGlobals.h"
#include "line_input.h"
#include "sample_database.h"

namespace {

struct Options {
    std::optional<std::string> connection;
    std::vector<std::string> statements;  // -c
    std::vector<std::string> files;       // -f
    bool prompt = false;
};

int Usage(const std::string& problem) {
    std::fprintf(stderr, "korado: %s\nTry \"korado --help\".\n", problem.c_str());
    return 2;
}

int RunConsole(const Options& options) {
    using namespace korado::console;
    const bool terminal = isatty(STDIN_FILENO) != 0;
    const bool scripted = !options.statements.empty() || !options.files.empty();
    const bool interactive = terminal && !scripted;

    std::unique_ptr<LineSource> input;
    if (terminal) {
        const std::string history = interactive ? korado::apps::StateFolder() + "/history" : std::string();
        input = std::make_unique<TerminalSource>(history);
    } else {
        input = std::make_unique<StreamSource>(stdin, false);
    }

    Console console(*input, interactive);
    if (interactive) {
        std::printf("korado %s. HELP lists the commands, EXIT leaves.\n", korado::kVersionText);
        std::fflush(stdout);
    }
    if (options.prompt) {
        console.ConnectByPrompt();
    } else {
        console.Connect(options.connection.value_or(std::string()));
    }

    if (scripted) {
        for (const std::string& statement : options.statements) {
            if (console.Finished()) break;
            console.RunText(statement);
        }
        for (const std::string& file : options.files) {
            if (console.Finished()) break;
            console.RunFile(file);
        }
    } else {
        console.Run(*input);
    }
    console.Close();
    return console.ExitStatus();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(korado::console::kUsageText, stdout);
            std::fputs("\n", stdout);
            std::fputs(korado::console::kCommandsText, stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-V") {
            std::printf("korado %s\n", korado::kVersionText);
            return 0;
        }
        if (arg == "--prompt") {
            options.prompt = true;
        } else if (arg == "-c" || arg == "-f") {
            if (i + 1 >= argc) return Usage(arg + " needs an argument");
            (arg == "-c" ? options.statements : options.files).push_back(argv[++i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else if (options.connection) {
            return Usage("more than one connection given: \"" + *options.connection + "\" and \"" + arg +
                         "\"");
        } else {
            options.connection = arg;
        }
    }
    if (options.prompt && options.connection) return Usage("--prompt and a connection exclude each other");

    korado::apps::UseStateFolderForTheErrorLog();
    const int status = RunConsole(options);
    // The library's globals hold the last connection object, its error object and this host's script
    // object; dropping them here ends the cycles between them before the process does.
    korado::ReleaseGlobals();
    return status;
}
