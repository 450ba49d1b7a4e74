#include "support/about_form.h"

#include <filesystem>

#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"

namespace korado::test {

std::string ExpectedDetailsFile(ado::Connection& connection) {
    std::string text = "Provider: " + connection.Provider() + "\r\n\r\n";
    Ref<ado::Properties> properties = connection.Properties();
    for (std::int32_t i = 0; i < properties->Count(); ++i) {
        Ref<ado::Property> p = properties->Item(Variant(i));
        const Variant value = p->Value();
        text += p->Name() + ' ' + (value.IsNull() ? "" : CStr(value)) + ' ' +
                std::to_string(p->Attributes()) + ' ' + std::to_string(p->Type()) + "\r\n";
    }
    return text;
}

void CheckAboutForm(clsADO& ado, MessageBoxCapture& boxes, ErrorCapture& errors) {
    ScopedRecordingFormView view;
    boxes.Clear();
    errors.Clear();
    ado.About();
    const Ref<about::frmAbout> form = about::AboutForm();
    ado::Connection& connection = *ado.Connection();
    ASSERT_EQ(view->shown, 1);
    EXPECT_TRUE(form->Loaded());
    EXPECT_EQ(form->Caption(), "Tabulon Universal - About the database connection");
    EXPECT_EQ(form->txtProvider(), connection.Provider());
    EXPECT_EQ(form->txtProviderName(), ado.ConnectionProperty("Provider Name"));
    EXPECT_EQ(form->txtVersion(), ado.ConnectionProperty("Provider Version"));
    EXPECT_EQ(form->txtDescription(), ado.ConnectionProperty("Provider Friendly Name"));
    EXPECT_FALSE(form->txtDescription().empty());

    Ref<ado::Properties> properties = connection.Properties();
    ASSERT_EQ(form->lsvProperties().size(), static_cast<std::size_t>(properties->Count()));
    bool masked = false;
    for (std::size_t i = 0; i < form->lsvProperties().size(); ++i) {
        const about::PropertyRow& row = form->lsvProperties()[i];
        EXPECT_EQ(row.name, properties->Item(Variant(static_cast<std::int32_t>(i)))->Name());
        if (UCase(row.name) == "PASSWORD") masked = row.value == "*****";
        EXPECT_FALSE(row.attribute.empty()) << row.name;
    }
    EXPECT_TRUE(masked) << "the connection's Password is listed and hidden";

    TempDir dir;
    auto dialog = std::make_shared<ScriptedFileDialog>();
    dialog->answer = dir.File("details.txt");
    {
        platform::ScopedFileDialog scope(dialog);
        form->cmdSave_Click();
    }
    EXPECT_EQ(ReadFile(dir.File("details.txt")), ExpectedDetailsFile(connection));
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Details were saved as " + dir.File("details.txt"));

    // Releasing a key on any of the three controls: Escape closes the form, any other key leaves it open.
    using Handler = void (about::frmAbout::*)(std::int16_t, std::int16_t);
    for (Handler key_up :
         {&about::frmAbout::Form_KeyUp, &about::frmAbout::cmdClose_KeyUp, &about::frmAbout::cmdSave_KeyUp}) {
        ado.About();
        const int closed = view->unloaded;
        ((*form).*key_up)(13, 0);
        ((*form).*key_up)(0x1B + 0x100, 0);  // a code that is Escape only in its low byte
        EXPECT_TRUE(form->Loaded() && view->unloaded == closed);
        ((*form).*key_up)(27, 1);  // Shift held: only the key code counts
        EXPECT_EQ(view->unloaded, closed + 1);
        EXPECT_FALSE(form->Loaded());
        EXPECT_TRUE(form->txtProvider().empty());
    }
    EXPECT_TRUE(errors.Reports().empty());
}

}  // namespace korado::test
