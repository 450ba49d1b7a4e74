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
    Ref<clsADO> fresh = Session("fresh.db", korParamIn);
    const std::string insert = "insert into t (id, name, price) values (:Id, :Name, :Price)";
    struct Side {
        Ref<clsADO> session;
        Ref<Collection> names;  // the list of the run under way
        std::vector<std::string> texts;
        std::vector<std::pair<std::string, std::int32_t>> failures;
        std::function<void()> on_report;  // run once, by the handler of the next failure reported
    };
    Side sides[2] = {{ado_, {}, {}, {}, {}}, {fresh, {}, {}, {}, {}}};
    errors_.OnReport([&](const auto&) {
        for (Side& side : sides)
            if (auto once = std::exchange(side.on_report, nullptr)) once();
    });
    auto variable = [](Side& side, const char* name) {
        Ref<clsBindVariables> vars = side.session->BindVariables();
        return vars->Exists(Variant(name)) ? vars->Item(Variant(name)) : vars->Add(name);
    };
    auto execute = [](Side& side, std::string& sql) {
        std::int32_t affected = 0;
        Ref<ado::Recordset> rs;
        side.session->ExecuteSQL(sql, side.names, affected, rs);
    };
    int id = 0;
    auto step = [&](const std::function<void(Side&)>& set) {
        for (Side& side : sides) {
            side.names = MakeCollection({"Id", "Name", "Price"});
            if (&side == &sides[1]) {
                std::string other = "select :Id";  // another statement in between: the next is bound anew
                execute(side, other);
            }
            variable(side, "Id")->SetValue(id);
            set(side);
            const std::size_t reported = errors_.Reports().size(), shown = boxes_.Shown().size();
            std::string sql = insert;
            execute(side, sql);
            side.texts.push_back(sql);
            for (std::size_t i = reported; i < errors_.Reports().size(); ++i)
                side.failures.emplace_back(errors_.Reports()[i].routine, errors_.Reports()[i].number);
            for (std::size_t i = shown; i < boxes_.Shown().size(); ++i)
                side.failures.emplace_back(boxes_.Shown()[i].text, 0);
        }
        ++id;
    };
    // Steps that only write variables: data type, value, and a size written first where not 0.
    struct Put {
        const char* name;
        std::int32_t type;
        Variant value;
        std::int32_t size = 0;
    };
    const std::vector<Put> puts[] = {
        {{"Id", korTypeNumber, 0}, {"Name", korTypeVarchar2, "Grüße, \"€\""}, {"Price", korTypeNumber, 1.5}},
        {},  // the same values again
        {{"Name", korTypeVarchar2, Variant()}, {"Price", korTypeNumber, 2}},
        {{"Name", korTypeNumber, 42.25}, {"Price", korTypeOther, "x"}},
        {{"Name", korTypeVarchar2, "abcdef", 3}, {"Price", korTypeDate, Variant(DateSerial(2024, 5, 17))}},
        {{"Name", korTypeVarchar2, ""}, {"Price", korTypeDate, Variant::Null()}},
        // A value no parameter takes: no row may keep the last run's values.
        {{"Name", korTypeVarchar2, Variant(MakeCollection({"not a text"}))}, {"Price", korTypeOther, 7}},
        {{"Name", korTypeVarchar2, "back"}},
    };
    for (const std::vector<Put>& writes : puts)
        step([&](Side& side) {
            for (const Put& w : writes) {
                Ref<clsParameter> p = variable(side, w.name);
                if (w.size) p->SetSize(w.size);
                p->SetDataType(w.type);
                p->SetValue(w.value);
            }
        });
    step([&](Side& s) {  // the variables themselves replaced
        s.session->BindVariables()->Delete(Variant("Name"));
        variable(s, "Name")->SetValue("new");
    });
    step([&](Side&) {});
    // A type no binding knows, taken from a session's defaults: the parameter is left as created.
    Ref<clsADO> odd = MakeRef<clsADO>();
    odd->Constructor(nullptr, true, 30, korParamIn, 99, 10, 100);
    step([&](Side& side) { variable(side, "Price")->Constructor("Price", korBindVariable, odd); });
    step([&](Side& side) { variable(side, "Price")->Constructor("Price", korBindVariable, side.session); });
    odd->Destructor();

    // From here a failure is reported while binding reads Name (a Null text's length), and its handler
    // acts while binding is under way. It makes Price, read after Name, an in-out text.
    Ref<clsADO> in_out = MakeRef<clsADO>();
    in_out->Constructor(nullptr, true, 30, korParamInOut, korTypeVarchar2, 10, 100);
    step([&](Side& side) {
        variable(side, "Name")->SetValue(Variant::Null());
        variable(side, "Price")->SetValue(7);
        side.on_report = [&, s = &side] {
            variable(*s, "Price")->Constructor("Price", korBindVariable, in_out);
        };
    });
    step([&](Side& side) { variable(side, "Price")->Constructor("Price", korBindVariable, side.session); });
    in_out->Destructor();
    // It changes the very list of names being bound.
    step([&](Side& side) {
        side.on_report = [s = &side] {
            s->names->Remove(Variant(1));
            for (int i = 0; i < 40; ++i) s->names->Add(Variant("Id"));
        };
    });
    // It runs another statement in the same session, and declares Price again.
    step([&](Side& side) {
        side.on_report = [&, s = &side] {
            std::string other = "select :Price, :Id";
            execute(*s, other);
            s->session->BindVariables()->Delete(Variant("Price"));
            variable(*s, "Price")->SetValue("again");
        };
    });
    // It ends the collection: the binding under way fails at its next lookup, nothing dangles.
    step([](Side&) {});
    step([&](Side& side) { side.on_report = [s = &side] { s->session->BindVariables()->Destructor(); }; });

    auto rows = [](clsADO& session) {
        std::vector<std::string> out;
        Ref<ado::Recordset> rs = session.Connection()->Execute(
            "select quote(id), typeof(name), quote(name), typeof(price), quote(price) from t order by rowid");
        for (; !rs->Eof(); rs->MoveNext()) {
            std::string row;
            for (int i = 0; i < 5; ++i) row += CStr(rs->Fields()->Item(Variant(i))->Value()) + "|";
            out.push_back(row);
        }
        return out;
    };
    ASSERT_FALSE(sides[0].failures.empty());
    EXPECT_EQ(sides[0].failures, sides[1].failures);
    EXPECT_EQ(sides[0].texts, sides[1].texts);
    const std::vector<std::string> stored = rows(*ado_);
    ASSERT_GE(stored.size(), 15u);
    EXPECT_EQ(stored, rows(*fresh));
    // And what a new command stores is right: every type, with what binding rewrote standing for each.
    EXPECT_EQ(stored[0], "0|text|'Grüße, \"€\"'|real|1.5|");
    EXPECT_EQ(stored[2], "2|null|NULL|real|2.0|");
    EXPECT_EQ(stored[4], "4|text|'abcdef'|text|'2024-05-17'|");
    errors_.OnReport(nullptr);
}

}  // namespace
}  // namespace korado
