#include "line_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "password_mask.h"

#if KORADO_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace korado::console {
namespace {

std::optional<std::string> ReadStreamLine(std::FILE* stream) {
    std::string line;
    int c;
    bool any = false;
    while ((c = std::fgetc(stream)) != EOF) {
        any = true;
        if (c == '\n') break;
        line += static_cast<char>(c);
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

void ShowPrompt(const std::string& prompt) {
    std::fputs(prompt.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
    ShowPrompt(prompt);
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::optional<std::string> line = ReadStreamLine(stdin);
    if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return line;
}

// ---- streams ---------------------------------------------------------------------------------------------

StreamSource::StreamSource(std::FILE* stream, bool owned) : stream_(stream), owned_(owned) {}

StreamSource::~StreamSource() {
    if (owned_ && stream_) std::fclose(stream_);
}

std::unique_ptr<StreamSource> StreamSource::Open(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return nullptr;
    return std::make_unique<StreamSource>(f, true);
}

std::optional<std::string> StreamSource::ReadLine(const std::string& prompt) {
    if (IsTerminal()) ShowPrompt(prompt);
    return ReadStreamLine(stream_);
}

std::optional<std::string> StreamSource::ReadSecret(const std::string& prompt) {
    if (stream_ == stdin) return ReadHiddenLine(prompt);
    return ReadStreamLine(stream_);
}

bool StreamSource::IsTerminal() const noexcept { return isatty(fileno(stream_)) != 0; }

// ---- the terminal ----------------------------------------------------------------------------------------

TerminalSource::TerminalSource(std::string history_file) : history_file_(std::move(history_file)) {
#if KORADO_HAVE_LIBEDIT
    using_history();
    stifle_history(1000);
    if (!history_file_.empty()) {
        read_history(history_file_.c_str());
        MaskHistory();
    }
#endif
}

TerminalSource::~TerminalSource() {
#if KORADO_HAVE_LIBEDIT
    if (!history_file_.empty()) {
        std::error_code ec;
        std::filesystem::path path(history_file_);
        if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
        // The file exists, readable by its owner only, before a line is written to it; a file an older
        // version left readable by others is narrowed too. A symbolic link planted in its place is refused
        // (the history is then not kept), and the lines go to the file just opened, through its descriptor,
        // so that nothing put there between the two opens is written over.
        const int fd = open(history_file_.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        struct stat st {};
        if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            fchmod(fd, 0600);
            write_history(("/proc/self/fd/" + std::to_string(fd)).c_str());
        }
        if (fd >= 0) close(fd);
    }
#endif
}

void TerminalSource::MaskHistory() {
#if KORADO_HAVE_LIBEDIT
    // Lines an older version kept as typed.
    std::vector<std::string> lines;
    bool masked = false;
    for (int i = 0; i < history_length; ++i) {
        const HIST_ENTRY* entry = history_get(history_base + i);
        if (!entry || !entry->line) continue;
        lines.push_back(MaskPasswords(entry->line));
        masked = masked || lines.back() != entry->line;
    }
    if (!masked) return;
    clear_history();
    for (const std::string& line : lines) add_history(MaskPasswords(line).c_str());
#endif
}

std::optional<std::string> TerminalSource::ReadLine(const std::string& prompt) {
#if KORADO_HAVE_LIBEDIT
    char* raw = readline(prompt.c_str());
    if (!raw) return std::nullopt;
    std::string line(raw);
    std::free(raw);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
#else
    ShowPrompt(prompt);
    return ReadStreamLine(stdin);
#endif
}

std::optional<std::string> TerminalSource::ReadSecret(const std::string& prompt) {
    return ReadHiddenLine(prompt);
}

void TerminalSource::Remember(const std::string& line) {
#if KORADO_HAVE_LIBEDIT
    if (line.find_first_not_of(" \t") == std::string::npos) return;
    add_history(MaskPasswords(line).c_str());
#else
    (void)line;
#endif
}

}  // namespace korado::console
