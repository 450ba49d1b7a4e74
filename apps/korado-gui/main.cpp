// korado-gui: the graphical host of the korADO library, a query window over one connection (query_window.h).
//
//   korado-gui                      the sample database (created the first time)
//   korado-gui "Provider=...;..."   that connection string
//   korado-gui --prompt             the data-link dialog
#include <QApplication>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "host_text.h"
#include "korado/export.h"
#include "korado/platform/modGlobals.h"
#include "query_window.h"
#include "sample_database.h"
#if KORADO_HAVE_QT_VIEWS
#include "korado/qt/services.h"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: korado-gui [--prompt | CONNECTION-STRING]\n"
    "  (nothing)           the sample database, created the first time\n"
    "  CONNECTION-STRING   e.g. \"Provider=SQLite;Data Source=shop.db\" or \"DSN=korado_pg;UID=u;PWD=p\"\n"
    "  --prompt            choose the data source in the data-link dialog\n"
    "In the window, Ctrl+Enter runs the statement; Help > About describes the connection.\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "korado-gui: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> connection;
    bool prompt = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-V") {
            std::printf("korado-gui %s\n", korado::kVersionText);
            return 0;
        }
        if (arg == "--prompt") {
            prompt = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else if (connection) {
            return Usage("more than one connection given");
        } else {
            connection = arg;
        }
    }
    if (prompt && connection) return Usage("--prompt and a connection exclude each other");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korado-gui"));
    QApplication::setApplicationVersion(QString::fromLatin1(korado::kVersionText));
    korado::apps::UseStateFolderForTheErrorLog();
    int status = 0;
    {
#if KORADO_HAVE_QT_VIEWS
        auto views = korado::qt::InstallQtServices();
#endif
        korado::gui::QueryWindow window;
        window.show();
        if (prompt) {
            window.ConnectByPrompt();
        } else {
            window.ConnectTo(connection.value_or(std::string()));
        }
        status = QApplication::exec();
    }
    // The library's globals hold the last connection object, its error object and the script object;
    // dropping them ends the cycles between them before the process does.
    korado::ReleaseGlobals();
    return status;
}
