#include "korado/platform/services.h"

#include <cstdio>
#include <string>
#include <utility>

namespace korado::platform {
namespace {

// Without a user interface, a message is written where an operator will see it.
class StandardErrorMessageBox final : public MessageBoxService {
public:
    int Show(std::string_view text, std::string_view title, int) override {
        std::string out;
        out.append(title).append("\n").append(text).append("\n");
        std::fwrite(out.data(), 1, out.size(), stderr);
        std::fflush(stderr);
        return vbOK;
    }
};

std::shared_ptr<MessageBoxService>& MessageBoxSlot() {
    static auto* slot = new std::shared_ptr<MessageBoxService>(std::make_shared<StandardErrorMessageBox>());
    return *slot;
}
std::shared_ptr<FileDialogService>& FileDialogSlot() {
    static auto* slot = new std::shared_ptr<FileDialogService>();
    return *slot;
}
std::shared_ptr<DataLinkPromptService>& PromptSlot() {
    static auto* slot = new std::shared_ptr<DataLinkPromptService>();
    return *slot;
}

}  // namespace

int MsgBox(std::string_view text, int style, std::string_view title) {
    std::shared_ptr<MessageBoxService> service = MessageBoxSlot();
    if (!service) service = std::make_shared<StandardErrorMessageBox>();
    return service->Show(text, title, style);
}

std::shared_ptr<MessageBoxService> SetMessageBoxService(std::shared_ptr<MessageBoxService> service) {
    if (!service) service = std::make_shared<StandardErrorMessageBox>();
    return std::exchange(MessageBoxSlot(), std::move(service));
}
std::shared_ptr<MessageBoxService> CurrentMessageBoxService() { return MessageBoxSlot(); }

std::shared_ptr<FileDialogService> SetFileDialogService(std::shared_ptr<FileDialogService> service) {
    return std::exchange(FileDialogSlot(), std::move(service));
}
std::shared_ptr<FileDialogService> CurrentFileDialogService() { return FileDialogSlot(); }

std::shared_ptr<DataLinkPromptService> SetDataLinkPromptService(std::shared_ptr<DataLinkPromptService> service) {
    return std::exchange(PromptSlot(), std::move(service));
}
std::shared_ptr<DataLinkPromptService> CurrentDataLinkPromptService() { return PromptSlot(); }

}  // namespace korado::platform
