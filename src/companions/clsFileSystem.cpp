#include "companions/clsFileSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "korado/platform/companions.h"
#include "korado/platform/services.h"
#include "korado/runtime/registry.h"
#include "runtime/own_file.h"

namespace korado::companions {
namespace {

ClassRegistrar file_registrar(kFile, "", [] { return Ref<Dispatch>(MakeRef<clsFile>()); });
ClassRegistrar file_system_registrar(kFileSystem, "", [] { return Ref<Dispatch>(MakeRef<clsFileSystem>()); });

[[noreturn]] void RaiseFileError(int err, const std::string& path) {
    std::int32_t number = err == EACCES || err == EPERM ? rt::PermissionDenied
                          : err == ENOENT || err == ENOTDIR ? rt::PathNotFound
                                                             : rt::PathFileAccessError;
    RaiseRuntime(number, path + " (" + std::strerror(err) + ")");
}

}  // namespace

void clsFile::Constructor(const std::string& FileName) { file_name_ = FileName; }

std::string clsFile::FullName() const {
    std::error_code ec;
    auto p = std::filesystem::absolute(file_name_, ec);
    return ec ? file_name_ : p.lexically_normal().string();
}

std::string clsFile::Contents() {
    std::ifstream in(file_name_, std::ios::binary);
    if (!in) RaiseFileError(errno ? errno : ENOENT, file_name_);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void clsFile::SetContents(const std::string& text) {
    if (file_name_.empty()) RaiseRuntime(rt::PathNotFound, "(no file name)");
    std::filesystem::path path(file_name_);
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) RaiseFileError(ec.value(), path.parent_path().string());
    const int fd = OpenOwnFile(file_name_, O_TRUNC);
    if (fd < 0) RaiseFileError(errno, file_name_);
    const bool written = WriteFully(fd, text);
    const int error = errno;
    if (::close(fd) != 0 && written) RaiseFileError(errno, file_name_);
    if (!written) RaiseFileError(error, file_name_);
}

const MemberTable* clsFile::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsFile>("Contents")
                                     .Method<&clsFile::Constructor>("Constructor")
                                     .Get<&clsFile::Contents>("Contents")
                                     .Let<&clsFile::SetContents>("Contents")
                                     .Get<&clsFile::FullName>("FullName")
                                     .Build();
    return &t;
}

Ref<Dispatch> clsFileSystem::SaveFile(std::int32_t hWnd, std::int16_t Flags, const std::string& Filter,
                                      const std::string& InitialFolder, const std::string& Title) {
    auto dialog = platform::CurrentFileDialogService();
    if (!dialog) return nullptr;
    auto chosen = dialog->SaveFile({hWnd, Flags, Filter, InitialFolder, Title});
    if (!chosen || chosen->empty()) return nullptr;
    auto file = MakeRef<clsFile>();
    file->Constructor(*chosen);
    return file;
}

const MemberTable* clsFileSystem::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsFileSystem>()
                                     .Method<&clsFileSystem::Constructor>("Constructor")
                                     .Method<&clsFileSystem::SaveFile>("SaveFile")
                                     .Build();
    return &t;
}

}  // namespace korado::companions
