// The console's documentation: `korado --help` prints all of it, HELP inside a session the commands.
#pragma once

namespace korado::console {

extern const char* const kUsageText;     // the command line
extern const char* const kCommandsText;  // statements, commands, output and exit status

}  // namespace korado::console
