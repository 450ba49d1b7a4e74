// ConsoleRunner::RunInTerminal: the console on a pseudo-terminal, where it edits lines and keeps a history.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "support/console_runner.h"

extern char** environ;

namespace korado::test {

ConsoleRun ConsoleRunner::RunInTerminal(const std::vector<std::string>& args,
                                        const std::vector<std::string>& lines,
                                        const std::string& prompt) const {
    ConsoleRun run;
    std::map<std::string, std::string> env = env_;
    env["TERM"] = "dumb";
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (!env.contains(entry.substr(0, entry.find('=')))) env_text.push_back(entry);
    }
    for (const auto& [n, v] : env) env_text.push_back(n + "=" + v);
    std::vector<char*> envp;
    for (std::string& s : env_text) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_text = {program_};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argv_text) argv.push_back(s.data());
    argv.push_back(nullptr);

    // Wide enough that no typed line wraps, which would split its echo.
    winsize size{50, 1000, 0, 0};
    int master = -1;
    // Only the program holds the terminal, so that reading it ends when the program does.
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        execve(program_.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        return run;
    }

    std::string shown;
    std::size_t next = 0, typed_at = 0;
    std::optional<std::chrono::steady_clock::time_point> prompted_at;
    bool exited = false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char buf[4096];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) {
                shown.append(buf, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (exited) {
                break;  // EIO: the program and its terminal are gone, and everything it showed was read
            }
        } else if (exited) {
            break;
        }
        // Line editing shows its prompt before it turns the terminal's own echo off: a line typed in between
        // would be echoed twice. So a line is typed once the terminal reads raw, or (a console built without
        // line editing) a second after the prompt.
        const bool prompted = next < lines.size() && shown.find(prompt, typed_at) != std::string::npos;
        if (prompted && !prompted_at) prompted_at = std::chrono::steady_clock::now();
        termios mode{};
        const bool raw = tcgetattr(master, &mode) == 0 && (mode.c_lflag & ECHO) == 0;
        if (prompted && (raw || std::chrono::steady_clock::now() - *prompted_at > std::chrono::seconds(1))) {
            prompted_at.reset();
            const std::string typed = lines[next++] + "\r";
            if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
                ADD_FAILURE() << "cannot type into the terminal: " << std::strerror(errno);
            typed_at = shown.size();
        }
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
        if (!exited && std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            exited = true;
            ADD_FAILURE() << "korado did not finish within 120 seconds; it showed:\n" << shown;
        }
    }
    close(master);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    for (std::size_t at = shown.find("\r\n"); at != std::string::npos; at = shown.find("\r\n", at))
        shown.erase(at, 1);
    run.out = shown;
    return run;
}

}  // namespace korado::test
