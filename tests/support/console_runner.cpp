#include "support/console_runner.h"

#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace korado::test {

ConsoleRunner::ConsoleRunner(std::string program) : program_(std::move(program)) {
    const std::string home = dir_.File("home");
    std::filesystem::create_directories(home);
    SetEnv("HOME", home);
    SetEnv("XDG_DATA_HOME", dir_.File("data"));
    SetEnv("XDG_STATE_HOME", dir_.File("state"));
    SetEnv("XDG_CONFIG_HOME", dir_.File("config"));
    SetEnv("KORADO_SAMPLE_DB", SampleDatabase());
}

ConsoleRun ConsoleRunner::Run(const std::vector<std::string>& args, const std::string& input) const {
    static int counter = 0;
    const std::string stem = dir_.File("run" + std::to_string(++counter));
    std::ofstream(stem + ".in", std::ios::binary) << input;
    // Through the shell: the input from a file (a program that stops reading early cannot break a pipe),
    // the environment through env(1), and timeout(1) killing a program that hangs.
    std::string command = "env";
    for (const auto& [n, v] : env_) command += " " + ShellQuote(n + "=" + v);
    command += " timeout -s KILL 120 " + ShellQuote(program_);
    for (const std::string& a : args) command += " " + ShellQuote(a);
    command += " <" + ShellQuote(stem + ".in") + " >" + ShellQuote(stem + ".out") + " 2>" +
               ShellQuote(stem + ".err");
    const int status = std::system(command.c_str());
    ConsoleRun run;
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (run.exit_status == 128 + SIGKILL) ADD_FAILURE() << "korado did not finish within 120 seconds";
    run.out = ReadFile(stem + ".out");
    run.err = ReadFile(stem + ".err");
    return run;
}

bool HasLine(const std::string& text, const std::string& line) {
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (l == line) return true;
    return false;
}

std::optional<std::string> WithoutTypedLines(const ConsoleRun& run, const std::vector<std::string>& typed) {
    std::string screen = run.out;
    for (const std::string& line : typed) {
        const std::size_t echo = screen.find("SQL> " + line + "\n");
        if (echo == std::string::npos) return std::nullopt;
        screen.erase(echo + 5, line.size());
    }
    return screen;
}

}  // namespace korado::test
