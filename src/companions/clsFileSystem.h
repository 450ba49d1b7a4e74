// The default file components: "korFileSystem.clsFile" writes (and reads) a UTF-8 text file, creating
// missing folders; "korFileSystem.clsFileSystem" asks the file-dialog service for a file to save to.
//
// Failures raise the runtime's file errors naming the path: 75 (path/file access error), 70 (permission
// denied), 76 (path not found).
#pragma once

#include <cstdint>
#include <string>

#include "korado/runtime/dispatch.h"

namespace korado::companions {

class clsFile final : public Dispatch {
public:
    void Constructor(const std::string& FileName);
    // Reading gives the file's text; writing replaces the file with the text.
    std::string Contents();
    void SetContents(const std::string& text);
    // The absolute path of the file.
    std::string FullName() const;
    std::string_view ClassName() const noexcept override { return "clsFile"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    std::string file_name_;
};

class clsFileSystem final : public Dispatch {
public:
    void Constructor() {}
    // A clsFile for the path the user chose, or Nothing when no dialog is available or the user cancels.
    Ref<Dispatch> SaveFile(std::int32_t hWnd, std::int16_t Flags, const std::string& Filter,
                           const std::string& InitialFolder, const std::string& Title);
    std::string_view ClassName() const noexcept override { return "clsFileSystem"; }

protected:
    const MemberTable* Members() const noexcept override;
};

}  // namespace korado::companions
