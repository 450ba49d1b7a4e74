// Files of saved recordsets: written whole or not at all, and read back as one image.
//
// Saving writes into a new temporary file beside the destination and moves it into place only once the
// writer has ended and every byte reached the file, without replacing a file that appeared meanwhile: a
// save that fails for any reason (a row the writer refuses, a full disk, a destination taken) leaves no
// file behind, and never a partial one under the destination's name.
//
// The failures are the persistence provider's ("Microsoft OLEDB Persistence Provider"), numbered as the
// platform's structured storage numbers them. Which numbers the platform's own provider raises was never
// published: they are unconfirmed, chosen so that a host telling "exists" from "no such folder" from "not
// allowed" can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "dataaccess/persistence.h"

namespace korado::dataaccess::persist {

// STG_E_FILENOTFOUND, STG_E_PATHNOTFOUND, STG_E_ACCESSDENIED, STG_E_WRITEFAULT, STG_E_FILEALREADYEXISTS.
inline constexpr std::int32_t kFileNotFound = Hr(0x80030002);
inline constexpr std::int32_t kPathNotFound = Hr(0x80030003);
inline constexpr std::int32_t kAccessDenied = Hr(0x80030005);
inline constexpr std::int32_t kWriteFault = Hr(0x8003001D);
inline constexpr std::int32_t kFileExists = Hr(0x80030050);

// Writes `path` in `format` (adPersistADTG or adPersistXML): `produce` feeds the format's writer.
// Raises kFileExists when `path` exists (before anything is written, and again if it appears while
// writing), kPathNotFound or kAccessDenied when its folder is missing or not writable, kWriteFault when
// the data did not reach the disk, and whatever `produce` raises.
void SaveFile(const std::string& path, std::int32_t format, const std::function<void(RowsetSink&)>& produce);

// A whole file, mapped read-only.
class FileImage {
  public:
    // Raises kFileNotFound when there is no such file, kAccessDenied when it may not be read, and the
    // "not a recordset" failure when it is not a regular file or is empty.
    explicit FileImage(const std::string& path);
    ~FileImage();
    FileImage(const FileImage&) = delete;
    FileImage& operator=(const FileImage&) = delete;

    std::string_view view() const noexcept { return {data_, size_}; }

  private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// True when `path` names something that exists (a file a source text may be the name of).
bool FileExists(const std::string& path);

// Reads an image in either format (by its first bytes) into `sink`; raises the "not a recordset" failure
// for anything else, and the format reader's failures.
void ReadImage(std::string_view image, RowsetSink& sink);

// Raises the persistence provider's failure `number` with `description`.
[[noreturn]] void RaisePersist(std::int32_t number, std::string description);

}  // namespace korado::dataaccess::persist
