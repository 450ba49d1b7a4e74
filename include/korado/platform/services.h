// User-interface services that the library asks for and a host supplies: the message box, the file-save
// dialog and the data-link prompt. Defaults suit a process without a user interface: the message box
// writes the title and text to standard error and returns OK, the dialogs answer "cancelled". A console
// host, a Qt UI or a test replaces them; a Scoped* helper puts the earlier one back.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "korado/export.h"

namespace korado::platform {

// The language's MsgBox styles and results that the library uses.
inline constexpr int vbOKOnly = 0;
inline constexpr int vbInformation = 64;
inline constexpr int vbOK = 1;

class KORADO_EXPORT MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    // Shows a modal message; returns the button pressed (vbOK for an information box).
    virtual int Show(std::string_view text, std::string_view title, int style) = 0;
};

// Shows a message through the current service: an information box with an OK button returns vbOK.
KORADO_EXPORT int MsgBox(std::string_view text, int style, std::string_view title);
KORADO_EXPORT std::shared_ptr<MessageBoxService> SetMessageBoxService(std::shared_ptr<MessageBoxService> service);
KORADO_EXPORT std::shared_ptr<MessageBoxService> CurrentMessageBoxService();

// Arguments of a file-save request, as the About dialog passes them to the file-system component.
struct SaveFileRequest {
    long owner_window = 0;
    int flags = 0;
    std::string filter;
    std::string initial_folder;
    std::string title;
};

class KORADO_EXPORT FileDialogService {
public:
    virtual ~FileDialogService() = default;
    // The chosen path, or nullopt when the user cancels.
    virtual std::optional<std::string> SaveFile(const SaveFileRequest& request) = 0;
};
KORADO_EXPORT std::shared_ptr<FileDialogService> SetFileDialogService(std::shared_ptr<FileDialogService> service);
KORADO_EXPORT std::shared_ptr<FileDialogService> CurrentFileDialogService();  // null: no dialog available

// The data-link dialog: asks the user for a data source and returns its connection string (which may
// include a password), or nullopt when the user cancels.
class KORADO_EXPORT DataLinkPromptService {
public:
    virtual ~DataLinkPromptService() = default;
    virtual std::optional<std::string> PromptNew() = 0;
};
KORADO_EXPORT std::shared_ptr<DataLinkPromptService> SetDataLinkPromptService(
    std::shared_ptr<DataLinkPromptService> service);
KORADO_EXPORT std::shared_ptr<DataLinkPromptService> CurrentDataLinkPromptService();  // null: none

// Replaces a service for the lifetime of the guard.
template <class Service, auto SetFn>
class ScopedService {
public:
    explicit ScopedService(std::shared_ptr<Service> s) : previous_(SetFn(std::move(s))) {}
    ~ScopedService() { SetFn(std::move(previous_)); }
    ScopedService(const ScopedService&) = delete;
    ScopedService& operator=(const ScopedService&) = delete;

private:
    std::shared_ptr<Service> previous_;
};
using ScopedMessageBox = ScopedService<MessageBoxService, &SetMessageBoxService>;
using ScopedFileDialog = ScopedService<FileDialogService, &SetFileDialogService>;
using ScopedDataLinkPrompt = ScopedService<DataLinkPromptService, &SetDataLinkPromptService>;

}  // namespace korado::platform
