// The one way the library opens a file it writes for the user (the error log, saved result sets, the
// About details): created with mode 0666 less the user's umask, never widened afterwards, and never
// through a symbolic link. A link planted where the file goes, in a shared or world-writable folder, would
// otherwise make the library append to or truncate whatever the link points at with the user's rights;
// O_NOFOLLOW refuses it (ELOOP) and the caller fails as it does for any file it cannot open.
#pragma once

#include <string>
#include <string_view>

namespace korado {

// Opens `path` write-only, creating it, with `flags` added (O_APPEND, O_TRUNC or O_EXCL), close-on-exec.
// Returns the descriptor, or -1 with errno set.
int OpenOwnFile(const std::string& path, int flags);

// Writes all of `data` to `fd`, going on after a signal's interruption; false with errno set when a write
// failed.
bool WriteFully(int fd, std::string_view data);

}  // namespace korado
