// The data-link prompt of the console (--prompt, CONNECT --prompt): asks in the terminal for the provider,
// the data source, the user and the password (not echoed on a terminal), tries the connection, and answers
// the library's data-link request with the connection string built from the answers.
#pragma once

#include <optional>
#include <string>

#include "korado/platform/services.h"
#include "line_input.h"

namespace korado::console {

// Appends "key=value;" to `connection_string`, the value quoted when a ";", a quote, a brace or a blank at
// an end would change what it says.
void AppendEntry(std::string& connection_string, const std::string& key, const std::string& value);

class TerminalDataLinkPrompt final : public platform::DataLinkPromptService {
  public:
    // `input`: where the answers are read (standard input); not owned, must outlive the prompt.
    explicit TerminalDataLinkPrompt(LineSource& input) : input_(input) {}

    // The connection string, or nullopt when the user gives up (empty data source, a failed test not
    // retried, the end of the input).
    std::optional<std::string> PromptNew() override;

    // The last string handed to the library, password included.
    const std::optional<std::string>& Answer() const noexcept { return answer_; }

  private:
    std::optional<std::string> Ask(const std::string& question);

    LineSource& input_;
    std::optional<std::string> answer_;
};

// Appends "Key=value;" to a connection string, quoting the value when it holds characters the syntax uses.
void AppendEntry(std::string& connection_string, const std::string& key, const std::string& value);

}  // namespace korado::console
