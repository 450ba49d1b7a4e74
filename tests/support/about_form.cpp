#include "support/about_form.h"

#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"

namespace korado::test {

void CheckAboutForm(clsADO& ado, MessageBoxCapture& boxes, ErrorCapture& errors) {
    auto view = std::make_shared<RecordingFormView>();
    ScopedFormView scope(view);
    boxes.Clear();
    errors.Clear();
    ado.About();
    const Ref<about::frmAbout> form = about::AboutForm();
    ado::Connection& connection = *ado.Connection();
    ASSERT_TRUE(view->shown == 1 && form->Loaded());
    EXPECT_EQ(std::tuple(form->Caption(), form->txtProvider(), form->txtProviderName(), form->txtVersion(),
                         form->txtDescription()),
              std::tuple("Tabulon Universal - About the database connection", connection.Provider(),
                         ado.ConnectionProperty("Provider Name"), ado.ConnectionProperty("Provider Version"),
                         ado.ConnectionProperty("Provider Friendly Name")));

    // The file's layout, built from the connection's properties; the list shows the same ones.
    Ref<ado::Properties> properties = connection.Properties();
    std::string expected = "Provider: " + connection.Provider() + "\r\n\r\n";
    ASSERT_EQ(form->lsvProperties().size(), static_cast<std::size_t>(properties->Count()));
    for (std::int32_t i = 0; i < properties->Count(); ++i) {
        Ref<ado::Property> p = properties->Item(Variant(i));
        const std::string value = p->Value().IsNull() ? "" : CStr(p->Value());
        expected += p->Name() + ' ' + value + ' ' + std::to_string(p->Attributes()) + ' ' +
                    std::to_string(p->Type()) + "\r\n";
        const about::PropertyRow& row = form->lsvProperties()[static_cast<std::size_t>(i)];
        EXPECT_EQ(std::tuple(row.name, row.value),
                  std::tuple(p->Name(), p->Name() == "Password" ? "*****" : value));
    }

    TempDir dir;
    auto dialog = std::make_shared<ScriptedFileDialog>();
    dialog->answer = dir.File("details.txt");
    {
        platform::ScopedFileDialog dialog_scope(dialog);
        form->cmdSave_Click();
    }
    EXPECT_EQ(ReadFile(dir.File("details.txt")), expected);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Details were saved as " + dir.File("details.txt"));

    // Releasing a key on any of the three controls: Escape closes the form, any other key leaves it open.
    using Handler = void (about::frmAbout::*)(std::int16_t, std::int16_t);
    for (Handler key_up :
         {&about::frmAbout::Form_KeyUp, &about::frmAbout::cmdClose_KeyUp, &about::frmAbout::cmdSave_KeyUp}) {
        ado.About();
        const int closed = view->unloaded;
        ((*form).*key_up)(13, 0);
        ((*form).*key_up)(0x1B + 0x100, 0);  // Escape only in its low byte
        EXPECT_TRUE(form->Loaded() && view->unloaded == closed);
        ((*form).*key_up)(27, 1);  // Shift held: only the key code counts
        EXPECT_TRUE(!form->Loaded() && view->unloaded == closed + 1 && form->txtProvider().empty());
    }
    EXPECT_TRUE(errors.Reports().empty());
}

}  // namespace korado::test
