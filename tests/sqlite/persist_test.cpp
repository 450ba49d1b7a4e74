// Recordsets saved to files and opened again without a connection, over real SQLite files: every declared
// type in both formats, what a save takes of a filtered, forward-only or edited recordset, pending changes
// written to a database after reopening, failed saves that must leave nothing behind, and the dynaset's Save
// and Constructor3.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "dataaccess/persist_file.h"
#include "korado/errors/clsADOError.h"
#include "korado/platform/adodb.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/console_runner.h"
#include "support/raises.h"
#include "support/recordset_image.h"
#include "support/script_host.h"
#include "support/session.h"
#include "support/support.h"

namespace korado {
namespace {

namespace persist = dataaccess::persist;
using test::ExpectError;
using test::RaisedError;

constexpr const char* kPersistence = "Microsoft OLEDB Persistence Provider";

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Scalar(ado::Connection& c, const std::string& sql) {
    return CStr(c.Execute(sql)->Fields()->At(0)->Value());
}

std::string Contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Persist : public ::testing::Test {
  protected:
    void SetUp() override {
        connection = Connect();
        connection->Execute(
            "CREATE TABLE t(id INTEGER PRIMARY KEY, i INTEGER, b BIGINT, s SMALLINT, r DOUBLE,"
            " n NUMERIC(10,2), v VARCHAR(20), c CHAR(4), x TEXT, bl BLOB, f BOOLEAN, dt DATE,"
            " tm TIME, ts DATETIME)");
        // Extremes, XML's reserved characters, control characters, letters beyond ASCII, an empty text
        // beside NULL, a date before 1900 and fractional seconds.
        connection->Execute(
            "INSERT INTO t VALUES (1, -2147483648, 1099511627776, -32768, 0.1, -12345.67, 'a<&>\"''b', 'ab', "
            "'',"
            " x'00ff80', 1, '1850-01-02', '08:05:09', '2024-05-17 13:45:30.250'), (2, NULL, NULL, NULL, NULL,"
            " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL), (3, 2147483647, -1, 32767, 1e300,"
            " 99999999.99, char(1, 9, 10, 13) || 'é世😀', 'wxyz', 'long ' || hex(zeroblob(300)), x'', 0,"
            " '2024-02-29', '23:59:59', '1899-12-30 00:00:00')");
        connection->Execute("INSERT INTO t (id, i, v) VALUES (4, 4, 'four'), (5, 5, 'five')");
    }

    Ref<ado::Connection> Connect() {
        Ref<ado::Connection> c = CreateObjectAs<ado::Connection>("ADODB.Connection");
        c->Open("Provider=SQLite;Data Source=" + dir.File("test.db"));
        return c;
    }

    Ref<ado::Recordset> Query(const std::string& sql, std::int32_t location = ado::adUseClient,
                              std::int32_t lock = ado::adLockReadOnly) {
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(location);
        rs->Open(Variant(sql), Variant(Ref<ado::Connection>(connection)), ado::adOpenStatic, lock);
        return rs;
    }

    // A recordset opened from `file` as a host opens one: no connection, the cursor location given.
    static Ref<ado::Recordset> Reopen(const std::string& file, std::int32_t location = ado::adUseClient) {
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(location);
        rs->Open(Variant(file));
        return rs;
    }

    test::TempDir dir;
    Ref<ado::Connection> connection;
};

TEST_F(Persist, EveryTypeComesBackInBothFormats) {
    // The rest of the declared types, a text longer than its declared size, and a NOT NULL column on an
    // outer join's nullable side.
    connection->Execute(
        "CREATE TABLE w(id INTEGER PRIMARY KEY, k INTEGER NOT NULL, d DECIMAL(28,10), m MONEY, g GUID,"
        " bi BINARY(4), vb VARBINARY(8), vs VARCHAR(3));"
        "INSERT INTO w VALUES (1, -2147483648, -123456789012345678.0123456789, 12345.6789,"
        " '{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}', x'00FF0102', x'', 'longer than three " +
        std::string(300, '.') + "'), (3, 0, 0, -0.0001, NULL, NULL, x'01', 'abc')");
    Ref<ado::Recordset> original = Query(
        "SELECT t.*, w.k, w.d, w.m, w.g, w.bi, w.vb, w.vs FROM t LEFT JOIN w ON w.id = t.id ORDER BY t.id");
    const std::vector<std::string> image = test::Image(*original);
    for (std::int32_t format : {ado::adPersistADTG, ado::adPersistXML}) {
        for (std::int32_t location : {ado::adUseServer, ado::adUseClient}) {
            SCOPED_TRACE(std::to_string(format) + " " + std::to_string(location));
            const std::string file = dir.File("all" + std::to_string(format) + std::to_string(location));
            original->Save(Variant(file), format);
            EXPECT_EQ(persist::DetectFormat(Contents(file)), format);
            Ref<ado::Recordset> copy = Reopen(file, location);
            EXPECT_EQ(std::tuple(copy->CursorType(), copy->CursorLocation(), copy->RecordCount(),
                                 copy->Source(), bool{copy->ActiveConnection()}),
                      std::tuple(ado::adOpenStatic, location, 5, file, false));
            // Static: it moves back.
            copy->MoveLast();
            copy->MovePrevious();
            EXPECT_EQ(CLng(copy->Fields()->At(0)->Value()), 4);
            copy->MoveFirst();
            // The binary format marks every column maybe-null, so that a Null has its place in any row, and
            // writes fixed-length binary variable-length (SQLite does not hold it to its size).
            std::vector<std::string> expected = image;
            if (format == ado::adPersistADTG) {
                expected[0] = "id 3 4 10 255 32852 t id True";
                expected[14] = "k 3 4 10 255 84 w k False";
                expected[18] = "bi 204 4 255 255 100 w bi False";
            }
            EXPECT_EQ(test::Image(*copy), expected);
        }
    }
}

// A save takes what the cursor shows: rows visible under a criteria filter (a group filter limits
// nothing), or the rows a forward-only cursor has not read yet, which it then stands after.
TEST_F(Persist, SavedRowsAreTheRowsTheCursorShows) {
    struct Case {
        const char* name;
        std::int32_t location;
        std::function<void(ado::Recordset&)> prepare;
        std::vector<int> saved;
        bool at_end;
    } cases[] = {
        {"criteria",
         ado::adUseClient,
         [](ado::Recordset& rs) { rs.SetFilter(Variant("id > 3 OR id = 1")); },
         {1, 4, 5},
         false},
        {"criteria matching nothing",
         ado::adUseClient,
         [](ado::Recordset& rs) { rs.SetFilter(Variant("i = 0")); },
         {},
         true},
        {"moved to the end",
         ado::adUseClient,
         [](ado::Recordset& rs) { rs.MoveLast(), rs.MoveNext(); },
         {1, 2, 3, 4, 5},
         false},
        {"group filter",
         ado::adUseClient,
         [](ado::Recordset& rs) { rs.SetFilter(Variant(std::int32_t{ado::adFilterPendingRecords})); },
         {1, 2, 3, 4, 5},
         true},
        {"forward-only, two rows read",
         ado::adUseServer,
         [](ado::Recordset& rs) { rs.MoveNext(), rs.MoveNext(); },
         {3, 4, 5},
         true},
        {"forward-only with criteria",
         ado::adUseServer,
         [](ado::Recordset& rs) { rs.SetFilter(Variant("id >= 4")); },
         {4, 5},
         true},
    };
    int k = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(c.location);
        rs->Open(Variant("SELECT id, i FROM t ORDER BY id"), Variant(Ref<ado::Connection>(connection)));
        c.prepare(*rs);
        const std::string file = dir.File("rows" + std::to_string(++k));
        rs->Save(Variant(file), ado::adPersistXML);
        // A static recordset stands on its first visible row again; a forward-only one at its end.
        EXPECT_EQ(rs->Eof(), c.at_end);
        if (!rs->Eof()) EXPECT_EQ(CLng(rs->Fields()->At(0)->Value()), c.saved.front());
        std::vector<int> ids;
        Ref<ado::Recordset> copy = Reopen(file);
        for (; !copy->Eof(); copy->MoveNext()) ids.push_back(CLng(copy->Fields()->At(0)->Value()));
        EXPECT_EQ(ids, c.saved);
        EXPECT_EQ(copy->Bof() && copy->Eof(), c.saved.empty());
    }
}

// Changes kept in batch mode travel in the file: reopened, they show as they did, and once the recordset
// has a connection, UpdateBatch writes them to the database.
TEST_F(Persist, PendingChangesAreWrittenAfterReopening) {
    for (std::int32_t format : {ado::adPersistADTG, ado::adPersistXML}) {
        SCOPED_TRACE(format);
        connection->Execute("DELETE FROM t WHERE id > 5");
        connection->Execute("UPDATE t SET v = 'four' WHERE id = 4");
        connection->Execute("INSERT OR REPLACE INTO t (id, v) VALUES (5, 'five')");
        Ref<ado::Recordset> rs =
            Query("SELECT id, v, x FROM t ORDER BY id", ado::adUseClient, ado::adLockBatchOptimistic);
        rs->Move(3);  // id 4
        rs->Fields()->Item(Variant("v"))->SetValue(Variant("vier"));
        rs->Fields()->Item(Variant("x"))->SetValue(Variant::Null());
        rs->Update();
        rs->MoveNext();  // id 5
        rs->Delete(ado::adAffectCurrent);
        rs->AddNew();
        rs->Fields()->Item(Variant("id"))->SetValue(Variant(6));
        rs->Fields()->Item(Variant("v"))->SetValue(Variant("six"));
        rs->Update();
        const std::string file = dir.File("pending" + std::to_string(format));
        rs->Save(Variant(file), format);
        rs->Close();
        // Nothing has reached the database.
        EXPECT_EQ(
            Scalar(*connection, "SELECT group_concat(v) FROM (SELECT v FROM t WHERE id > 3 ORDER BY id)"),
            "four,five");

        Ref<ado::Recordset> copy = Reopen(file);
        EXPECT_EQ(std::tuple(copy->LockType(), copy->Supports(ado::adUpdateBatch), copy->RecordCount()),
                  std::tuple(ado::adLockBatchOptimistic, true, 5));
        copy->Move(3);
        EXPECT_EQ(std::tuple(CStr(copy->Fields()->At(1)->Value()),
                             CStr(copy->Fields()->At(1)->OriginalValue()), copy->Status()),
                  std::tuple(std::string("vier"), std::string("four"), ado::adRecModified));
        copy->MoveNext();
        EXPECT_EQ(std::tuple(CLng(copy->Fields()->At(0)->Value()), copy->Status()),
                  std::tuple(6, ado::adRecNew));
        // Without a connection the changes cannot go anywhere yet.
        EXPECT_RAISES_FROM(ado::adErrInvalidConnection, "ADODB.Recordset",
                           copy->UpdateBatch(ado::adAffectAll));

        Ref<ado::Connection> later = Connect();
        copy->SetActiveConnection(later);
        copy->UpdateBatch(ado::adAffectAll);
        EXPECT_EQ(Scalar(*Connect(),
                         "SELECT group_concat(id || '=' || v || '/' || ifnull(x, 'null')) FROM"
                         " (SELECT * FROM t WHERE id > 3 ORDER BY id)"),
                  "4=vier/null,6=six/null");
    }
}

// A save that fails leaves the folder as it was: no file, no partial file, no temporary file.
TEST_F(Persist, FailedSavesLeaveNoFile) {
    Ref<ado::Recordset> rs = Query("SELECT * FROM t");
    const std::string existing = dir.File("existing");
    std::ofstream(existing) << "keep";
    const std::string locked = dir.File("locked");
    std::filesystem::create_directory(locked);
    ::chmod(locked.c_str(), 0500);
    struct Case {
        const char* name;
        std::string destination;
        std::int32_t format;
        std::int32_t number;
        const char* source;
    } cases[] = {
        {"existing file", existing, ado::adPersistADTG, persist::kFileExists, kPersistence},
        {"missing folder", dir.File("no/such/file"), ado::adPersistXML, persist::kPathNotFound, kPersistence},
        {"format 7", dir.File("seven"), 7, ado::adErrInvalidArgument, "ADODB.Recordset"},
        {"no name", "", ado::adPersistXML, ado::adErrInvalidArgument, "ADODB.Recordset"},
        // The superuser writes into any folder but sysfs.
        {"read-only folder", ::geteuid() == 0 ? "/sys/korado-persist-test" : locked + "/file",
         ado::adPersistXML, persist::kAccessDenied, kPersistence},
    };
    const std::vector<std::string> before = FilesIn(dir.File(""));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectError(RaisedError([&] { rs->Save(Variant(c.destination), c.format); }), c.number, c.source);
        EXPECT_EQ(FilesIn(dir.File("")), before);
        EXPECT_TRUE(FilesIn(locked).empty());
    }
    // Rows the writer already wrote do not stay behind when a later one fails.
    for (std::int32_t format : {ado::adPersistADTG, ado::adPersistXML}) {
        EXPECT_RAISES(hr::E_FAIL, persist::SaveFile(dir.File("half"), format, [](persist::RowsetSink& sink) {
                          persist::Schema schema;
                          schema.columns.resize(1);
                          schema.columns[0].name = "a";
                          schema.columns[0].type = ado::adInteger;
                          sink.Begin(schema);
                          const Variant one(1);
                          for (int i = 0; i < 100000; ++i)
                              sink.Row(persist::RowKind::kUnchanged, &one, nullptr);
                          throw Error(hr::E_FAIL, "test", "the source failed");
                      }));
        EXPECT_EQ(FilesIn(dir.File("")), before);
    }
    EXPECT_EQ(Contents(existing), "keep");
    ::chmod(locked.c_str(), 0700);
    rs->Close();
    EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Recordset", rs->Save(Variant(dir.File("closed"))));

    // Opening: a missing file is reported as such only to a caller who said it meant a file; a file in
    // neither format is no recordset.
    Ref<ado::Recordset> reader = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    ExpectError(RaisedError([&] { reader->Open(Variant(dir.File("none"))); }), ado::adErrInvalidConnection,
                "ADODB.Recordset");
    ExpectError(RaisedError([&] {
                    reader->Open(Variant(dir.File("none")), Variant::Missing(), -1, -1, ado::adCmdFile);
                }),
                persist::kFileNotFound, kPersistence);
    EXPECT_EQ(test::RaisedText([&] { reader->Open(Variant(existing)); }),
              std::tuple(hr::E_FAIL, std::string(persist::kNotARecordset)));
    EXPECT_EQ(reader->State(), ado::adStateClosed);
}

// The dynaset's Save and Constructor3, called by name as a host's script calls them.
TEST(PersistDynaset, SaveAndConstructor3) {
    test::TempDir dir;
    Ref<test::TestHost> host = MakeRef<test::TestHost>();
    test::Session s{false};
    ASSERT_TRUE(s.Connect(test::SqliteConnectionString(dir.File("d.db"))).ok);
    s.Execute("create table t (id integer primary key, name varchar(20))");
    s.Execute("insert into t values (1, 'one'), (2, 'two'), (3, 'three')");
    Variant d(s.Dynaset("select id, name from t order by id"));

    const std::string plain = dir.File("plain");
    CallMethod(d, "Save", plain);
    EXPECT_EQ(persist::DetectFormat(Contents(plain)), ado::adPersistADTG);
    CallMethod(d, "Save", dir.File("xml"), "1");
    EXPECT_EQ(persist::DetectFormat(Contents(dir.File("xml"))), ado::adPersistXML);
    struct Failure {
        Variant format;
        std::string file;
        std::int32_t number;
        std::string text;
    } failures[] = {
        {Variant("XML"), dir.File("a"), InvalidFileFormat,
         "Format XML is not an element in PersistFormatEnum."},
        {Variant(7), dir.File("b"), enumDynasetADOErrors::SaveFileError, "Unable to save the file"},
        {Variant(0), plain, enumDynasetADOErrors::SaveFileError, "Unable to save the file"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.text);
        std::optional<Error> e = RaisedError([&] { CallMethod(d, "Save", f.file, f.format); });
        ASSERT_TRUE(e);
        EXPECT_EQ(std::tuple(e->Number(), e->Source(), e->Description()),
                  std::tuple(f.number, std::string("korADO"), f.text));
    }
    s.ado().Disconnect();

    // Opened from the file with no connection: the host object given becomes the library's, and the rows
    // move both ways without a connection (the dynaset's moves themselves: dynaset_test.cpp).
    Ref<clsDynasetADO> file = MakeRef<clsDynasetADO>();
    CallMethod(Variant(Ref<Dispatch>(file)), "Constructor3", Ref<Dispatch>(host), dir.File("xml"));
    EXPECT_EQ(g_HostObject.get(), static_cast<Dispatch*>(host.get()));
    EXPECT_EQ(std::tuple(file->Source(), file->SQLText(), file->FileName(), file->IsOpen()),
              std::tuple(std::int32_t{DynasetSourceFile}, std::string(), dir.File("xml"), true));
    auto name = [&] { return CStr(file->FieldsCollection()->Item(Variant("name"))->Value()); };
    EXPECT_EQ(name(), "one");
    file->MoveNext();
    file->MoveLast();
    EXPECT_EQ(std::tuple(name(), file->Row()), std::tuple(std::string("three"), 3));
    file->MovePrevious();
    EXPECT_EQ(std::tuple(name(), file->Row()), std::tuple(std::string("two"), 2));
    for (const auto& r : s.errors().Reports()) ADD_FAILURE() << r.routine << ": " << r.description;

    // A file that is not there: the standard error path, and no open rows.
    Ref<clsDynasetADO> missing = MakeRef<clsDynasetADO>();
    missing->Constructor3(host, dir.File("none"));
    ASSERT_EQ(s.errors().Reports().size(), 1u);
    EXPECT_EQ(s.errors().Reports()[0].routine, "Constructor3");
    EXPECT_FALSE(missing->IsOpen());
    g_HostObject = nullptr;
}

#ifndef KORADO_APP_PATH
#define KORADO_APP_PATH ""
#endif

// In the console, LOAD prints a saved result as the query printed it: pages, breaks and all.
TEST(PersistConsole, SaveThenLoadPrintsTheSameRows) {
    if (std::string(KORADO_APP_PATH).empty()) GTEST_SKIP() << "built without the console host (korado_app)";
    test::ConsoleRunner console(KORADO_APP_PATH);
    const std::string adtg = console.Dir().File("r.adtg"), xml = console.Dir().File("r x.xml");
    const std::string query = "SET PAGESIZE 2\nBREAK ON grp\nselect grp, id, name from t order by grp, id;\n";
    test::ConsoleRun run = console.Run(
        {"Provider=SQLite;Data Source=" + console.Dir().File("c.db")},
        "create table t(id integer primary key, grp text, name text);\n"
        "insert into t values (1, 'a', 'one'), (2, 'a', NULL), (3, 'b', 'three'), (4, 'b', '');\n" +
            query + "SAVE " + adtg + "\nSAVE '" + xml + "' XML\nDISCONNECT\nLOAD " + adtg + "\nLOAD \"" +
            xml + "\"\n");
    ASSERT_EQ(run.exit_status, 0) << run.Transcript();
    // The query's rows, then the same text twice after the save messages.
    const std::size_t first = run.out.find("grp id");
    const std::size_t end = run.out.find("4 rows selected.\n", first);
    ASSERT_NE(end, std::string::npos) << run.Transcript();
    const std::string rows = run.out.substr(first, end + 17 - first);
    const std::string saved = "4 rows saved to " + adtg + ".\n4 rows saved to " + xml + ".\n";
    EXPECT_NE(run.out.find(rows + saved), std::string::npos) << run.Transcript();
    EXPECT_NE(run.out.find(saved + "Disconnected.\n" + rows + rows), std::string::npos) << run.Transcript();
}

}  // namespace
}  // namespace korado
