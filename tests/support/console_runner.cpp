#include "support/console_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace korado::test {
namespace {

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
    ConsoleRun run;
    static int counter = 0;
    const std::string stem = dir_.File("run" + std::to_string(++counter));
    const std::string out_path = stem + ".out", err_path = stem + ".err";

    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& [n, v] : env_) replaced = replaced || n == name;
        if (!replaced) env_text.push_back(entry);
    }
    for (const auto& [n, v] : env_) env_text.push_back(n + "=" + v);
    std::vector<char*> envp;
    for (std::string& s : env_text) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_text = {program_};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argv_text) argv.push_back(s.data());
    argv.push_back(nullptr);

    int in_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in_pipe[0]);
    if (rc != 0) {
        close(in_pipe[1]);
        ADD_FAILURE() << "cannot start " << program_ << ": " << std::strerror(rc);
        return run;
    }

    // A program that exits before reading all of its input must not take the test down with SIGPIPE.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    for (std::size_t done = 0; done < input.size();) {
        const ssize_t n = write(in_pipe[1], input.data() + done, input.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    close(in_pipe[1]);
    sigaction(SIGPIPE, &previous, nullptr);

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            ADD_FAILURE() << "waitpid: " << std::strerror(errno);
            return run;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "korado did not finish within 120 seconds";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadFile(out_path);
    run.err = ReadFile(err_path);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
    for (const std::string& l : Lines(text))
        if (l == line) return true;
    return false;
}

}  // namespace korado::test
