#include "korado/about/frmAbout.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <mutex>

#include "dictionary/modCommon.h"
#include "korado/errors/clsADOError.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/platform/companions.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/registry.h"
#include "korado/runtime/strings.h"

namespace korado::about {
namespace {

constexpr std::string_view kModule = "frmAbout";
constexpr int vbKeyEscape = 27;

Site At(std::string_view routine) { return {kModule, routine}; }

// The object behind a reference, as the language reaches it: Nothing fails with 91.
template <class T>
T& Use(const Ref<T>& object) {
    if (!object) RaiseRuntime(rt::ObjectNotSet);
    return *object;
}

// What a user reads in an attribute cell: the platform's attribute values are compared whole, so a
// combination such as required and read/write (1537) shows as its number.
std::string AttributeText(std::int32_t attributes) {
    switch (attributes) {
        case 0:
            return "Not Supported";
        case 1:
            return "Required";
        case 2:
            return "Optional";
        case 512:
            return "Read";
        case 1024:
            return "Write";
        case 1536:
            return "Read/Write";
        default:
            return std::to_string(attributes);
    }
}

// The folder of the file this code was loaded from: the shared library for a host, the program itself
// where the library is linked in.
std::string LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&LibraryFolder), &info) == 0 || !info.dli_fname) return {};
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::canonical(info.dli_fname, ec);
    return (ec ? std::filesystem::path(info.dli_fname) : file).parent_path().string();
}

// Without a window system the form can only be read: it is activated once and its contents written out.
class ErrorStreamView final : public FormView {
  public:
    void Show(frmAbout& form) override {
        form.Form_Activate();
        std::fprintf(stderr, "%s\n", form.Caption().c_str());
        const std::pair<std::string_view, const std::string*> readouts[] = {
            {kLayout[0].caption, &form.txtProvider()},
            {kLayout[2].caption, &form.txtProviderName()},
            {kLayout[4].caption, &form.txtVersion()},
            {kLayout[6].caption, &form.txtDescription()},
        };
        for (const auto& [label, text] : readouts)
            std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(label.size()), label.data(), text->c_str());
        for (const PropertyRow& row : form.lsvProperties())
            std::fprintf(stderr, "  %s = %s (%s, %s)\n", row.name.c_str(), row.value.c_str(),
                         row.attribute.c_str(), row.type.c_str());
        std::fflush(stderr);
    }
    void Unload(frmAbout&) override {}
    std::int32_t WindowHandle(const frmAbout&) const override { return 0; }
};

std::mutex view_mutex;
std::shared_ptr<FormView>& ViewSlot() {
    static std::shared_ptr<FormView> view = std::make_shared<ErrorStreamView>();
    return view;
}

}  // namespace

std::shared_ptr<FormView> SetFormView(std::shared_ptr<FormView> view) {
    std::lock_guard lock(view_mutex);
    if (!view) view = std::make_shared<ErrorStreamView>();
    std::swap(view, ViewSlot());
    return view;
}

std::shared_ptr<FormView> CurrentFormView() {
    std::lock_guard lock(view_mutex);
    return ViewSlot();
}

Ref<frmAbout> AboutForm() {
    if (!g_About) g_About = MakeRef<frmAbout>();
    return g_About;
}

frmAbout::frmAbout() = default;
frmAbout::~frmAbout() = default;

void frmAbout::Constructor(const Ref<ado::Connection>& Connection) {
    Try(At("Constructor"), [&] { m_Connection = Connection; });
}

void frmAbout::Show() {
    std::shared_ptr<FormView> view = CurrentFormView();
    m_Loaded = true;
    view->Show(*this);
}

void frmAbout::Form_Activate() {
    Try(At("Form_Activate"), [&] {
        m_Caption = std::string("Tabulon Universal") + " - About the database connection";
        m_txtProvider = Use(m_Connection).Provider();
        // A provider may lack any of these; its field then keeps what it showed.
        const std::pair<std::string*, std::string_view> readouts[] = {
            {&m_txtProviderName, "Provider Name"},
            {&m_txtVersion, "Provider Version"},
            {&m_txtDescription, "Provider Friendly Name"},
        };
        for (const auto& readout : readouts)
            TryIgnore([&, field = readout.first, name = readout.second] {
                const Ref<ado::Properties> properties = m_Connection->Properties();
                const Ref<ado::Property> property = Use(properties).Item(Variant(std::string(name)));
                *field = CStr(Use(property).Value());
            });
        m_lsvProperties_populate();
    });
}

void frmAbout::m_lsvProperties_populate() {
    Try(At("m_lsvProperties_populate"), [&] {
        m_lsvProperties.clear();
        const Ref<ado::Properties> properties = Use(m_Connection).Properties();
        const std::int32_t count = Use(properties).Count();
        for (std::int32_t i = 0; i <= count - 1; ++i) {
            const Ref<ado::Property> item = properties->Item(Variant(i));
            ado::Property& property = Use(item);
            // The row is in the list before its cells are filled: a cell that fails leaves the row as far as
            // it got.
            PropertyRow& row = m_lsvProperties.emplace_back();
            row.name = property.Name();
            row.value = UCase(row.name) == "PASSWORD" ? std::string("*****") : CStr(property.Value());
            row.attribute = AttributeText(property.Attributes());
            row.type = DataTypeDescription(property.Type());
        }
    });
}

void frmAbout::cmdSave_Click() {
    Try(At("cmdSave_Click"), [&] {
        const Variant file_system(CreateObject(companions::kFileSystem));
        CallMethod(file_system, "Constructor");
        const Variant file =
            CallMethod(file_system, "SaveFile", CurrentFormView()->WindowHandle(*this), std::int16_t{0},
                       std::string(), LibraryFolder(), std::string("Save Connection Details As"));
        if (file.IsNothing() || file.IsEmpty()) return;

        // Held here: the dialog the user answered may have let another Constructor call through.
        const Ref<ado::Connection> held = m_Connection;
        ado::Connection& connection = Use(held);
        std::string text = "Provider: " + connection.Provider() + "\r\n\r\n";
        const Ref<ado::Properties> properties = connection.Properties();
        const std::int32_t count = Use(properties).Count();
        for (std::int32_t i = 0; i <= count - 1; ++i) {
            const Ref<ado::Property> item = properties->Item(Variant(i));
            ado::Property& property = Use(item);
            // Written as stored, passwords included; a Null joins as nothing.
            const Variant value = property.Value();
            text += property.Name() + " " + (value.IsNull() ? std::string() : CStr(value)) + " " +
                    std::to_string(property.Attributes()) + " " + std::to_string(property.Type()) + "\r\n";
        }
        LetProperty(file, "Contents", text);

        Use(g_ADOError)
            .Exception("Details were saved as " + CStr(GetProperty(file, "FullName")), GeneralException);
    });
}

void frmAbout::cmdClose_Click() {
    Try(At("cmdClose_Click"), [&] { Unload(); });
}

void frmAbout::m_KeyUp(std::int16_t KeyCode) {
    Try(At("m_KeyUp"), [&] {
        if (KeyCode == vbKeyEscape) Unload();
    });
}

void frmAbout::Form_KeyUp(std::int16_t KeyCode, std::int16_t) {
    Try(At("Form_KeyUp"), [&] { m_KeyUp(KeyCode); });
}

void frmAbout::cmdClose_KeyUp(std::int16_t KeyCode, std::int16_t) {
    Try(At("cmdClose_KeyUp"), [&] { m_KeyUp(KeyCode); });
}

void frmAbout::cmdSave_KeyUp(std::int16_t KeyCode, std::int16_t) {
    Try(At("cmdSave_KeyUp"), [&] { m_KeyUp(KeyCode); });
}

void frmAbout::Unload() {
    if (!m_Loaded) return;
    m_Loaded = false;
    // Unloading discards the controls; a later Show starts from empty ones. The connection stays until the
    // next Constructor.
    m_Caption.clear();
    m_txtProvider.clear();
    m_txtProviderName.clear();
    m_txtVersion.clear();
    m_txtDescription.clear();
    m_lsvProperties.clear();
    CurrentFormView()->Unload(*this);
}

const MemberTable* frmAbout::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<frmAbout>()
                                     .Method<&frmAbout::Constructor>("Constructor")
                                     .Method<&frmAbout::Show>("Show")
                                     .Method<&frmAbout::Form_Activate>("Form_Activate")
                                     .Method<&frmAbout::cmdSave_Click>("cmdSave_Click")
                                     .Method<&frmAbout::cmdClose_Click>("cmdClose_Click")
                                     .Method<&frmAbout::Form_KeyUp>("Form_KeyUp")
                                     .Method<&frmAbout::cmdClose_KeyUp>("cmdClose_KeyUp")
                                     .Method<&frmAbout::cmdSave_KeyUp>("cmdSave_KeyUp")
                                     .Get<&frmAbout::Caption>("Caption")
                                     .Get<&frmAbout::txtProvider>("txtProvider")
                                     .Get<&frmAbout::txtProviderName>("txtProviderName")
                                     .Get<&frmAbout::txtVersion>("txtVersion")
                                     .Get<&frmAbout::txtDescription>("txtDescription")
                                     .Build();
    return &t;
}

}  // namespace korado::about
