// korado-gui's window driven as a user drives it, on the offscreen platform: a query on the sample
// database, a large result read as the grid scrolls, edits stored and read back through a second
// connection, and the edits a column or the database refuses. The window with a result is saved as a
// screenshot into the build folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "dynaset_model.h"
#include "korado/platform/adodb.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "query_window.h"
#include "sample_database.h"
#include "support/odbc_servers.h"
#include "support/support.h"
#if KORADO_HAVE_QT_VIEWS
#include "korado/qt/services.h"
#endif

namespace korado::gui {
namespace {

// What a second session of the same database reads: the first value of the statement's first row.
std::string ReadBack(const std::string& connection_string, const std::string& sql) {
    Ref<ado::Connection> other = CreateObjectAs<ado::Connection>("ADODB.Connection");
    other->Open(connection_string);
    Ref<ado::Recordset> rs = other->Execute(sql);
    const std::string value = rs->Eof() ? "(no row)" : CStr(rs->Fields()->Item(Variant(0))->Value());
    rs->Close();
    other->Close();
    return value;
}

void SaveScreenshot(QWidget& widget, const std::string& name) {
    std::filesystem::create_directories(KORADO_SCREENSHOT_DIR);
    const std::string path = std::string(KORADO_SCREENSHOT_DIR) + "/" + name;
    EXPECT_TRUE(widget.grab().save(QString::fromStdString(path))) << path;
}

class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("KORADO_SAMPLE_DB", dir_.File("sample.db").c_str(), 1);
        window_ = std::make_unique<QueryWindow>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    void TearDown() override {
        window_.reset();
        unsetenv("KORADO_SAMPLE_DB");
    }
    std::string SampleConnection() const { return apps::SqliteConnectionString(dir_.File("sample.db")); }
    DynasetModel& Model() const { return *window_->Model(); }
    void RunText(const std::string& sql) {
        window_->Editor()->setPlainText(QString::fromStdString(sql));
        window_->Run();
    }

    test::TempDir dir_;
    test::MessageBoxCapture boxes_;
    std::unique_ptr<QueryWindow> window_;
};

TEST_F(GuiTest, SampleDatabaseQueryEditStoredAndReadBackByAnotherSession) {
    ASSERT_TRUE(window_->ConnectTo(""));
    window_->Editor()->setPlainText("select customer_id, name, city from customers order by customer_id;");
    // Ctrl+Enter in the editor runs the statement.
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    window_->Editor()->setFocus();
    QTest::keyClick(window_->Editor(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(window_->LastRunSucceeded());
    ASSERT_EQ(Model().rowCount(), 40);
    ASSERT_EQ(Model().columnCount(), 3);
    EXPECT_EQ(Model().headerData(1, Qt::Horizontal).toString(), "name");
    EXPECT_EQ(Model().data(Model().index(0, 1)).toString(), "Ada Almeida");
    ASSERT_TRUE(Model().Updatable());
    SaveScreenshot(*window_, "korado-gui-query.png");

    // An edit through the grid's own editor, as a user types it.
    const QModelIndex city = Model().index(2, 2);
    window_->Grid()->setCurrentIndex(city);
    ASSERT_TRUE(Model().setData(city, "Porto"));
    EXPECT_EQ(Model().data(city).toString(), "Porto");
    ASSERT_TRUE(Model().setData(Model().index(0, 1), "Ada Almeida-Costa"));
    window_->Commit();
    EXPECT_EQ(ReadBack(SampleConnection(), "select city from customers where customer_id = 3"), "Porto");
    EXPECT_EQ(ReadBack(SampleConnection(), "select name from customers where customer_id = 1"),
              "Ada Almeida-Costa");

    // New rows, each stored when the user leaves it; the grid shows it as the database stored it.
    RunText("select product_id, name, category, unit_price from products order by product_id");
    for (const char* id : {"25", "26"}) {
        window_->AddRow();
        const int added = Model().NewRow();
        ASSERT_EQ(added, Model().rowCount() - 1);
        EXPECT_EQ(Model().headerData(added, Qt::Vertical).toString(), "*");
        for (const auto& [column, value] :
             {std::pair{0, id}, {1, "Cold brew 1 l"}, {2, "Coffee"}, {3, "6.5"}})
            EXPECT_TRUE(Model().setData(Model().index(added, column), value));
        window_->Grid()->setCurrentIndex(Model().index(5, 0));
        EXPECT_EQ(Model().NewRow(), -1);
        EXPECT_EQ(Model().headerData(added, Qt::Vertical).toString(), QString::number(added + 1));
        EXPECT_EQ(Model().data(Model().index(added, 3)).toString(), "6.5");
    }
    window_->Commit();
    EXPECT_EQ(ReadBack(SampleConnection(), "select name from products where product_id = 26"),
              "Cold brew 1 l");

    // A deleted row goes from the grid and, at the commit, from the database.
    window_->Grid()->setCurrentIndex(Model().index(24, 1));
    window_->DeleteRow();
    EXPECT_EQ(Model().rowCount(), 25);
    EXPECT_EQ(Model().data(Model().index(24, 0)).toString(), "26");
    window_->Commit();
    EXPECT_EQ(ReadBack(SampleConnection(), "select count(*) from products where product_id >= 25"), "1");

    // A statement without rows says what it did in the status bar; Rollback undoes it.
    RunText("update customers set city = 'Nowhere' where customer_id <= 10");
    ASSERT_TRUE(window_->LastRunSucceeded());
    EXPECT_EQ(window_->statusBar()->currentMessage(), "10 row(s) affected.");
    RunText("select customer_id, city from customers where customer_id = 3");
    EXPECT_EQ(Model().data(Model().index(0, 1)).toString(), "Nowhere");
    window_->Rollback();
    EXPECT_EQ(ReadBack(SampleConnection(), "select count(*) from customers where city = 'Nowhere'"), "0");
    // The grid shows the rows as they are after the rollback, and edits them from there.
    EXPECT_EQ(Model().data(Model().index(0, 1)).toString(), "Porto");
    EXPECT_TRUE(Model().setData(Model().index(0, 1), "Braga"));
    window_->Commit();
    EXPECT_EQ(ReadBack(SampleConnection(), "select city from customers where customer_id = 3"), "Braga");
    EXPECT_TRUE(boxes_.Shown().empty()) << boxes_.Shown().front().text;
}

// A result far larger than a block: the grid holds one block after the query, and another each time the
// user scrolls to its end, streamed or buffered alike.
TEST_F(GuiTest, LargeResultGrowsByBlocksAsTheGridScrolls) {
    ASSERT_TRUE(window_->ConnectTo(""));
    const int total = 5 * DynasetModel::kBlock + 17;
    for (const bool large : {true, false}) {
        SCOPED_TRACE(large ? "large" : "buffered");
        window_->SetLargeResults(large);
        RunText("with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
                std::to_string(total) + ") select i, 'row ' || i as label from n");
        ASSERT_TRUE(window_->LastRunSucceeded());
        EXPECT_EQ(Model().rowCount(), DynasetModel::kBlock);
        EXPECT_TRUE(Model().canFetchMore(QModelIndex()));
        QScrollBar* bar = window_->Grid()->verticalScrollBar();
        bar->setValue(0);
        QApplication::processEvents();
        const int before = Model().rowCount();
        bar->setValue(bar->maximum());
        QApplication::processEvents();
        EXPECT_EQ(Model().rowCount(), before + DynasetModel::kBlock);
        for (int scrolls = 0; scrolls < 10 && Model().canFetchMore(QModelIndex()); ++scrolls) {
            bar->setValue(bar->maximum());
            QApplication::processEvents();
        }
        EXPECT_EQ(Model().rowCount(), total);
        EXPECT_EQ(Model().data(Model().index(total - 1, 1)).toString(), "row " + QString::number(total));
    }

    // Rows deleted and edited in a result read only in part: the next block follows on from the last row
    // read, not from where the edits left the dynaset.
    RunText("create table big (i integer primary key, label varchar(20))");
    RunText("with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
            std::to_string(total) + ") insert into big select i, 'row ' || i from n");
    RunText("select i, label from big order by i");
    ASSERT_TRUE(Model().Updatable());
    ASSERT_EQ(Model().rowCount(), DynasetModel::kBlock);
    window_->Grid()->setCurrentIndex(Model().index(10, 0));
    window_->DeleteRow();
    EXPECT_TRUE(Model().setData(Model().index(200, 1), "changed"));
    EXPECT_TRUE(Model().setData(Model().index(3, 1), "changed too"));
    Model().fetchMore(QModelIndex());
    ASSERT_EQ(Model().rowCount(), 2 * DynasetModel::kBlock - 1);
    for (const int row : {9, 10, 254, 255, 2 * DynasetModel::kBlock - 2})
        EXPECT_EQ(Model().data(Model().index(row, 0)).toInt(), row < 10 ? row + 1 : row + 2) << row;
    window_->Commit();
    EXPECT_EQ(ReadBack(SampleConnection(), "select label from big where i = 202"), "changed");
    EXPECT_EQ(ReadBack(SampleConnection(), "select count(*) from big"), std::to_string(total - 1));
    EXPECT_TRUE(boxes_.Shown().empty()) << boxes_.Shown().front().text;
}

// Edits the column or the database cannot take end in a message box and leave the stored row as it was.
TEST_F(GuiTest, RefusedEditsAreToldAndLeaveTheRowAsItWas) {
    ASSERT_TRUE(window_->ConnectTo(""));
    RunText(
        "create table gadgets (id integer primary key, name varchar(20) not null unique, weight integer "
        "check (weight > 0))");
    RunText("insert into gadgets values (1, 'lamp', 3); insert into gadgets values (2, 'fan', 5)");
    RunText("select id, name, weight from gadgets order by id");
    ASSERT_TRUE(Model().Updatable());
    struct Case {
        const char* what;
        int row, column;
        const char* value;
        const char* stored;
    };
    const Case cases[] = {
        {"a value the database's check refuses", 0, 2, "-4", "3"},
        {"Null in a NOT NULL column", 0, 1, "", "lamp"},
        {"a duplicate of a unique value", 1, 1, "lamp", "fan"},
        {"text in a number column", 1, 2, "heavy", "5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        boxes_.Clear();
        EXPECT_FALSE(Model().setData(Model().index(c.row, c.column), c.value));
        EXPECT_FALSE(boxes_.Shown().empty());
        window_->Commit();
        EXPECT_EQ(ReadBack(SampleConnection(), "select " + std::string(c.column == 1 ? "name" : "weight") +
                                                   " from gadgets where id = " + std::to_string(c.row + 1)),
                  c.stored);
    }
    // A row that others refer to stays, in the database and in the grid.
    RunText("select customer_id, name from customers order by customer_id");
    boxes_.Clear();
    window_->Grid()->setCurrentIndex(Model().index(0, 0));
    window_->DeleteRow();
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_NE(boxes_.Shown()[0].text.find("FOREIGN KEY"), std::string::npos) << boxes_.Shown()[0].text;
    EXPECT_EQ(Model().rowCount(), 40);
    EXPECT_EQ(ReadBack(SampleConnection(), "select count(*) from customers where customer_id = 1"), "1");

    // The grid goes on: a good edit after the refused ones is stored.
    RunText("select id, name, weight from gadgets order by id");
    boxes_.Clear();
    EXPECT_TRUE(Model().setData(Model().index(1, 2), "6"));
    window_->Commit();
    EXPECT_EQ(ReadBack(SampleConnection(), "select weight from gadgets where id = 2"), "6");
    EXPECT_TRUE(boxes_.Shown().empty());

    // A view's rows cannot be told apart: read-only, no editor opens.
    RunText("select * from order_totals");
    EXPECT_FALSE(Model().Updatable());
    EXPECT_FALSE(Model().flags(Model().index(0, 0)) & Qt::ItemIsEditable);
}

// File > Connect asks the data-link dialog (here a scripted one) through the library; a cancelled dialog
// leaves the window without a connection and says nothing.
TEST_F(GuiTest, ConnectThroughTheDataLinkDialog) {
    struct ScriptedDialog final : platform::DataLinkPromptService {
        std::optional<std::string> answer;
        int asked = 0;
        std::optional<std::string> PromptNew() override {
            ++asked;
            return answer;
        }
    };
    ASSERT_TRUE(window_->ConnectTo(""));  // creates the sample database
    auto dialog = std::make_shared<ScriptedDialog>();
    platform::ScopedDataLinkPrompt scope(dialog);

    dialog->answer = std::nullopt;
    EXPECT_FALSE(window_->ConnectByPrompt());
    EXPECT_FALSE(window_->Connection());
    EXPECT_EQ(dialog->asked, 1);

    dialog->answer = SampleConnection() + ";";
    ASSERT_TRUE(window_->ConnectByPrompt());
    ASSERT_TRUE(window_->Connection());
    RunText("select count(*) from products");
    ASSERT_TRUE(window_->LastRunSucceeded());
    EXPECT_EQ(Model().data(Model().index(0, 0)).toString(), "24");
    EXPECT_TRUE(boxes_.Shown().empty()) << boxes_.Shown().front().text;
}

#if KORADO_HAVE_QT_VIEWS
// Help > About shows the library's About dialog of the window's connection, through the Qt views.
TEST(GuiAboutTest, HelpAboutShowsTheConnectionsAboutDialog) {
    test::TempDir dir;
    setenv("KORADO_SAMPLE_DB", dir.File("sample.db").c_str(), 1);
    auto views = qt::InstallQtServices();
    test::MessageBoxCapture boxes;
    {
        QueryWindow window;
        window.show();
        ASSERT_TRUE(window.ConnectTo(""));
        window.ShowAbout();
        QApplication::processEvents();
        QWidget* about = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == "Tabulon Universal - About the database connection")
                about = w;
        ASSERT_NE(about, nullptr);
        SaveScreenshot(*about, "korado-gui-about.png");
        about->close();
    }
    unsetenv("KORADO_SAMPLE_DB");
    EXPECT_TRUE(boxes.Shown().empty()) << boxes.Shown().front().text;
}
#endif

// The same edit on a server through ODBC: the session's transaction, the keyed update, the read-back.
class GuiOdbcTest : public GuiTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(GuiOdbcTest, CellEditStoredAndReadBackByAnotherSession) {
    const test::OdbcTarget& target = test::GetOdbcTarget(GetParam());
    KORADO_REQUIRE_ODBC(target);
    ASSERT_TRUE(window_->ConnectTo(target.ConnectionString()));
    // Other programs use the same servers at the same time: a table of this process's own.
    const std::string table = "gui_edit_" + std::to_string(getpid());
    RunText("create table " + table + " (id integer primary key, name varchar(20) not null)");
    ASSERT_TRUE(window_->LastRunSucceeded());
    RunText("insert into " + table + " values (1, 'one'), (2, 'two')");
    window_->Commit();
    RunText("select id, name from " + table + " order by id");
    ASSERT_TRUE(window_->LastRunSucceeded());
    ASSERT_EQ(Model().rowCount(), 2);
    ASSERT_TRUE(Model().Updatable());
    EXPECT_TRUE(Model().setData(Model().index(1, 1), "zwei"));
    window_->Commit();
    EXPECT_EQ(ReadBack(target.ConnectionString(), "select name from " + table + " where id = 2"), "zwei");
    // Another session changes the row: an editor closed without a change stores nothing, a change is
    // refused with the library's advice, and the other session's value stays.
    {
        Ref<ado::Connection> other = CreateObjectAs<ado::Connection>("ADODB.Connection");
        other->Open(target.ConnectionString());
        other->Execute("update " + table + " set name = 'deux' where id = 2");
        other->Close();
    }
    EXPECT_TRUE(Model().setData(Model().index(1, 1), "zwei"));
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_FALSE(Model().setData(Model().index(1, 1), "two"));
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_NE(boxes_.Shown()[0].text.find("changed since it was last read"), std::string::npos)
        << boxes_.Shown()[0].text;
    boxes_.Clear();
    window_->Commit();
    EXPECT_EQ(ReadBack(target.ConnectionString(), "select name from " + table + " where id = 2"), "deux");
    // Null where the column forbids it: told, and the row stays as stored.
    EXPECT_FALSE(Model().setData(Model().index(0, 1), ""));
    EXPECT_FALSE(boxes_.Shown().empty());
    boxes_.Clear();
    window_->Rollback();
    EXPECT_EQ(ReadBack(target.ConnectionString(), "select name from " + table + " where id = 1"), "one");
    RunText("drop table " + table);
    window_->Commit();
    EXPECT_TRUE(boxes_.Shown().empty()) << boxes_.Shown().front().text;
}

INSTANTIATE_TEST_SUITE_P(Servers, GuiOdbcTest, ::testing::Values("pg", "maria"));

}  // namespace
}  // namespace korado::gui

int main(int argc, char** argv) {
    // The window is shown offscreen, also when ctest lists the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    korado::ReleaseGlobals();
    return status;
}
