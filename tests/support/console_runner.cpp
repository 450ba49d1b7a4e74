#include "support/console_runner.h"

#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace korado::test {
namespace {

// `text` as one word of the shell.
std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

ConsoleRunner::ConsoleRunner(std::string program) : program_(std::move(program)) {
    const std::string home = dir_.File("home");
    std::filesystem::create_directories(home);
    SetEnv("HOME", home);
    SetEnv("XDG_DATA_HOME", dir_.File("data"));
    SetEnv("XDG_STATE_HOME", dir_.File("state"));
    SetEnv("XDG_CONFIG_HOME", dir_.File("config"));
    SetEnv("KORADO_SAMPLE_DB", SampleDatabase());
}

void ConsoleRunner::SetEnv(const std::string& name, const std::string& value) {
    for (auto& [n, v] : env_) {
        if (n == name) {
            v = value;
            return;
        }
    }
    env_.emplace_back(name, value);
}

ConsoleRun ConsoleRunner::Run(const std::vector<std::string>& args, const std::string& input) const {
    static int counter = 0;
    const std::string stem = dir_.File("run" + std::to_string(++counter));
    std::ofstream(stem + ".in", std::ios::binary) << input;
    // Through the shell: the input from a file (a program that stops reading early cannot break a pipe),
    // the environment through env(1), and timeout(1) killing a program that hangs.
    std::string command = "env";
    for (const auto& [n, v] : env_) command += " " + Quote(n + "=" + v);
    command += " timeout -s KILL 120 " + Quote(program_);
    for (const std::string& a : args) command += " " + Quote(a);
    command += " <" + Quote(stem + ".in") + " >" + Quote(stem + ".out") + " 2>" + Quote(stem + ".err");
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

}  // namespace korado::test
