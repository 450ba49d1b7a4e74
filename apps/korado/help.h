// The console's documentation: `korado --help` prints all of it, HELP inside a session the commands.
#pragma once

#include <string>
#include <string_view>

namespace korado::console {

extern const char* const kUsageText;     // the command line
extern const char* const kCommandsText;  // statements, commands, output and exit status

// The HELP entry of one command ("DESC[RIBE]", "LIST", ...): the entry whose first line starts with it.
std::string CommandHelp(std::string_view command);

}  // namespace korado::console
