#include "runtime/own_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace korado {

int OpenOwnFile(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool WriteFully(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace korado
