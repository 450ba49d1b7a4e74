// The About form against connections no real provider gives: properties without text, attributes in
// combinations, passwords in other spellings, no properties at all, and saves that are cancelled or fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "dataaccess/providers/scripted/scripted_provider.h"
#include "support/about_form.h"
#include "support/recording_platform.h"
#include "support/session.h"

namespace korado {
namespace {

using test::Session;
using Row = std::tuple<std::string, std::string, std::string, std::string>;
constexpr std::int32_t kText = ado::adBSTR;

struct Prop {
    std::string name;
    std::int32_t type, attributes;
    Variant value;
};

// A clsADO constructed in its scope holds a StubConnection ("Stub.1") with these properties, in order.
struct StubbedConnections {
    explicit StubbedConnections(std::vector<Prop> props)
        : scope("ADODB.Connection", [props = std::move(props)] {
              auto c = MakeRef<test::StubConnection>();
              for (const Prop& p : props) c->properties->Add(p.name, p.type, p.attributes, p.value);
              return Ref<Dispatch>(c);
          }) {}
    ScopedClassOverride scope;
};

// "module.routine number;" for each failure handed to the error component.
std::string Reports(Session& s) {
    std::string out;
    for (const auto& r : s.errors().Reports())
        out += r.module + "." + r.routine + " " + std::to_string(r.number) + ";";
    return out;
}

TEST(AboutForm, ListsWhatTheConnectionHasAndStopsAtAValueWithoutText) {
    struct Case {
        const char* what;
        std::vector<Prop> props;
        std::vector<Row> rows;
        bool fails;
    };
    const Case cases[] = {
        {"no friendly name; only the name PASSWORD, in any case, is hidden",
         {{"Provider Name", kText, 512, "stub.so"},
          {"password", kText, 1536, "b"},
          {"Jet OLEDB:Database Password", kText, 1536, "c"}},
         {{"Provider Name", "stub.so", "Read", "BSTR"},
          {"password", "*****", "Read/Write", "BSTR"},
          {"Jet OLEDB:Database Password", "c", "Read/Write", "BSTR"}},
         false},
        {"attributes are whole numbers; type names take no field attributes",
         {{"A", 3, 1537, 5}, {"B", 64, 0, 6}, {"C", 11, 1, true}},
         {{"A", "5", "1537", "Integer"},
          {"B", "6", "Not Supported", ""},
          {"C", "True", "Required", "Boolean"}},
         false},
        // The row in progress keeps its name only; the rows after it are never added.
        {"a Null value",
         {{"First", kText, 512, "one"}, {"Broken", kText, 512, Variant::Null()}, {"Never", kText, 512, "x"}},
         {{"First", "one", "Read", "BSTR"}, {"Broken", "", "", ""}},
         true},
        {"no properties", {}, {}, false},
    };
    for (const Case& c : cases) {
        StubbedConnections stubs(c.props);
        Session s;
        auto view = std::make_shared<test::RecordingFormView>();
        test::ScopedFormView scope(view);
        s.ado().About();
        const Ref<about::frmAbout> form = about::AboutForm();
        std::vector<Row> rows;
        for (const about::PropertyRow& r : form->lsvProperties())
            rows.emplace_back(r.name, r.value, r.attribute, r.type);
        EXPECT_EQ(std::tuple(view->shown, form->txtProvider(), form->txtDescription(), rows),
                  std::tuple(1, "Stub.1", "", c.rows))
            << c.what;
        EXPECT_EQ(Reports(s), c.fails ? "frmAbout.m_lsvProperties_populate 94;" : "") << c.what;
    }
}

TEST(AboutForm, ReadOutsKeepTheirTextUntilUnloadedAndWithoutAWindowGoToStandardError) {
    StubbedConnections stubs({{"Provider Friendly Name", kText, 512, "First"}});
    Session s;
    ::testing::internal::CaptureStderr();
    s.ado().About();
    EXPECT_EQ(
        ::testing::internal::GetCapturedStderr(),
        "Tabulon Universal - About the database connection\nProvider: Stub.1\nProvider Name: \nVersion: \n"
        "Description: First\n  Provider Friendly Name = First (Read, BSTR)\n");

    // Another connection whose provider lacks the property: the field shows what it showed.
    const Ref<about::frmAbout> form = about::AboutForm();
    form->Constructor(MakeRef<test::StubConnection>());
    form->Form_Activate();
    EXPECT_EQ(std::tuple(form->txtDescription(), form->lsvProperties().size()), std::tuple("First", 0u));
    form->cmdClose_Click();
    form->Form_Activate();
    EXPECT_EQ(std::tuple(form->Loaded(), form->txtDescription()), std::tuple(false, ""));
}

TEST(AboutForm, SaveWritesTheDetailsAsStoredOrNothing) {
    const std::vector<Prop> props = {{"Password", kText, 1536, "s3cret"},
                                     {"Nothing Here", kText, 512, Variant::Null()},
                                     {"Count", ado::adInteger, 1537, 42}};
    test::TempDir dir;
    std::ofstream(dir.File("plain")) << "a file, not a folder";
    struct Case {
        const char* what;
        std::vector<Prop> props;
        std::optional<std::string> answer, written;  // written: nullopt when no file may exist
        std::int32_t failure;                        // 0: saved and confirmed, or cancelled
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
        test::ScopedFormView view(std::make_shared<test::RecordingFormView>());
        auto dialog = std::make_shared<test::ScriptedFileDialog>();
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
        if (c.answer) EXPECT_EQ(test::ReadFile(*c.answer), c.written.value_or("")) << c.what;
        std::vector<std::string> shown;
        for (const auto& box : s.boxes().Shown()) shown.push_back(box.title + ": " + box.text);
        EXPECT_EQ(shown,
                  c.written ? std::vector<std::string>{"Tabulon Universal Exception: Details were saved as " +
                                                       *c.answer}
                            : std::vector<std::string>{})
            << c.what;
        EXPECT_EQ(Reports(s), c.failure ? "frmAbout.cmdSave_Click " + std::to_string(c.failure) + ";" : "")
            << c.what;
    }
}

// Through the platform's own connection object: the initialization properties come first, with the
// password the connection string gave.
TEST(AboutForm, ScriptedProviderSession) {
    auto provider = std::make_shared<dataaccess::scripted::ScriptedProvider>();
    provider->SetStandardProperties("Scripted DBMS", "1.0");
    provider->RemoveProperty("Provider Friendly Name");
    provider->SetProperty("Jet OLEDB:Database Password", kText, Variant("dbpw"), 1537);
    dataaccess::scripted::ScopedProvider scoped(provider);
    Session s;
    ASSERT_TRUE(s.Connect("Provider=Scripted;Data Source=x;Password=pw;").ok);
    test::ScopedFormView view(std::make_shared<test::RecordingFormView>());
    s.ado().About();
    const Ref<about::frmAbout> form = about::AboutForm();
    std::map<std::string, std::string> shown;
    for (const about::PropertyRow& r : form->lsvProperties()) shown[r.name] = r.value + " " + r.attribute;
    EXPECT_EQ(
        std::tuple(form->txtProvider(), form->txtProviderName(), form->txtDescription(), shown["Password"],
                   shown["Jet OLEDB:Database Password"], s.errors().Reports().size()),
        std::tuple("Scripted.1", "scripted.so", "", "***** Read/Write", "dbpw 1537", 0u));
}

}  // namespace
}  // namespace korado
