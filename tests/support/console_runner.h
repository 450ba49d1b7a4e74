// Driving the console program (korado) as a user's shell does: arguments, text on standard input, and an
// environment whose home, data and state folders are a fresh temporary folder, so that a run never
// touches the real user's sample database, history or error log.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/support.h"

namespace korado::test {

struct ConsoleRun {
    int exit_status = -1;  // the program's exit status; 128 + signal when a signal ended it
    std::string out;       // standard output
    std::string err;       // standard error
    // Both, for failure messages.
    std::string Transcript() const { return "---- stdout ----\n" + out + "---- stderr ----\n" + err; }
};

class ConsoleRunner {
  public:
    // `program`: the korado executable. The environment is the test's own with HOME, XDG_DATA_HOME,
    // XDG_STATE_HOME and XDG_CONFIG_HOME set below a new temporary folder and KORADO_SAMPLE_DB pointing
    // into it.
    explicit ConsoleRunner(std::string program);

    // Sets (or replaces) one environment variable of the runs.
    void SetEnv(const std::string& name, const std::string& value) { env_[name] = value; }
    // Runs the program with `args` and `input` as its standard input, and waits (at most 120 seconds; then
    // the program is killed and the run fails).
    ConsoleRun Run(const std::vector<std::string>& args, const std::string& input = {}) const;

    // Runs the program with `args` on a new pseudo-terminal (its standard input, output and error), as at a
    // user's terminal: each of `lines` is typed once the program shows `prompt` after the previous one, and
    // `out` is everything the terminal showed, the typed lines' echo included, with "\n" for "\r\n"; `err`
    // stays empty. TERM is "dumb", so that line editing echoes a typed line as plain text.
    ConsoleRun RunInTerminal(const std::vector<std::string>& args, const std::vector<std::string>& lines,
                             const std::string& prompt = "SQL> ") const;

    const TempDir& Dir() const { return dir_; }
    std::string SampleDatabase() const { return dir_.File("sample.db"); }

  private:
    std::string program_;
    TempDir dir_;
    std::map<std::string, std::string> env_;
};

// True when `text` has a line equal to `line`.
bool HasLine(const std::string& text, const std::string& line);
// What a terminal run showed without the typed lines' echo ("SQL> " kept); nullopt when a line's echo is
// missing.
std::optional<std::string> WithoutTypedLines(const ConsoleRun& run, const std::vector<std::string>& typed);

}  // namespace korado::test
