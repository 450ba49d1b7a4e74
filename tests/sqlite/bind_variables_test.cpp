// Bind variables through the real platform on an SQLite file: the rewritten statement runs on a real
// ADODB.Command with the parameters AddParametersToCommand appended, and a statement run again in the
// command it last ran in stores what a new command stores. (SQLite's refusal of output variables is
// checked through a whole session in clsado_sqlite_test.cpp.)
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "korado/connection/clsADO.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/registry.h"
#include "korado/runtime/strings.h"
#include "support/support.h"

namespace korado {
namespace {

class SqliteBindVariables : public ::testing::Test {
  protected:
    void SetUp() override {
        ado_ = Session("bind.db", korParamIn);
        bv_ = ado_->BindVariables();
        ASSERT_TRUE(bv_);
    }

    void TearDown() override {
        bv_ = nullptr;
        for (Ref<clsADO>& ado : sessions_) {
            ado->Disconnect();
            ado->Destructor();
        }
        sessions_.clear();
        ado_ = nullptr;
        ReleaseGlobals();
    }

    // A connected session on its own file, with the table t.
    Ref<clsADO> Session(const char* file, std::int32_t mode) {
        Ref<clsADO> ado = MakeRef<clsADO>();
        ado->Constructor(nullptr, true, 30, mode, korTypeVarchar2, 10, 100);
        std::string user, pass, dsn;
        Variant cs("Provider=SQLite;Data Source=" + dir_.File(file));
        EXPECT_TRUE(ado->Connect(user, pass, dsn, cs));
        ado->Connection()->Execute("create table t (id integer, name varchar(50), price double, day date)");
        sessions_.push_back(ado);
        return ado;
    }

    // Inserts the bind variables Id and Name into t on a fresh command; returns the command.
    Ref<ado::Command> Run() {
        std::string sql = "insert into t (id, name) values (:Id, :Name)";
        Ref<ado::Command> command = CreateObjectAs<ado::Command>("ADODB.Command");
        command->SetActiveConnection(ado_->Connection());
        Ref<Collection> list = MakeCollection({"Id", "Name"});
        bv_->AddParametersToCommand(command, list, sql);
        command->SetCommandText(sql);
        command->Execute();
        return command;
    }

    test::TempDir dir_;
    test::ErrorCapture errors_;
    test::MessageBoxCapture boxes_;
    std::vector<Ref<clsADO>> sessions_;
    Ref<clsADO> ado_;
    Ref<clsBindVariables> bv_;
};

// Reading output values back looks nothing up only while the command's parameters are as binding left
// them and every variable is still input: a parameter renamed or deleted since, or a variable made in-out
// since (here by a constructor call against a session whose default mode is in-out)
// is looked at again.
TEST_F(SqliteBindVariables, OutputsAreReadBackWhereTheCommandOrTheModesChanged) {
    Ref<clsParameter> id = bv_->Add("Id");
    id->SetDataType(korTypeNumber);
    id->SetValue(1);
    bv_->Add("Name")->SetValue("n");
    Ref<Collection> names = MakeCollection({"Id", "Name"});
    auto populate_reports = [&](Ref<ado::Command> command) {
        const std::size_t before = errors_.Reports().size();
        bv_->PopulateOutputParameters(command, names);
        for (std::size_t i = before; i < errors_.Reports().size(); ++i)
            EXPECT_EQ(errors_.Reports()[i].number, ado::adErrItemNotFound);
        return errors_.Reports().size() - before;
    };
    Ref<ado::Command> command = Run();
    EXPECT_EQ(populate_reports(command), 0u);
    command->Parameters()->Item(Variant(1))->SetName("Other");
    EXPECT_EQ(populate_reports(command), 1u);
    command = Run();
    command->Parameters()->Delete(Variant(0));
    EXPECT_EQ(populate_reports(command), 1u);

    command = Run();
    Ref<clsADO> in_out = MakeRef<clsADO>();
    in_out->Constructor(nullptr, true, 30, korParamInOut, korTypeNumber, 10, 100);
    id->Constructor("Id", korBindVariable, in_out);
    EXPECT_EQ(populate_reports(command), 0u);
    EXPECT_EQ(id->Value(), Variant(1.0));
    id->Constructor("Id", korBindVariable, ado_);
    in_out->Destructor();
}

// ExecuteSQL runs a statement again in the command it last ran in, its parameters set anew. Whatever the
// host changes between runs (values, Null, empty texts, data types, a value that cannot be bound, the
// variables themselves, and what a handler does while a failure is reported during binding), each run must
// store what a new command stores: a second session, whose statements are always bound on a new command,
// runs the same steps into its own file, and both files must read the same, types included, as must the
// rewritten texts and the failures reported.
TEST_F(SqliteBindVariables, AStatementRunAgainStoresWhatANewCommandStores) {
    struct Outcome {
        std::vector<std::string> texts, rows;
        std::vector<std::pair<std::string, std::int32_t>> failures;
    };
    // The whole series on one session; `anew`: another statement runs before each insert, which is then
    // bound on a new command.
    auto series = [&](const Ref<clsADO>& session, bool anew) {
        Outcome out;
        Ref<Collection> names;            // the list of the run under way
        std::function<void()> on_report;  // run once, by the handler of the next failure reported
        errors_.OnReport([&](const auto&) {
            if (auto once = std::exchange(on_report, nullptr)) once();
        });
        auto variable = [&](const char* name) {
            Ref<clsBindVariables> vars = session->BindVariables();
            return vars->Exists(Variant(name)) ? vars->Item(Variant(name)) : vars->Add(name);
        };
        auto execute = [&](std::string sql) {
            std::int32_t affected = 0;
            Ref<ado::Recordset> rs;
            session->ExecuteSQL(sql, names, affected, rs);
            return sql;
        };
        int id = 0;
        auto step = [&](const std::function<void()>& set) {
            names = MakeCollection({"Id", "Name", "Price"});
            if (anew) execute("select :Id");
            variable("Id")->SetValue(id++);
            set();
            const std::size_t reported = errors_.Reports().size(), shown = boxes_.Shown().size();
            out.texts.push_back(execute("insert into t (id, name, price) values (:Id, :Name, :Price)"));
            for (std::size_t i = reported; i < errors_.Reports().size(); ++i)
                out.failures.emplace_back(errors_.Reports()[i].routine, errors_.Reports()[i].number);
            for (std::size_t i = shown; i < boxes_.Shown().size(); ++i)
                out.failures.emplace_back(boxes_.Shown()[i].text, 0);
        };
        // Steps that only write variables: data type, value, and a size written first where not 0.
        struct Put {
            const char* name;
            std::int32_t type;
            Variant value;
            std::int32_t size = 0;
        };
        const std::vector<Put> puts[] = {
            {{"Id", korTypeNumber, 0},
             {"Name", korTypeVarchar2, "Grüße, \"€\""},
             {"Price", korTypeNumber, 1.5}},
            {},  // the same values again
            {{"Name", korTypeVarchar2, Variant()}, {"Price", korTypeNumber, 2}},
            {{"Name", korTypeNumber, 42.25}, {"Price", korTypeOther, "x"}},
            {{"Name", korTypeVarchar2, "abcdef", 3},
             {"Price", korTypeDate, Variant(DateSerial(2024, 5, 17))}},
            {{"Name", korTypeVarchar2, ""}, {"Price", korTypeDate, Variant::Null()}},
            // A value no parameter takes: no row may keep the last run's values.
            {{"Name", korTypeVarchar2, Variant(MakeCollection({"not a text"}))}, {"Price", korTypeOther, 7}},
            {{"Name", korTypeVarchar2, "back"}},
        };
        for (const std::vector<Put>& writes : puts)
            step([&] {
                for (const Put& w : writes) {
                    Ref<clsParameter> p = variable(w.name);
                    if (w.size) p->SetSize(w.size);
                    p->SetDataType(w.type);
                    p->SetValue(w.value);
                }
            });
        step([&] {  // the variables themselves replaced
            session->BindVariables()->Delete(Variant("Name"));
            variable("Name")->SetValue("new");
        });
        step([] {});
        // A type no binding knows, taken from a session's defaults: the parameter is left as created.
        Ref<clsADO> odd = MakeRef<clsADO>();
        odd->Constructor(nullptr, true, 30, korParamIn, 99, 10, 100);
        step([&] { variable("Price")->Constructor("Price", korBindVariable, odd); });
        step([&] { variable("Price")->Constructor("Price", korBindVariable, session); });
        odd->Destructor();

        // From here a failure is reported while binding reads Name (a Null text's length), and its handler
        // acts while binding is under way. It makes Price, read after Name, an in-out text.
        Ref<clsADO> in_out = MakeRef<clsADO>();
        in_out->Constructor(nullptr, true, 30, korParamInOut, korTypeVarchar2, 10, 100);
        step([&] {
            variable("Name")->SetValue(Variant::Null());
            variable("Price")->SetValue(7);
            on_report = [&] { variable("Price")->Constructor("Price", korBindVariable, in_out); };
        });
        step([&] { variable("Price")->Constructor("Price", korBindVariable, session); });
        in_out->Destructor();
        // It changes the very list of names being bound.
        step([&] {
            on_report = [&] {
                names->Remove(Variant(1));
                for (int i = 0; i < 40; ++i) names->Add(Variant("Id"));
            };
        });
        // It runs another statement in the same session, and declares Price again.
        step([&] {
            on_report = [&] {
                execute("select :Price, :Id");
                session->BindVariables()->Delete(Variant("Price"));
                variable("Price")->SetValue("again");
            };
        });
        // It ends the collection: the binding under way fails at its next lookup, nothing dangles.
        step([] {});
        step([&] { on_report = [&] { session->BindVariables()->Destructor(); }; });
        errors_.OnReport(nullptr);

        Ref<ado::Recordset> rs = session->Connection()->Execute(
            "select quote(id), typeof(name), quote(name), typeof(price), quote(price) from t order by rowid");
        for (; !rs->Eof(); rs->MoveNext()) {
            std::string row;
            for (int i = 0; i < 5; ++i) row += CStr(rs->Fields()->Item(Variant(i))->Value()) + "|";
            out.rows.push_back(row);
        }
        return out;
    };
    const Outcome again = series(ado_, false), fresh = series(Session("fresh.db", korParamIn), true);
    ASSERT_FALSE(again.failures.empty());
    EXPECT_EQ(again.failures, fresh.failures);
    EXPECT_EQ(again.texts, fresh.texts);
    ASSERT_GE(again.rows.size(), 15u);
    EXPECT_EQ(again.rows, fresh.rows);
    // And what a new command stores is right: every type, with what binding rewrote standing for each.
    EXPECT_EQ(again.rows[0], "0|text|'Grüße, \"€\"'|real|1.5|");
    EXPECT_EQ(again.rows[2], "2|null|NULL|real|2.0|");
    EXPECT_EQ(again.rows[4], "4|text|'abcdef'|text|'2024-05-17'|");
}

}  // namespace
}  // namespace korado
