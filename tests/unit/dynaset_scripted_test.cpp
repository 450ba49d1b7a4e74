// Dynasets against providers no machine here has, posed by the scripted provider: the call texts the
// Oracle providers are given, a cursor engine's failure while moving, and the open-failure table carried
// out by the dynaset for failures no database here produces (a MySQL server that went away, the Paradox
// driver's lost state, an Oracle failure through the ODBC bridge judged by the current connection's DBMS),
// and the editing members' handling of failures a cursor engine raises.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "dataaccess/providers/scripted/scripted_provider.h"
#include "korado/errors/clsADOError.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "support/raises.h"
#include "support/script_host.h"
#include "support/session.h"

namespace korado {
namespace {

using dataaccess::Diagnostic;
using dataaccess::scripted::Column;
using dataaccess::scripted::ScopedProvider;
using dataaccess::scripted::ScriptedExecution;
using dataaccess::scripted::ScriptedProvider;
using dataaccess::scripted::ScriptedResult;

const std::string kBridge = "Microsoft OLE DB Provider for ODBC Drivers";

// A recordset that claims editing and fails its editing calls as a cursor engine would: every other member
// is the scripted provider's recordset underneath.
class FailingEdits final : public ado::Recordset {
  public:
    explicit FailingEdits(Ref<ado::Recordset> rs) : rs_(std::move(rs)) {}
    std::optional<korado::Error> failure;  // what AddNew, Update and UpdateBatch raise
    int cancels = 0;

    Ref<ado::Connection> ActiveConnection() override { return rs_->ActiveConnection(); }
    void SetActiveConnection(const Ref<ado::Connection>& c) override { rs_->SetActiveConnection(c); }
    std::int32_t CursorLocation() override { return rs_->CursorLocation(); }
    void SetCursorLocation(std::int32_t v) override { rs_->SetCursorLocation(v); }
    std::int32_t CursorType() override { return rs_->CursorType(); }
    void SetCursorType(std::int32_t v) override { rs_->SetCursorType(v); }
    std::int32_t LockType() override { return rs_->LockType(); }
    void SetLockType(std::int32_t v) override { rs_->SetLockType(v); }
    std::int32_t CacheSize() override { return rs_->CacheSize(); }
    void SetCacheSize(std::int32_t v) override { rs_->SetCacheSize(v); }
    std::int32_t PageSize() override { return rs_->PageSize(); }
    void SetPageSize(std::int32_t v) override { rs_->SetPageSize(v); }
    std::int32_t MaxRecords() override { return rs_->MaxRecords(); }
    void SetMaxRecords(std::int32_t v) override { rs_->SetMaxRecords(v); }
    void Open(const Variant& src, const Variant& c, std::int32_t t, std::int32_t l, std::int32_t o) override {
        rs_->Open(src, c, t, l, o);
    }
    void Close() override { rs_->Close(); }
    std::int32_t State() override { return rs_->State(); }
    bool Eof() override { return rs_->Eof(); }
    bool Bof() override { return rs_->Bof(); }
    std::int32_t RecordCount() override { return rs_->RecordCount(); }
    std::int32_t AbsolutePosition() override { return rs_->AbsolutePosition(); }
    Ref<ado::Fields> Fields() override { return rs_->Fields(); }
    std::string Source() override { return rs_->Source(); }
    Variant Filter() override { return rs_->Filter(); }
    void SetFilter(const Variant& v) override { rs_->SetFilter(v); }
    bool Supports(std::int32_t) override { return true; }
    std::int32_t Status() override { return rs_->Status(); }
    std::int32_t EditMode() override { return rs_->EditMode(); }
    void MoveFirst() override { rs_->MoveFirst(); }
    void MoveLast() override { rs_->MoveLast(); }
    void MoveNext() override { rs_->MoveNext(); }
    void MovePrevious() override { rs_->MovePrevious(); }
    void Move(std::int32_t n) override { rs_->Move(n); }
    Ref<ado::Recordset> NextRecordset(Variant* n) override { return rs_->NextRecordset(n); }
    void AddNew() override { Fail(); }
    void Update() override { Fail(); }
    void CancelUpdate() override { ++cancels; }
    void UpdateBatch(std::int32_t) override { Fail(); }
    void CancelBatch(std::int32_t a) override { rs_->CancelBatch(a); }
    void Delete(std::int32_t a) override { rs_->Delete(a); }
    void Requery(std::int32_t o) override { rs_->Requery(o); }
    void Save(const Variant& d, std::int32_t f) override { rs_->Save(d, f); }
    Ref<ado::Properties> Properties() override { return rs_->Properties(); }

  private:
    void Fail() {
        if (failure) throw *failure;
    }
    Ref<ado::Recordset> rs_;
};

// A provider `name` reporting failures from `source`, over a DBMS called `dbms`, with a connected session;
// an execution nothing else scripts returns one row.
struct Posed {
    explicit Posed(const std::string& name, const std::string& source = "Scripted",
                   const std::string& dbms = "Scripted DBMS")
        : provider(std::make_shared<ScriptedProvider>(
              ScriptedProvider::Identity{name, name + ".1", name, source, "x.so", "01.00.0000"})),
          scoped(provider) {
        provider->SetStandardProperties(dbms, "1.0");
        provider->Otherwise(
            ScriptedExecution::Returns(ScriptedResult::Rows({Column("n", ado::adInteger)}, {{Variant(1)}})));
        EXPECT_TRUE(s.Connect("Provider=" + name + ";Data Source=x").ok);
        g_HostObject = MakeRef<test::TestHost>();
    }
    Ref<clsDynasetADO> Open(std::string sql, bool large = false) { return s.Dynaset(std::move(sql), large); }
    Ref<clsDynasetADO> FromProc(std::string& call) {
        Ref<Collection> names;
        bool large = false;
        return s.ado().CreateDynasetFromProc(call, names, large);
    }
    // How often `sql` ran.
    std::size_t Runs(const std::string& sql) const {
        std::size_t n = 0;
        for (const auto& call : provider->executed()) n += call.text == sql;
        return n;
    }
    std::shared_ptr<ScriptedProvider> provider;
    ScopedProvider scoped;
    test::Session s;
};

// Oracle's providers list no marker for a procedure's result set: MSDAORA's factory takes the first "?"
// out of the caller's text, OraOLEDB's dynaset out of the text it runs. Other providers run the call as
// given.
TEST(DynasetScripted, ProcedureCallTextsPerProvider) {
    struct Case {
        std::string provider, call, runs, caller_after;
    } cases[] = {
        {"MSDAORA", "{call p(?)}", "{call p()}", "{call p()}"},
        {"MSDAORA", "{call p(x,  ?)}", "{call p(x)}", "{call p(x)}"},
        {"MSDAORA", "?call", "?call", "?call"},
        {"OraOLEDB.Oracle", "pkg.get_rows(?,x)", "pkg.get_rows(x)", "pkg.get_rows(?,x)"},
        {"OraOLEDB.Oracle", "pkg.get_rows(x, ?)", "pkg.get_rows(x)", "pkg.get_rows(x, ?)"},
        {"OraOLEDB.Oracle", "pkg.get_rows(?)", "pkg.get_rows", "pkg.get_rows(?)"},
        {"OraOLEDB.Oracle", "pkg.get_rows(?, x)", "pkg.get_rows( x)", "pkg.get_rows(?, x)"},
        {"OraOLEDB.Oracle", "pkg.get_rows", "pkg.get_rows", "pkg.get_rows"},
        {"SQLOLEDB", "pkg.get_rows(?)", "pkg.get_rows(?)", "pkg.get_rows(?)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.provider + " " + c.call);
        Posed p(c.provider);
        std::string call = c.call;
        Ref<clsDynasetADO> d = p.FromProc(call);
        ASSERT_TRUE(d);
        EXPECT_EQ(call, c.caller_after);
        EXPECT_EQ(d->SQLText(), c.caller_after);
        ASSERT_FALSE(p.provider->executed().empty());
        EXPECT_EQ(p.provider->executed().back().text, c.runs);
        EXPECT_FALSE(d->EOF_());  // not read from the recordset until a move
    }
}

// The cursor engine's failure while moving becomes the library's advice.
TEST(DynasetScripted, CursorEngineFailureWhileMoving) {
    Posed p("SQLOLEDB", "Microsoft OLE DB Provider for SQL Server");
    ScriptedResult rows = ScriptedResult::Rows({Column("n", ado::adInteger)}, {{Variant(1)}, {Variant(2)}});
    rows.fetch_failure = {{Hr(0x80004005), "Microsoft Cursor Engine", "Unspecified error", 0, "HY000"}};
    rows.fail_after_rows = 1;
    p.provider->On("select n from t", ScriptedExecution::Returns(rows));
    Ref<clsDynasetADO> d = p.Open("select n from t", true);
    ASSERT_TRUE(d);
    EXPECT_EQ(
        test::RaisedText([&] { d->MoveNext(); }),
        std::tuple(RecordsetMoveNext, std::string("An error occurred while moving through the recordset. "
                                                  "Source=Microsoft Cursor Engine, number=-2147467259. "
                                                  "Advice: Rerun your query.")));
    EXPECT_TRUE(p.s.errors().Reports().empty());
}

// UpdateBatch asks the connection first: a dynaset that has none (detached) does nothing, a connection
// that is gone and cannot be opened again is the host's to hear of; a refusal by the recordset is a failed
// commit.
TEST(DynasetScripted, UpdateBatchAndTheConnection) {
    Posed p("SQLOLEDB", "Microsoft OLE DB Provider for SQL Server");
    Ref<clsDynasetADO> d = p.Open("select n from t", true);
    ASSERT_TRUE(d);
    EXPECT_EQ(test::RaisedNumber([&] { d->UpdateBatch(); }), CommitError);

    p.provider->SetAlive(false);
    EXPECT_EQ(test::RaisedText([&] { d->UpdateBatch(); }),
              std::tuple(NoDBConnection, std::string("No live database connection")));

    d->Detach();
    EXPECT_EQ(test::RaisedNumber([&] { d->UpdateBatch(); }), 0);
    EXPECT_TRUE(p.s.errors().Reports().empty());
}

// A failed Update is never raised: it answers 1, shows the advice of the first matching row (or nothing)
// and cancels the change; Edit and AddNew go by what the recordset claims.
TEST(DynasetScripted, FailedUpdatesAndInsertsOfAnEditableRecordset) {
    Posed p("MSDASQL", kBridge, "PostgreSQL");
    Ref<clsDynasetADO> opened = p.Open("select n from t");
    ASSERT_TRUE(opened);
    auto rs = MakeRef<FailingEdits>(opened->Recordset());
    auto d = MakeRef<clsDynasetADO>();
    d->Constructor2(rs, "select n from t", Ref<clsADO>(&p.s.ado()));
    EXPECT_EQ(std::tuple(d->Edit(), d->Updatable(), rs->EditMode()), std::tuple(6, true, 0));
    EXPECT_EQ(d->Update(), 0);
    EXPECT_TRUE(d->AddNew());

    const std::string requery =
        "The driver reported the following error:\r\nRow cannot be located for "
        "updating.\r\n\r\nAdvice:\r\nPlease requery the data and try the updates again";
    struct Case {
        korado::Error failure;
        std::string shown;
    } cases[] = {
        {{Hr(0x80040E38), "Microsoft Cursor Engine", "Row cannot be located for updating."}, requery},
        {{Hr(0x80040E2F), "Microsoft OLE DB Provider for ODBC Drivers", "UNIQUE constraint failed"}, ""},
    };
    for (const Case& c : cases) {
        p.s.boxes().Clear();
        rs->cancels = 0;
        rs->failure = c.failure;
        EXPECT_EQ(d->Update(), 1);
        EXPECT_EQ(std::tuple(d->Error(), rs->cancels, Err().Number()), std::tuple(0, 1, 0));
        std::vector<std::string> shown;
        for (const auto& box : p.s.boxes().Shown()) shown.push_back(box.text);
        EXPECT_EQ(shown, c.shown.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.shown});
    }
    EXPECT_TRUE(p.s.errors().Reports().empty());

    rs->failure = korado::Error(Hr(0x8007000E), "Microsoft Cursor Engine", "Not enough storage");
    EXPECT_EQ(test::RaisedText([&] { d->AddNew(); }), std::tuple(OutOfMemory, std::string("Out of memory")));
    rs->failure = korado::Error(Hr(0x80040E21), "Microsoft Cursor Engine", "Multiple-step operation");
    EXPECT_FALSE(d->AddNew());
    ASSERT_EQ(p.s.errors().Reports().size(), 1u);
    EXPECT_EQ(p.s.errors().Reports()[0].routine, "AddNew");

    // The cursor engine's refusal of a batch: the key matched several rows.
    for (std::int32_t n : {Hr(0x80004005), Hr(0x80040018)}) {
        rs->failure = korado::Error(n, "Microsoft Cursor Engine", "Too many rows were affected by update.");
        EXPECT_EQ(test::RaisedText([&] { d->UpdateBatch(); }),
                  std::tuple(TooManyRecordsAffected, std::string("Too many rows were affected by update.")));
    }
    rs->failure = korado::Error(Hr(0x80040E38), "Microsoft Cursor Engine", "Row cannot be located.");
    EXPECT_EQ(test::RaisedNumber([&] { d->UpdateBatch(); }), 0);
    ASSERT_EQ(p.s.errors().Reports().size(), 2u);
    EXPECT_EQ(std::tuple(p.s.errors().Reports()[1].routine, p.s.errors().Reports()[1].number),
              std::tuple("UpdateBatch", Hr(0x80040E38)));
}

// MySQL's "server has gone away" is retried once per open: a second one in the same open ends it with
// Error 1 and no message, while the next open has its own retry again.
TEST(OpenDiagnosisDynaset, MySqlGoneAwayIsRetriedOncePerOpen) {
    Posed p("MSDASQL", kBridge, "MySQL");
    const Diagnostic gone{Hr(0x80004005), "", "[MySQL][ODBC 8.0(w) Driver]MySQL server has gone away", 2006,
                          "HY000"};
    p.provider->Then(ScriptedExecution::Fails({gone}));
    p.provider->Then(ScriptedExecution::Fails({gone}));
    EXPECT_FALSE(p.Open("select n from t"));
    EXPECT_EQ(p.Runs("select n from t"), 2u);

    p.provider->Then(ScriptedExecution::Fails({gone}));
    auto d = MakeRef<clsDynasetADO>();
    std::string sql = "select n from u";
    Ref<Collection> names;
    d->Constructor(sql, Ref<clsADO>(&p.s.ado()), names, false, 30, 10);
    EXPECT_EQ(std::tuple(d->Error(), d->IsOpen(), p.Runs(sql)), std::tuple(0, true, 2u));
    EXPECT_TRUE(p.s.boxes().Shown().empty() && p.s.errors().Reports().empty());
}

// The Paradox driver's -5026: the connection is opened again and the query retried once; the second such
// failure goes to the standard error path.
TEST(OpenDiagnosisDynaset, ParadoxReconnectsOnceThenTheStandardPath) {
    Posed p("ParadoxProvider", "Paradox provider", "Paradox");
    const Diagnostic lost{
        Hr(0x80040E21), "",
        "[Microsoft][ODBC Paradox Driver] Unexpected error from external database driver (11265).", -5026,
        "HY000"};
    p.provider->Then(ScriptedExecution::Fails({lost}));
    p.provider->Then(ScriptedExecution::Fails({lost}));
    const std::size_t opens = p.provider->opens().size();
    EXPECT_FALSE(p.Open("select n from t"));
    EXPECT_EQ(std::tuple(p.Runs("select n from t"), p.provider->opens().size()), std::tuple(2u, opens + 1));
    ASSERT_EQ(p.s.errors().Reports().size(), 1u);
    const auto& r = p.s.errors().Reports()[0];
    EXPECT_EQ(std::tuple(r.module, r.routine, r.number, r.description),
              std::tuple("clsDynasetADO", "Constructor", Hr(0x80040E21), lost.description));
    EXPECT_TRUE(p.s.boxes().Shown().empty());
}

// An Oracle failure through the bridge is judged by the DBMS of the connection object initialised last,
// not by that of the dynaset's own connection.
TEST(OpenDiagnosisDynaset, OdbcOracleRowsFollowTheCurrentConnection) {
    const Diagnostic missing{Hr(0x80040E37), "", "[Oracle][ODBC][Ora]ORA-00942: table or view does not exist",
                             942, "42S02"};
    for (bool current_is_oracle : {true, false}) {
        SCOPED_TRACE(current_is_oracle);
        Posed own("MSDASQL", kBridge, current_is_oracle ? "MySQL" : "Oracle");
        Posed current("OtherBridge", kBridge, current_is_oracle ? "Oracle" : "MySQL");
        own.provider->Then(ScriptedExecution::Fails({missing}));
        auto opened = [&] { return own.Open("select n from missing"); };
        if (current_is_oracle) {
            EXPECT_EQ(test::RaisedText(opened),
                      std::tuple(SQLError, std::string("Table or view does not exist")));
        } else {
            EXPECT_FALSE(opened());
            ASSERT_EQ(current.s.boxes().Shown().size(), 1u);  // the message box service installed last
            EXPECT_EQ(current.s.boxes().Shown()[0].text,
                      "ORA-00942: table or view does not exist\r\n\r\nSQL=\"select n from missing\"");
        }
    }
}

}  // namespace
}  // namespace korado
