// Where the console's lines come from: a terminal (line editing and history through libedit, when the
// console was built with it) or a stream (a pipe, a redirected file, a script given with -f).
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace korado::console {

class LineSource {
  public:
    virtual ~LineSource() = default;
    // The next line without its line break (a CR before the LF is dropped too), or nullopt at the end of
    // the input. `prompt` is shown on a terminal only.
    virtual std::optional<std::string> ReadLine(const std::string& prompt) = 0;
    // Reads a line without echoing it when the source is a terminal (passwords).
    virtual std::optional<std::string> ReadSecret(const std::string& prompt) = 0;
    // Offers a completed line to the history (only an editing terminal keeps one).
    virtual void Remember(const std::string& line) { (void)line; }
    virtual bool IsTerminal() const noexcept { return false; }
};

// Reads a stream it does not own (standard input) or a file it opened (owned: closed with the source).
class StreamSource final : public LineSource {
  public:
    StreamSource(std::FILE* stream, bool owned);
    ~StreamSource() override;
    StreamSource(const StreamSource&) = delete;
    StreamSource& operator=(const StreamSource&) = delete;

    // nullptr when the file cannot be opened (errno says why).
    static std::unique_ptr<StreamSource> Open(const std::string& path);

    std::optional<std::string> ReadLine(const std::string& prompt) override;
    std::optional<std::string> ReadSecret(const std::string& prompt) override;
    bool IsTerminal() const noexcept override;

  private:
    std::FILE* stream_;
    bool owned_;
};

// Standard input as a terminal: line editing, and a history kept in `history_file` (empty: none) across
// sessions. Passwords in the lines it keeps are masked (MaskPasswords), also in lines read back from the
// file; the file is readable by its owner only.
class TerminalSource final : public LineSource {
  public:
    explicit TerminalSource(std::string history_file);
    ~TerminalSource() override;
    TerminalSource(const TerminalSource&) = delete;
    TerminalSource& operator=(const TerminalSource&) = delete;

    std::optional<std::string> ReadLine(const std::string& prompt) override;
    std::optional<std::string> ReadSecret(const std::string& prompt) override;
    void Remember(const std::string& line) override;
    bool IsTerminal() const noexcept override { return true; }

  private:
    void MaskHistory();

    std::string history_file_;
};

// Reads one line from standard input with echo off when it is a terminal; prints the prompt to standard
// output and, after a hidden entry, the line break the user did not see.
std::optional<std::string> ReadHiddenLine(const std::string& prompt);

}  // namespace korado::console
