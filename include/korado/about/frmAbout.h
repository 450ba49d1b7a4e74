// The About dialog: what the library tells a user about the database connection of a connection object.
//
// frmAbout is the dialog's form: its controls' contents and its event handlers. A view shows it (the Qt
// dialog of the optional UI library, the console's ABOUT, or none: see FormViewService) and calls the
// handlers when the user acts; the form reads the connection afresh at every activation. There is one
// form for the library (AboutForm), shown without being modal.
//
// Failures of the handlers go to the library's standard error path with module "frmAbout".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "korado/export.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/dispatch.h"

namespace korado::about {

// A control of the form as designed: its place and size in twips (15 to a pixel on the screens the form
// was laid out for).
struct ControlLayout {
    std::string_view name;
    std::string_view kind;  // "label", "text", "list", "button"
    std::string_view caption;
    int left, top, width, height;
};
inline constexpr int kClientWidth = 8640;
inline constexpr int kClientHeight = 7740;
inline constexpr int kTwipsPerPixel = 15;
inline constexpr ControlLayout kLayout[] = {
    {"Label4", "label", "Provider", 240, 240, 1215, 255},
    {"txtProvider", "text", "", 1680, 240, 4455, 285},
    {"Label1", "label", "Provider Name", 240, 600, 1215, 255},
    {"txtProviderName", "text", "", 1680, 600, 4455, 285},
    {"Label2", "label", "Version", 240, 960, 1215, 255},
    {"txtVersion", "text", "", 1680, 960, 2055, 285},
    {"Label3", "label", "Description", 240, 1320, 1215, 255},
    {"txtDescription", "text", "", 1680, 1320, 4455, 285},
    {"lsvProperties", "list", "", 120, 2040, 8415, 4935},
    {"cmdSave", "button", "Save", 120, 7080, 1215, 375},
    {"cmdClose", "button", "Close", 7200, 7080, 1335, 375},
};
// The list's column headings, in order.
inline constexpr std::string_view kListColumns[] = {"Property Name", "Value", "Attribute", "Type"};

// A row of the property list: the property's name, then sub-items 1 to 3.
struct PropertyRow {
    std::string name;
    std::string value;
    std::string attribute;
    std::string type;
};

class frmAbout;

// Shows the form. A view keeps the form alive while it is shown, calls Form_Activate each time its window
// becomes the active one, the click and key handlers as the user acts, and Refresh-es itself from the
// form's read-outs after each of them.
class KORADO_EXPORT FormView {
public:
    virtual ~FormView() = default;
    // Shows the form without waiting for it to close (modeless); showing it again activates it.
    virtual void Show(frmAbout& form) = 0;
    // Closes the window (the form was unloaded).
    virtual void Unload(frmAbout& form) = 0;
    // The window's handle for dialogs opened over it (0 when it has none).
    virtual std::int32_t WindowHandle(const frmAbout& form) const = 0;
};
// The view the library shows its form through. The default has no window: Show activates the form once
// and writes what it shows to standard error. SetFormView returns the view it replaces; null puts the default
// back.
KORADO_EXPORT std::shared_ptr<FormView> SetFormView(std::shared_ptr<FormView> view);
KORADO_EXPORT std::shared_ptr<FormView> CurrentFormView();

class KORADO_EXPORT frmAbout : public Dispatch {
public:
    frmAbout();
    ~frmAbout() override;

    void Constructor(const Ref<ado::Connection>& Connection);
    // Shows the form modeless through the current view.
    void Show();

    // ---- events ----
    void Form_Activate();
    void cmdSave_Click();
    void cmdClose_Click();
    void Form_KeyUp(std::int16_t KeyCode, std::int16_t Shift);
    void cmdClose_KeyUp(std::int16_t KeyCode, std::int16_t Shift);
    void cmdSave_KeyUp(std::int16_t KeyCode, std::int16_t Shift);

    // ---- what the controls show ----
    const std::string& Caption() const noexcept { return m_Caption; }
    const std::string& txtProvider() const noexcept { return m_txtProvider; }
    const std::string& txtProviderName() const noexcept { return m_txtProviderName; }
    const std::string& txtVersion() const noexcept { return m_txtVersion; }
    const std::string& txtDescription() const noexcept { return m_txtDescription; }
    const std::vector<PropertyRow>& lsvProperties() const noexcept { return m_lsvProperties; }
    // Shown by a view, not yet unloaded.
    bool Loaded() const noexcept { return m_Loaded; }

    std::string_view ClassName() const noexcept override { return "frmAbout"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    void m_lsvProperties_populate();
    void m_KeyUp(std::int16_t KeyCode);
    void Unload();

    Ref<ado::Connection> m_Connection;
    std::string m_Caption;
    std::string m_txtProvider;
    std::string m_txtProviderName;
    std::string m_txtVersion;
    std::string m_txtDescription;
    std::vector<PropertyRow> m_lsvProperties;
    bool m_Loaded = false;
};

// The library's one About form.
KORADO_EXPORT Ref<frmAbout> AboutForm();

}  // namespace korado::about
