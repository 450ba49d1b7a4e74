// The About form against connections no real provider gives: properties without text, attributes in
// combinations, passwords in other spellings, no properties at all, and saves that are cancelled or fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "dataaccess/providers/scripted/scripted_provider.h"
#include "korado/platform/ado_enums.h"
#include "support/about_form.h"
#include "support/recording_platform.h"
#include "support/session.h"

namespace korado {
namespace {

using about::PropertyRow;
using test::ScopedRecordingFormView;
using test::ScriptedFileDialog;
using test::Session;
using test::StubConnection;

struct Prop {
    std::string name;
    std::int32_t type;
    std::int32_t attributes;
    Variant value;
};

// Every connection a clsADO constructed in its scope makes is a StubConnection ("Stub.1") with `props`, in
// this order.
class StubbedConnections {
  public:
    explicit StubbedConnections(std::vector<Prop> props)
        : override_("ADODB.Connection", [props = std::move(props)] {
              auto c = MakeRef<StubConnection>();
              for (const Prop& p : props) c->properties->Add(p.name, p.type, p.attributes, p.value);
              return Ref<Dispatch>(c);
          }) {}

  private:
    ScopedClassOverride override_;
};

std::vector<std::tuple<std::string, std::string, std::string, std::string>> Cells(
    const std::vector<PropertyRow>& rows) {
    std::vector<std::tuple<std::string, std::string, std::string, std::string>> out;
    for (const PropertyRow& r : rows) out.emplace_back(r.name, r.value, r.attribute, r.type);
    return out;
}

TEST(AboutForm, ListsWhatTheConnectionHasAndStopsAtAValueWithoutText) {
    using ado::adBSTR;
    const Variant null = Variant::Null();
    struct Case {
        const char* what;
        std::vector<Prop> props;
        std::vector<std::tuple<std::string, std::string, std::string, std::string>> rows;
        std::string description;
        bool fails;
    };
    const Case cases[] = {
        {"a provider without a friendly name",
         {{"Provider Name", adBSTR, 512, "stub.so"}, {"Provider Version", adBSTR, 512, "01.02"}},
         {{"Provider Name", "stub.so", "Read", "BSTR"}, {"Provider Version", "01.02", "Read", "BSTR"}},
         "",
         false},
        {"only the name PASSWORD, in any case, is hidden",
         {{"Password", adBSTR, 1536, "a"},
          {"password", adBSTR, 1536, "b"},
          {"Jet OLEDB:Database Password", adBSTR, 1536, "c"},
          {"Password ", adBSTR, 1536, "d"},
          {"Provider Friendly Name", adBSTR, 512, "Stub"}},
         {{"Password", "*****", "Read/Write", "BSTR"},
          {"password", "*****", "Read/Write", "BSTR"},
          {"Jet OLEDB:Database Password", "c", "Read/Write", "BSTR"},
          {"Password ", "d", "Read/Write", "BSTR"},
          {"Provider Friendly Name", "Stub", "Read", "BSTR"}},
         "Stub",
         false},
        {"attributes are whole numbers; type names without field attributes",
         {{"A", 3, 0, 1},
          {"B", 3, 1, 2},
          {"C", 11, 2, true},
          {"D", 2, 1024, 4},
          {"E", 3, 1537, 5},
          {"F", 64, 513, 6},
          {"G", 202, -1, "g"}},
         {{"A", "1", "Not Supported", "Integer"},
          {"B", "2", "Required", "Integer"},
          {"C", "True", "Optional", "Boolean"},
          {"D", "4", "Write", "SmallInt"},
          {"E", "5", "1537", "Integer"},
          {"F", "6", "513", ""},
          {"G", "g", "-1", "VarWChar"}},
         "",
         false},
        // The row in progress keeps its name only; the rows after it are never added.
        {"a Null value",
         {{"First", adBSTR, 512, "one"}, {"Broken", adBSTR, 512, null}, {"Never", adBSTR, 512, "three"}},
         {{"First", "one", "Read", "BSTR"}, {"Broken", "", "", ""}},
         "",
         true},
        {"no properties", {}, {}, "", false},
    };
    for (const Case& c : cases) {
        StubbedConnections stubs(c.props);
        Session s;
        ScopedRecordingFormView view;
        s.ado().About();
        const Ref<about::frmAbout> form = about::AboutForm();
        EXPECT_EQ(view->shown, 1) << c.what;
        EXPECT_EQ(std::tuple(form->Caption(), form->txtProvider(), form->txtDescription()),
                  std::tuple("Tabulon Universal - About the database connection", "Stub.1", c.description))
            << c.what;
        EXPECT_EQ(Cells(form->lsvProperties()), c.rows) << c.what;
        if (c.fails) {
            ASSERT_EQ(s.errors().Reports().size(), 1u) << c.what;
            const auto& r = s.errors().Reports()[0];
            EXPECT_EQ(std::tuple(r.module, r.routine, r.number),
                      std::tuple("frmAbout", "m_lsvProperties_populate", rt::InvalidUseOfNull));
        } else {
            EXPECT_TRUE(s.errors().Reports().empty()) << c.what;
        }
    }
}

TEST(AboutForm, ReadOutsKeepTheirTextUntilTheFormIsUnloaded) {
    StubbedConnections stubs({{"Provider Friendly Name", ado::adBSTR, 512, "First Stub"}});
    Session s;
    ScopedRecordingFormView view;
    s.ado().About();
    const Ref<about::frmAbout> form = about::AboutForm();
    ASSERT_EQ(form->txtDescription(), "First Stub");

    // Another connection whose provider lacks the property: the field shows what it showed.
    auto bare = MakeRef<StubConnection>();
    form->Constructor(bare);
    form->Form_Activate();
    EXPECT_EQ(std::tuple(form->txtDescription(), form->lsvProperties().size()), std::tuple("First Stub", 0u));

    form->cmdClose_Click();
    EXPECT_EQ(std::tuple(view->unloaded, form->Loaded()), std::tuple(1, false));
    form->Show();
    EXPECT_EQ(std::tuple(view->shown, form->txtDescription()), std::tuple(2, ""));
    EXPECT_TRUE(s.errors().Reports().empty());
}

TEST(AboutForm, SaveWritesTheDetailsAsStoredOrNothing) {
    const std::vector<Prop> props = {{"Password", ado::adBSTR, 1536, "s3cret"},
                                     {"Nothing Here", ado::adBSTR, 512, Variant::Null()},
                                     {"Count", ado::adInteger, 1537, 42}};
    test::TempDir dir;
    std::ofstream(dir.File("plain")) << "a file, not a folder";
    struct Case {
        const char* what;
        std::vector<Prop> props;
        std::optional<std::string> answer;
        std::optional<std::string> written;  // nullopt: no file
        std::int32_t failure;                // 0: saved and confirmed
    };
    const Case cases[] = {
        {"values as stored, passwords included, Null as nothing", props, dir.File("a/details.txt"),
         "Provider: Stub.1\r\n\r\nPassword s3cret 1536 8\r\nNothing Here  512 8\r\nCount 42 1537 3\r\n", 0},
        {"no properties", {}, dir.File("empty.txt"), "Provider: Stub.1\r\n\r\n", 0},
        {"cancelled", props, std::nullopt, std::nullopt, 0},
        {"a folder that is a file", props, dir.File("plain/details.txt"), std::nullopt, rt::PathNotFound},
    };
    const std::string program_folder = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    for (const Case& c : cases) {
        StubbedConnections stubs(c.props);
        Session s;
        ScopedRecordingFormView view;
        auto dialog = std::make_shared<ScriptedFileDialog>();
        dialog->answer = c.answer;
        platform::ScopedFileDialog scope(dialog);
        s.ado().About();
        s.errors().Clear();  // the list stops at the Null; the file does not
        about::AboutForm()->cmdSave_Click();

        ASSERT_EQ(dialog->requests.size(), 1u) << c.what;
        const platform::SaveFileRequest& r = dialog->requests[0];
        EXPECT_EQ(std::tuple(r.owner_window, r.flags, r.filter, r.initial_folder, r.title),
                  std::tuple(test::RecordingFormView::kWindowHandle, 0, "", program_folder,
                             "Save Connection Details As"))
            << c.what;
        if (c.written) {
            EXPECT_EQ(test::ReadFile(*c.answer), *c.written) << c.what;
        } else if (c.answer) {
            EXPECT_FALSE(std::filesystem::exists(*c.answer)) << c.what;
        }
        const bool confirmed = c.written.has_value();
        ASSERT_EQ(s.boxes().Shown().size(), confirmed ? 1u : 0u) << c.what;
        if (confirmed) {
            EXPECT_EQ(std::tuple(s.boxes().Shown()[0].text, s.boxes().Shown()[0].title),
                      std::tuple("Details were saved as " + *c.answer, "Tabulon Universal Exception"));
        }
        if (c.failure) {
            ASSERT_EQ(s.errors().Reports().size(), 1u) << c.what;
            EXPECT_EQ(std::tuple(s.errors().Reports()[0].routine, s.errors().Reports()[0].number),
                      std::tuple("cmdSave_Click", c.failure));
        } else {
            EXPECT_TRUE(s.errors().Reports().empty()) << c.what;
        }
    }
}

TEST(AboutForm, WithoutAWindowTheFormIsWrittenToStandardError) {
    StubbedConnections stubs({{"Provider Name", ado::adBSTR, 512, "stub.so"}});
    Session s;
    ::testing::internal::CaptureStderr();
    s.ado().About();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Tabulon Universal - About the database connection\nProvider: Stub.1\nProvider Name: stub.so\n"
              "Version: \nDescription: \n  Provider Name = stub.so (Read, BSTR)\n");
    EXPECT_EQ(about::CurrentFormView()->WindowHandle(*about::AboutForm()), 0);
}

// Through the platform's own connection object: the initialization properties come first, with the
// password the connection string gave.
TEST(AboutForm, ScriptedProviderSession) {
    auto provider = std::make_shared<dataaccess::scripted::ScriptedProvider>();
    provider->SetStandardProperties("Scripted DBMS", "1.0");
    provider->RemoveProperty("Provider Friendly Name");
    provider->SetProperty("Jet OLEDB:Database Password", ado::adBSTR, Variant("dbpw"), 1537);
    dataaccess::scripted::ScopedProvider scoped(provider);
    Session s;
    ASSERT_TRUE(s.Connect("Provider=Scripted;Data Source=x;Password=pw;").ok);
    ScopedRecordingFormView view;
    s.ado().About();
    const Ref<about::frmAbout> form = about::AboutForm();
    EXPECT_EQ(
        std::tuple(form->txtProvider(), form->txtProviderName(), form->txtVersion(), form->txtDescription()),
        std::tuple("Scripted.1", "scripted.so", "01.00.0000", ""));
    std::map<std::string, std::pair<std::string, std::string>> shown;
    for (const PropertyRow& r : form->lsvProperties()) shown[r.name] = {r.value, r.attribute};
    EXPECT_EQ(shown["Password"].first, "*****");
    using Cell = std::pair<std::string, std::string>;
    EXPECT_EQ(shown["Jet OLEDB:Database Password"], Cell("dbpw", "1537"));
    EXPECT_TRUE(s.errors().Reports().empty());
}

}  // namespace
}  // namespace korado
