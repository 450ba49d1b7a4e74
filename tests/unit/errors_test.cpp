// The error channel: the own-code test, the standard error path through the error component, the shared
// error object, and the default companion components.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "companions/clsError.h"
#include "companions/clsFileSystem.h"
#include "dataaccess/providers/scripted/scripted_provider.h"
#include "korado/errors/clsADOError.h"
#include "korado/errors/clsErrorHandler.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/platform/companions.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/collection.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"
#include "support/session.h"
#include "support/support.h"

namespace korado {
namespace {

using test::ErrorCapture;
using test::MessageBoxCapture;

// The own-code test at its range's boundaries, values as text, and the ODBC tags stripped from a message.
TEST(ErrorHelpers, OwnRangeValueTextAndOdbcTags) {
    for (std::uint32_t own : {0x80040001u, 0x80040006u, 0x80040E14u, 0x80040E21u, 0x8004FFFEu})
        EXPECT_FALSE(IsForeignError(Hr(own))) << std::hex << own;
    for (std::uint32_t foreign : {0x80040000u, 0x8004FFFFu, 0x80004005u, 0u, 5u, 91u, 0x3FFFFu})
        EXPECT_TRUE(IsForeignError(Hr(foreign))) << std::hex << foreign;
    // A positive code of &H40000 or more cannot be represented after the subtraction.
    EXPECT_RAISES(rt::Overflow, IsForeignError(0x40000));

    // A Null, an object or Empty reads as no text.
    for (auto [v, text] :
         {std::pair{Variant::Null(), ""}, std::pair{Variant(Ref<Dispatch>()), ""},
          std::pair{Variant(Ref<Dispatch>(MakeRef<Collection>())), ""}, std::pair{Variant(), ""},
          std::pair{Variant(42), "42"}, std::pair{Variant(true), "True"}})
        EXPECT_EQ(VariantToString(v), text) << TypeName(v);

    // Later lines are kept whole, even with their own brackets. Without "ODBC" in any case, or without "]"
    // in the first line, the message is unchanged. Spaces (only spaces) around the rest go; nothing left
    // means the whole message.
    for (auto [message, stripped] :
         {std::pair{"[unixODBC][Driver Manager]Data source name not found", "Data source name not found"},
          std::pair{"[Microsoft][ODBC SQL Server Driver][SQL Server]Invalid object name 'x'.\nsecond line",
                    "Invalid object name 'x'.\nsecond line"},
          std::pair{"[odbc]first\n[x]second", "first\n[x]second"},
          std::pair{"[MySQL]no driver word", "[MySQL]no driver word"},
          std::pair{"ODBC error without tags\n[a]b", "ODBC error without tags\n[a]b"},
          std::pair{"[ODBC]  text \t ", "text \t"}, std::pair{"[ODBC]   ", "[ODBC]   "},
          std::pair{"[ODBC]\r\nnext", "\r\nnext"}, std::pair{"", ""}})
        EXPECT_EQ(clsADOError::m_ODBCErrorText(message), stripped) << message;
}

TEST(ADOError, ExceptionAlertsAndTheLastErrorMembers) {
    MessageBoxCapture boxes;
    auto error = MakeRef<clsADOError>();

    // Braces: the calls show their boxes in order.
    EXPECT_EQ(
        (std::tuple{error->Exception("plain [ODBC]text"),
                    error->Exception("[unixODBC][x]cleaned", ODBCException), error->Exception("ignored", 7)}),
        std::tuple(1, 1, 1));
    ASSERT_EQ(boxes.Shown().size(), 3u);
    EXPECT_EQ(std::tuple(boxes.Shown()[0].title, boxes.Shown()[0].style),
              std::tuple("Tabulon Universal Exception", platform::vbInformation | platform::vbOKOnly));
    for (std::size_t i = 0; const char* text : {"plain [ODBC]text", "cleaned", ""})
        EXPECT_EQ(boxes.Shown()[i++].text, text);

    // Late-bound with the type omitted: the message as it is.
    EXPECT_EQ(CLng(CallMethod(Variant(Ref<Dispatch>(error)), "Exception", "late")), 1);
    EXPECT_EQ(boxes.Shown().back().text, "late");

    error->SetDisplayAlerts(false);
    boxes.Clear();
    EXPECT_EQ(error->Exception("anything", ODBCException), 0);
    EXPECT_TRUE(boxes.Shown().empty());

    // Before Constructor there is no connection object to ask.
    EXPECT_RAISES(rt::ObjectNotSet, MakeRef<clsADOError>()->LastErr());

    using namespace dataaccess::scripted;
    const char* source = "Microsoft OLE DB Provider for ODBC Drivers";
    auto last = [] { return std::tuple(g_ADOError->LastErr(), g_ADOError->LastErrText()); };
    // Only the ODBC bridge's texts are cleaned, whatever the letter case of its name.
    for (auto [versioned, text] :
         {std::pair{"msdasql.1", "relation x"}, std::pair{"Posed.1", "[unixODBC][PostgreSQL]relation x"}}) {
        auto p = std::make_shared<ScriptedProvider>(
            ScriptedProvider::Identity{"Posed", versioned, source, source, "x.so", "1"});
        p->On("select x",
              ScriptedExecution::Fails({{Hr(0x80040E37), "", "[unixODBC][PostgreSQL]relation x", 0, ""},
                                        {Hr(0x80004005), "", "second", 0, ""}}));
        p->On("update y",
              ScriptedExecution::Fails(
                  {{Hr(0x80004005), "", "MULTIPLE-STEP operation generated errors. Check each status value.",
                    0, ""}}));
        ScopedProvider scoped(p);
        test::Session s;
        EXPECT_EQ(last(), std::tuple(0, ""));  // no errors recorded
        ASSERT_TRUE(s.Connect("Provider=Posed").ok);
        EXPECT_RAISES(ExecuteSQLError, s.Execute("select x"));
        EXPECT_EQ(last(), std::tuple(Hr(0x80040E37), text));
        EXPECT_EQ(g_ADOError->SQLErrPosition(), 0);
        EXPECT_RAISES(ExecuteSQLError, s.Execute("update y"));
        EXPECT_EQ(g_ADOError->LastErrText(), "");
        g_ADOError->Reset();
        EXPECT_EQ(g_ADOError->LastErr(), 0);
        s.ado().CommitTransaction();
        s.ado().Disconnect();  // no platform connection any more
        EXPECT_EQ(last(), std::tuple(0, ""));
        g_ADOError->Reset();
    }
}

// One component for every failure, each reported with line zero; the handler shapes around it.
TEST(StandardErrorPath, OneComponentHandlerShapesAndAMissingComponent) {
    ErrorCapture capture;
    int runs = 0;
    for (int i = 0; i < 2; ++i) {
        Try({"clsBindVariables", "Get Count"}, [&] {
            ++runs;
            RaiseRuntime(rt::TypeMismatch);
        });
    }
    EXPECT_EQ(std::tuple(runs, capture.Log().constructed), std::tuple(2, 1));
    EXPECT_EQ(capture.Log().constructor_args,
              (std::vector<Variant>{Variant("korADO"), Variant(std::int16_t{2}), Variant(std::int16_t{4}),
                                    Variant(std::int16_t{1})}));
    ASSERT_EQ(capture.Reports().size(), 2u);
    const auto& r = capture.Reports()[0];
    EXPECT_EQ(
        std::tuple(r.module, r.routine, r.number, r.source, r.description, r.error_line,
                   r.debug_message.IsMissing()),
        std::tuple("clsBindVariables", "Get Count", rt::TypeMismatch, "korADO", "Type mismatch", 0, true));
    HandleError("m", "r", Variant("item 3"));
    EXPECT_EQ(CStr(capture.Reports().back().debug_message), "item 3");
    capture.Clear();

    // Own codes pass through unchanged; anything else is reported and swallowed.
    EXPECT_EQ(test::RaisedText([] {
                  TryPassOwn({"clsADO", "Connect"}, [] { Raise(ConnectionError, "diagnosis"); });
              }),
              std::tuple(ConnectionError, "diagnosis"));
    EXPECT_TRUE(capture.Reports().empty());

    // A platform number inside the own range but from another source is not the library's own.
    TryPassOwn({"clsADO", "Connect"}, [] { Raise(Hr(0x80040E14), "SQLite", "syntax"); });
    ASSERT_EQ(capture.Reports().size(), 1u);
    EXPECT_EQ(capture.Reports()[0].source, "SQLite");

    std::int32_t translated = 0;
    EXPECT_RAISES(ExecuteSQLError, TryWith([] { Raise(Hr(0x80004005), "Provider", "boom"); },
                                           [&](const Error& e) {
                                               translated = e.Number();
                                               Raise(ExecuteSQLError, e.Description());
                                           }));
    EXPECT_EQ(translated, Hr(0x80004005));
    EXPECT_FALSE(TryIgnore([] { RaiseRuntime(rt::SubscriptOutOfRange); }));
    EXPECT_EQ(Err().Number(), rt::SubscriptOutOfRange);
    EXPECT_TRUE(TryIgnore([] {}));

    // std exceptions reach the handler as runtime errors.
    Try({"m", "bad_alloc"}, [] { throw std::bad_alloc(); });
    EXPECT_EQ(capture.Reports().back().number, rt::OutOfMemory);

    // A missing component fails in place of the handled error, and is looked for again next time.
    ScopedClassOverride none(companions::kErrorComponent, nullptr);
    g_ErrorHandler = nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::optional<Error> e = test::RaisedError([] {
            Try({"m", "r"}, [] { RaiseRuntime(rt::TypeMismatch); });
        });
        ASSERT_TRUE(e && e->Number() == rt::CannotCreateObject);
        EXPECT_NE(e->Description().find("korError.clsError"), std::string::npos);
        EXPECT_FALSE(g_ErrorHandler);  // the next failure tries again
    }
}

// The default companions: the error component writes one masked line per failure and shows alerts; the file
// components write UTF-8 text and ask the dialog service.
TEST(Companions, ErrorLogAlertsFilesAndTheSaveDialog) {
    test::TempDir dir;
    MessageBoxCapture boxes;
    auto component = MakeRef<companions::clsError>();
    component->SetLogFile(dir.File("deep/logs/error.log"));
    Variant obj{Ref<Dispatch>(component)};
    CallMethod(obj, "Constructor", "korADO", std::int16_t{2}, std::int16_t{4}, std::int16_t{1});

    auto err = MakeRef<ErrObject>(
        Error(Hr(0x80040006), "korADO", "Login failed for DSN=x;PWD=secret;UID=u\r\nAdvice:\r\nretry"));
    CallMethod(obj, "ErrorMessage", "clsADO", "Connect", Variant(Ref<Dispatch>(err)), 0);

    const std::string line = test::ReadFile(dir.File("deep/logs/error.log"));
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    for (const char* piece : {"clsADO.Connect", "0x80040006 (-2147221498)", "from korADO",
                              "PWD=***;UID=u | Advice: | retry", "[line 0]"})
        EXPECT_NE(line.find(piece), std::string::npos) << piece << " in " << line;
    EXPECT_EQ(line.find("secret"), std::string::npos);

    CallMethod(obj, "Alert", "Look here");
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(std::tuple(boxes.Shown()[0].text, boxes.Shown()[0].title), std::tuple("Look here", "korADO"));
    LetProperty(obj, "DisplayAlerts", false);
    CallMethod(obj, "Alert", "quiet", "T");
    EXPECT_EQ(boxes.Shown().size(), 1u);

    EXPECT_EQ(std::tuple(companions::MaskPasswords("Password = {a;b};pwd=x"),
                         companions::MaskPasswords("Jet OLEDB:Database Password=z;NewPassword=1")),
              std::tuple("Password = ***;pwd=***", "Jet OLEDB:Database Password=***;NewPassword=1"));

    Variant file = CreateObject(companions::kFile);
    CallMethod(file, "Constructor", dir.File("a/b/c.txt"));
    LetProperty(file, "Contents", "Grüße 𝄞\r\n");
    EXPECT_EQ(std::tuple(CStr(GetProperty(file, "Contents")), CStr(GetProperty(file, "FullName"))),
              std::tuple("Grüße 𝄞\r\n", dir.File("a/b/c.txt")));

    Variant fs = CreateObject(companions::kFileSystem);
    CallMethod(fs, "Constructor");
    auto save = [&] {
        return CallMethod(fs, "SaveFile", 0, std::int16_t{0}, "", "/tmp", "Save Connection Details As");
    };
    EXPECT_TRUE(save().IsNothing());  // no dialog available

    struct Dialog final : platform::FileDialogService {
        std::optional<std::string> answer;
        platform::SaveFileRequest seen;
        std::optional<std::string> SaveFile(const platform::SaveFileRequest& r) override {
            seen = r;
            return answer;
        }
    };
    auto dialog = std::make_shared<Dialog>();
    platform::ScopedFileDialog scope(dialog);
    EXPECT_TRUE(save().IsNothing());  // cancelled
    EXPECT_EQ(dialog->seen.title, "Save Connection Details As");
    dialog->answer = dir.File("details.txt");
    Variant chosen = save();
    ASSERT_TRUE(chosen.IsObject());
    LetProperty(chosen, "Contents", "x");
    EXPECT_TRUE(std::filesystem::exists(dir.File("details.txt")));

    Variant bad = CreateObject(companions::kFile);
    CallMethod(bad, "Constructor", "/proc/forbidden/file.txt");
    std::optional<Error> denied = test::RaisedError([&] { LetProperty(bad, "Contents", "x"); });
    EXPECT_NE(denied.value_or(Error(0, "", "")).Description().find("/proc/forbidden"), std::string::npos);
}

}  // namespace
}  // namespace korado
