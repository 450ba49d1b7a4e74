#include "dataaccess/persist_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ostream>
#include <random>
#include <streambuf>
#include <vector>

#include "korado/platform/ado_enums.h"
#include "runtime/own_file.h"

namespace korado::dataaccess::persist {
namespace {

// A stream buffer over a file descriptor that remembers whether a write failed, so that a save can tell a
// complete file from one the disk cut short.
class FileBuffer final : public std::streambuf {
  public:
    explicit FileBuffer(int fd) : fd_(fd), buffer_(1 << 16) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    bool failed() const noexcept { return failed_; }

  protected:
    int_type overflow(int_type ch) override {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        // A piece larger than the buffer goes straight to the file rather than through it.
        if (n > epptr() - pptr()) {
            if (!Drain()) return 0;
            if (n >= static_cast<std::streamsize>(buffer_.size()))
                return WriteAll(s, static_cast<std::size_t>(n)) ? n : 0;
        }
        traits_type::copy(pptr(), s, static_cast<std::size_t>(n));
        pbump(static_cast<int>(n));
        return n;
    }
    int sync() override { return Drain() ? 0 : -1; }

  private:
    bool Drain() {
        const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return WriteAll(buffer_.data(), n);
    }
    bool WriteAll(const char* data, std::size_t n) {
        while (n > 0 && !failed_) {
            const ssize_t written = ::write(fd_, data, n);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                failed_ = true;
                break;
            }
            data += written;
            n -= static_cast<std::size_t>(written);
        }
        return !failed_;
    }

    int fd_;
    std::vector<char> buffer_;
    bool failed_ = false;
};

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void RaiseFolderFailure(int error, const std::string& path) {
    if (error == EACCES || error == EPERM || error == EROFS) RaisePersist(kAccessDenied, "Access Denied.");
    if (error == ENOENT || error == ENOTDIR)
        RaisePersist(kPathNotFound, "The path " + FolderOf(path) + " could not be found.");
    RaisePersist(hr::E_FAIL, "File could not be opened.");
}

[[noreturn]] void RaiseExists(const std::string& path) {
    RaisePersist(kFileExists, path + " already exists.");
}

// A new file beside `path` that no other writer can have opened.
int CreateTemporary(const std::string& path, std::string& name) {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed = std::random_device{}();
    const std::string folder = FolderOf(path);
    for (int attempt = 0; attempt < 64; ++attempt) {
        char suffix[32];
        std::snprintf(
            suffix, sizeof suffix, "%08llx%04llx",
            static_cast<unsigned long long>((seed ^ static_cast<std::uint64_t>(::getpid())) & 0xFFFFFFFF),
            static_cast<unsigned long long>(counter.fetch_add(1) & 0xFFFF));
        name = folder + "/.korado-save-" + suffix;
        const int fd = OpenOwnFile(name, O_EXCL);
        if (fd >= 0) return fd;
        if (errno != EEXIST) RaiseFolderFailure(errno, path);
    }
    RaisePersist(hr::E_FAIL, "File could not be opened.");
}

// Moves the finished file to `path` unless something is there already.
void MoveIntoPlace(const std::string& from, const std::string& path) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno == EEXIST) RaiseExists(path);
    if (errno != EINVAL && errno != ENOSYS) RaiseFolderFailure(errno, path);
    // A file system that cannot refuse to replace in a rename: a hard link refuses just the same.
    if (::link(from.c_str(), path.c_str()) != 0) {
        if (errno == EEXIST) RaiseExists(path);
        RaiseFolderFailure(errno, path);
    }
    ::unlink(from.c_str());
}

}  // namespace

void RaisePersist(std::int32_t number, std::string description) {
    Diagnostic d;
    d.number = number;
    d.source = kPersistenceProvider;
    d.description = std::move(description);
    throw ProviderError({std::move(d)});
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void SaveFile(const std::string& path, std::int32_t format, const std::function<void(RowsetSink&)>& produce) {
    // Checked first too, so that a save onto an existing file fails before writing a million rows.
    if (FileExists(path)) RaiseExists(path);
    std::string temporary;
    int fd = CreateTemporary(path, temporary);
    try {
        FileBuffer buffer(fd);
        {
            std::ostream out(&buffer);
            std::unique_ptr<RowsetSink> writer =
                format == ado::adPersistXML ? MakeXmlWriter(out) : MakeAdtgWriter(out);
            produce(*writer);
            out.flush();
            if (!out || buffer.failed())
                RaisePersist(kWriteFault, "A disk error occurred during a write operation.");
        }
        const int closed = ::close(fd);
        fd = -1;
        if (closed != 0) RaisePersist(kWriteFault, "A disk error occurred during a write operation.");
        MoveIntoPlace(temporary, path);
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
}

FileImage::FileImage(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) RaisePersist(kAccessDenied, "Access Denied.");
        RaisePersist(kFileNotFound, path + " could not be found.");
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular || st.st_size <= 0 || static_cast<std::uint64_t>(st.st_size) > SIZE_MAX) {
        ::close(fd);
        RaisePersist(hr::E_FAIL, kNotARecordset);
    }
    size_ = static_cast<std::size_t>(st.st_size);
    void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED) RaisePersist(hr::E_FAIL, "File could not be opened.");
    ::madvise(mapped, size_, MADV_SEQUENTIAL);
    data_ = static_cast<const char*>(mapped);
}

FileImage::~FileImage() {
    if (data_) ::munmap(const_cast<char*>(data_), size_);
}

void ReadImage(std::string_view image, RowsetSink& sink) {
    switch (DetectFormat(image)) {
        case ado::adPersistADTG:
            ReadAdtg(image, sink);
            return;
        case ado::adPersistXML:
            ReadXml(image, sink);
            return;
        default:
            RaisePersist(hr::E_FAIL, kNotARecordset);
    }
}

}  // namespace korado::dataaccess::persist
