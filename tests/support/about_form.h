// The About form seen by a test: a view that records what the form asks of it, a file dialog that answers
// as scripted, and the checks every real connection must pass.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "korado/about/frmAbout.h"
#include "korado/connection/clsADO.h"
#include "korado/platform/services.h"
#include "support/support.h"

namespace korado::test {

// Activates the form when shown, as a window does when it comes to the front, and counts closes.
struct RecordingFormView final : about::FormView {
    static constexpr std::int32_t kWindowHandle = 0x4711;
    int shown = 0, unloaded = 0;
    void Show(about::frmAbout& form) override { ++shown, form.Form_Activate(); }
    void Unload(about::frmAbout&) override { ++unloaded; }
    std::int32_t WindowHandle(const about::frmAbout&) const override { return kWindowHandle; }
};
using ScopedFormView = platform::ScopedService<about::FormView, &about::SetFormView>;

// Answers every save request with `answer` (nullopt: the user cancels) and keeps the requests.
struct ScriptedFileDialog final : platform::FileDialogService {
    std::optional<std::string> answer;
    std::vector<platform::SaveFileRequest> requests;
    std::optional<std::string> SaveFile(const platform::SaveFileRequest& r) override {
        requests.push_back(r);
        return answer;
    }
};

// On a connected session: About shows the form with the connection's provider and every property, Save
// writes the details file, and Escape closes the form from each of its three controls.
void CheckAboutForm(clsADO& ado, MessageBoxCapture& boxes, ErrorCapture& errors);

}  // namespace korado::test
