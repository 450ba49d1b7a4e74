// Bind variables through the real platform on an SQLite file: the rewritten statement runs on a real
// ADODB.Command with the parameters AddParametersToCommand appended. (SQLite's refusal of output variables
// is checked through a whole session in clsado_sqlite_test.cpp.)
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
        ado_ = MakeRef<clsADO>();
        ado_->Constructor(nullptr, true, 30, default_mode_, korTypeVarchar2, 10, 100);
        std::string user, pass, dsn;
        Variant cs("Provider=SQLite;Data Source=" + dir_.File("bind.db"));
        ASSERT_TRUE(ado_->Connect(user, pass, dsn, cs));
        bv_ = ado_->BindVariables();
        ASSERT_TRUE(bv_);
        ado_->Connection()->Execute("create table t (id integer, name varchar(50), price double, day date)");
    }

    void TearDown() override {
        bv_ = nullptr;
        if (ado_) {
            ado_->Disconnect();
            ado_->Destructor();
        }
        ado_ = nullptr;
        ReleaseGlobals();
    }

    // Runs `sql` with the listed bind variables on a fresh command; returns the command.
    Ref<ado::Command> Run(std::string sql, std::initializer_list<Variant> names,
                          Ref<ado::Recordset>* rows = nullptr) {
        Ref<ado::Command> command = CreateObjectAs<ado::Command>("ADODB.Command");
        command->SetActiveConnection(ado_->Connection());
        Ref<Collection> list = MakeCollection(names);
        bv_->AddParametersToCommand(command, list, sql);
        command->SetCommandText(sql);
        Ref<ado::Recordset> rs = command->Execute();
        if (rows) *rows = rs;
        return command;
    }

    std::int32_t default_mode_ = korParamIn;
    test::TempDir dir_;
    test::ErrorCapture errors_;
    test::MessageBoxCapture boxes_;
    Ref<clsADO> ado_;
    Ref<clsBindVariables> bv_;
};

TEST_F(SqliteBindVariables, ValuesOfEveryTypeRoundTrip) {
    auto var = [&](const char* name, std::int32_t type, Variant value) {
        Ref<clsParameter> p = bv_->Add(name);
        p->SetDataType(type);
        p->SetValue(std::move(value));
    };
    var("Id", korTypeNumber, 7);
    var("Name", korTypeVarchar2, "Grüße, \"€\"");
    var("Price", korTypeNumber, 12.5);
    var("Day", korTypeDate, Variant(DateSerial(2024, 5, 17)));
    // Listed in another order than the text: the parameters still follow the placeholders.
    Ref<ado::Command> insert =
        Run("insert into t values (:Id, :Name, :Price, :Day)", {"Day", "Price", "Name", "Id"});
    EXPECT_EQ(insert->Parameters()->Count(), 4);
    EXPECT_EQ(insert->CommandText(), "insert into t values (?  , ?    , ?     , ?   )");

    var("Nothing", korTypeVarchar2, Variant::Null());
    Run("insert into t (id, name) values (8, :Nothing)", {"Nothing"});
    EXPECT_EQ(errors_.Reports().size(), 1u);  // the Null text's length, reported by its read

    Ref<ado::Recordset> rs;
    Run("select id, name, price, day from t where id = :Id or name = :Name or :Name is null order by id",
        {"Id", "Name"}, &rs);
    ASSERT_TRUE(rs);
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(CLng(rs->Fields()->Item("id")->Value()), 7);
    EXPECT_EQ(CStr(rs->Fields()->Item("name")->Value()), "Grüße, \"€\"");
    EXPECT_EQ(CDbl(rs->Fields()->Item("price")->Value()), 12.5);
    EXPECT_EQ(CDate(rs->Fields()->Item("day")->Value()), DateSerial(2024, 5, 17));
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());

    // Null binds as Null: the row is found only by IS NULL.
    Run("select id from t where name is :Nothing", {"Nothing"}, &rs);
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(CLng(rs->Fields()->Item(0)->Value()), 8);
}

// Reading output values back skips the lookups of input variables only while the command's parameters are
// as binding left them: a parameter renamed or deleted since, or another command, still fails the lookup.
TEST_F(SqliteBindVariables, InputLookupsFailOnceTheParametersChanged) {
    Ref<clsParameter> id = bv_->Add("Id");
    id->SetDataType(korTypeNumber);
    id->SetValue(1);
    bv_->Add("Name")->SetValue("n");
    const std::string sql = "insert into t (id, name) values (:Id, :Name)";
    Ref<Collection> names = MakeCollection({"Id", "Name"});
    auto populate_reports = [&](const Ref<ado::Command>& command) {
        const std::size_t before = errors_.Reports().size();
        Ref<ado::Command> c = command;
        bv_->PopulateOutputParameters(c, names);
        for (std::size_t i = before; i < errors_.Reports().size(); ++i) {
            EXPECT_EQ(errors_.Reports()[i].routine, "PopulateOutputParameters");
            EXPECT_EQ(errors_.Reports()[i].number, ado::adErrItemNotFound);
        }
        return errors_.Reports().size() - before;
    };

    for (int run = 0; run < 2; ++run) {  // recorded, then bound from what the first run found
        Ref<ado::Command> command = Run(sql, {"Id", "Name"});
        EXPECT_EQ(populate_reports(command), 0u);
        Ref<ado::Parameter> second = command->Parameters()->Item(Variant(1));
        second->SetName("Other");
        EXPECT_EQ(populate_reports(command), 1u);
        second->SetName("NAME");
        EXPECT_EQ(populate_reports(command), 0u);
    }

    Ref<ado::Command> command = Run(sql, {"Id", "Name"});
    command->Parameters()->Delete(Variant(0));
    EXPECT_EQ(populate_reports(command), 1u);

    Run(sql, {"Id", "Name"});
    Ref<ado::Command> other = CreateObjectAs<ado::Command>("ADODB.Command");
    other->Parameters()->Append(other->CreateParameter("Id", ado::adDouble, ado::adParamInput, 0, 1));
    EXPECT_EQ(populate_reports(other), 1u);
}

// Output values are read back by the variables' modes as they stand after the statement: a variable made
// in-out since binding (here by a constructor call against a session whose default mode is in-out) takes
// its parameter's value back, even though binding found every variable input.
TEST_F(SqliteBindVariables, AVariableMadeOutputSinceBindingIsReadBack) {
    Ref<clsParameter> id = bv_->Add("Id");
    id->SetDataType(korTypeNumber);
    id->SetValue(1);
    Ref<Collection> names = MakeCollection({"Id"});
    const std::string sql = "insert into t (id) values (:Id)";
    for (int run = 0; run < 2; ++run) {  // recorded, then bound from what the first run found
        Ref<ado::Command> command = Run(sql, {"Id"});
        bv_->PopulateOutputParameters(command, names);
        EXPECT_EQ(id->Value().Type(), VarType::Long);
    }

    Ref<ado::Command> command = Run(sql, {"Id"});
    Ref<clsADO> in_out = MakeRef<clsADO>();
    in_out->Constructor(nullptr, true, 30, korParamInOut, korTypeNumber, 10, 100);
    id->Constructor("Id", korBindVariable, in_out);
    ASSERT_EQ(id->Mode(), korParamInOut);
    bv_->PopulateOutputParameters(command, names);
    EXPECT_EQ(id->Value().Type(), VarType::Double);
    EXPECT_EQ(CDbl(id->Value()), 1.0);
    EXPECT_TRUE(errors_.Reports().empty());
    id->Constructor("Id", korBindVariable, ado_);
    in_out->Destructor();
}

// ExecuteSQL runs a statement again in the command it last ran in, its parameters set anew. Whatever the
// host changes between runs (values, Null, empty texts, data types, a value that cannot be bound, the
// variables themselves), each run must store what a new command stores: a second session, whose statements
// are always bound on a new command, runs the same steps into its own file, and both files must read the
// same, types included, as must the rewritten texts and the failures reported.
TEST_F(SqliteBindVariables, AStatementRunAgainStoresWhatANewCommandStores) {
    Ref<clsADO> fresh = MakeRef<clsADO>();
    fresh->Constructor(nullptr, true, 30, korParamIn, korTypeVarchar2, 10, 100);
    std::string user, pass, dsn;
    Variant cs("Provider=SQLite;Data Source=" + dir_.File("fresh.db"));
    ASSERT_TRUE(fresh->Connect(user, pass, dsn, cs));
    fresh->Connection()->Execute("create table t (id integer, name varchar(50), price double, day date)");

    const std::string insert = "insert into t (id, name, price) values (:Id, :Name, :Price)";
    struct Side {
        Ref<clsADO> session;
        std::vector<std::string> texts;
        std::vector<std::pair<std::string, std::int32_t>> failures;
        std::function<void()> on_report;  // run once, by the handler of the next failure reported
    };
    Side sides[2] = {{ado_, {}, {}, {}}, {fresh, {}, {}, {}}};
    errors_.OnReport([&](const auto&) {
        for (Side& side : sides)
            if (auto once = std::exchange(side.on_report, nullptr)) once();
    });
    auto variable = [](Side& side, const char* name) {
        Ref<clsBindVariables> vars = side.session->BindVariables();
        return vars->Exists(Variant(name)) ? vars->Item(Variant(name)) : vars->Add(name);
    };
    auto run = [&](const std::function<void(Side&)>& set) {
        for (Side& side : sides) {
            Ref<Collection> names = MakeCollection({"Id", "Name", "Price"});
            if (&side == &sides[1]) {
                // Another statement in between: the next is bound from scratch.
                std::string other = "select :Id";
                std::int32_t affected = 0;
                Ref<ado::Recordset> rs;
                side.session->ExecuteSQL(other, names, affected, rs);
            }
            set(side);
            const std::size_t reported = errors_.Reports().size(), shown = boxes_.Shown().size();
            std::string sql = insert;
            std::int32_t affected = 0;
            Ref<ado::Recordset> rs;
            side.session->ExecuteSQL(sql, names, affected, rs);
            side.texts.push_back(sql);
            for (std::size_t i = reported; i < errors_.Reports().size(); ++i)
                side.failures.emplace_back(errors_.Reports()[i].routine, errors_.Reports()[i].number);
            for (std::size_t i = shown; i < boxes_.Shown().size(); ++i)
                side.failures.emplace_back(boxes_.Shown()[i].text, 0);
        }
    };

    int id = 0;
    auto next = [&](Side& side) { variable(side, "Id")->SetValue(id); };
    auto step = [&](const std::function<void(Side&)>& set) {
        run([&](Side& side) {
            next(side);
            set(side);
        });
        ++id;
    };
    step([&](Side& side) {
        variable(side, "Id")->SetDataType(korTypeNumber);
        variable(side, "Name")->SetValue("a");
        Ref<clsParameter> price = variable(side, "Price");
        price->SetDataType(korTypeNumber);
        price->SetValue(1.5);
    });
    step([&](Side&) {});  // the same values again
    step([&](Side& side) {
        variable(side, "Name")->SetValue(Variant());
        variable(side, "Price")->SetValue(2);
    });
    step([&](Side& side) {
        Ref<clsParameter> name = variable(side, "Name");
        name->SetDataType(korTypeNumber);
        name->SetValue(42.25);
        Ref<clsParameter> price = variable(side, "Price");
        price->SetDataType(korTypeOther);
        price->SetValue("x");
    });
    step([&](Side& side) {
        Ref<clsParameter> name = variable(side, "Name");
        name->SetDataType(korTypeVarchar2);
        std::int32_t size = 3;
        name->SetSize(size);
        name->SetValue("abcdef");
        Ref<clsParameter> price = variable(side, "Price");
        price->SetDataType(korTypeDate);
        price->SetValue(Variant(DateSerial(2024, 5, 17)));
    });
    step([&](Side& side) {
        variable(side, "Name")->SetValue("");
        variable(side, "Price")->SetValue(Variant::Null());
    });
    step([&](Side& side) {  // a value no parameter takes: no row may keep the last run's values
        variable(side, "Name")->SetValue(Variant(MakeCollection({"not a text"})));
        variable(side, "Price")->SetDataType(korTypeOther);
        variable(side, "Price")->SetValue(7);
    });
    step([&](Side& side) { variable(side, "Name")->SetValue("back"); });
    step([&](Side& side) {  // the variables themselves replaced
        side.session->BindVariables()->Delete(Variant("Name"));
        variable(side, "Name")->SetValue("new");
    });
    step([&](Side&) {});
    // A type no binding knows, taken from a session's defaults: the parameter is left as created.
    Ref<clsADO> odd = MakeRef<clsADO>();
    odd->Constructor(nullptr, true, 30, korParamIn, 99, 10, 100);
    step([&](Side& side) { variable(side, "Price")->Constructor("Price", korBindVariable, odd); });
    step([&](Side& side) { variable(side, "Price")->Constructor("Price", korBindVariable, side.session); });
    odd->Destructor();
    // A failure reported while binding reads Name (a Null text's length), whose handler makes Price, read
    // after it, an in-out text: Price is bound as the handler left it.
    Ref<clsADO> in_out = MakeRef<clsADO>();
    in_out->Constructor(nullptr, true, 30, korParamInOut, korTypeVarchar2, 10, 100);
    step([&](Side& side) {
        variable(side, "Name")->SetValue(Variant::Null());
        variable(side, "Price")->SetValue(7);
        side.on_report = [&variable, &side, &in_out] {
            variable(side, "Price")->Constructor("Price", korBindVariable, in_out);
        };
    });
    step([&](Side& side) { variable(side, "Price")->Constructor("Price", korBindVariable, side.session); });
    in_out->Destructor();

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
    EXPECT_EQ(stored.size(), 13u);  // all but the run with a value no parameter takes
    EXPECT_EQ(stored, rows(*fresh));

    errors_.OnReport(nullptr);
    fresh->Disconnect();
    fresh->Destructor();
}

// A failure reported while binding reads a value runs the host's handler, which may change the very list of
// names being bound: binding goes on with the names as the list read when it began, whichever way it takes
// (a first binding, the same statement on a new command, the same statement run again in its command).
TEST_F(SqliteBindVariables, AHandlerThatChangesTheListOfNamesLeavesTheBindingWhole) {
    Ref<clsParameter> id = bv_->Add("Id");
    id->SetDataType(korTypeNumber);
    id->SetValue(1);
    bv_->Add("Name")->SetValue(Variant::Null());  // a Null text's length is reported when read
    const std::string insert = "insert into t (id, name) values (:Id, :Name)";
    Ref<Collection> names = MakeCollection({"Id", "Name"});
    errors_.OnReport([&](const auto&) {
        names->Remove(Variant(1));
        for (int i = 0; i < 40; ++i) names->Add(Variant("Id"));
    });
    for (int run = 0; run < 3; ++run) {
        names = MakeCollection({"Id", "Name"});
        Ref<ado::Command> command = CreateObjectAs<ado::Command>("ADODB.Command");
        command->SetActiveConnection(ado_->Connection());
        std::string sql = insert;
        bv_->AddParametersToCommand(command, names, sql);
        EXPECT_EQ(sql, "insert into t (id, name) values (?  , ?    )");
        EXPECT_EQ(command->Parameters()->Count(), 2);
    }
    for (int run = 0; run < 3; ++run) {
        names = MakeCollection({"Id", "Name"});
        std::string sql = insert;
        std::int32_t affected = 0;
        Ref<ado::Recordset> rs;
        ado_->ExecuteSQL(sql, names, affected, rs);
        EXPECT_EQ(affected, 1);
    }
    errors_.OnReport(nullptr);
    Ref<ado::Recordset> rs =
        ado_->Connection()->Execute("select count(*) from t where id = 1 and name is null");
    EXPECT_EQ(CLng(rs->Fields()->Item(Variant(0))->Value()), 3);
}

// A session whose default mode is input-output (taken without the provider check): SQLite leaves the
// parameters as bound, so the padded output buffers are what is stored and what comes back.
class SqliteInOutSession : public SqliteBindVariables {
  protected:
    SqliteInOutSession() { default_mode_ = korParamInOut; }
};

TEST_F(SqliteInOutSession, PaddedBuffersAreStoredAndComeBack) {
    Ref<clsParameter> name = bv_->Add("Name");
    ASSERT_EQ(name->Mode(), korParamInOut);
    name->SetValue("abc");
    Ref<clsParameter> id = bv_->Add("Id");
    id->SetDataType(korTypeNumber);
    id->SetValue("0042");
    Ref<ado::Command> command = Run("insert into t (id, name) values (:Id, :Name)", {"Id", "Name"});
    ASSERT_EQ(command->Parameters()->Count(), 2);
    EXPECT_EQ(command->Parameters()->Item(1)->Size(), 255);

    Ref<ado::Recordset> rs = ado_->Connection()->Execute("select id, name from t");
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(CLng(rs->Fields()->Item("id")->Value()), 42);
    EXPECT_EQ(CStr(rs->Fields()->Item("name")->Value()), "abc" + std::string(252, ' '));

    Ref<Collection> names = MakeCollection({"Id", "Name"});
    bv_->PopulateOutputParameters(command, names);
    EXPECT_EQ(id->Value(), Variant(42.0));
    EXPECT_EQ(CStr(name->Value()), "abc" + std::string(252, ' '));
    EXPECT_TRUE(errors_.Reports().empty());
}

}  // namespace
}  // namespace korado
