#include "support/session.h"

#include "korado/platform/modGlobals.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/runtime/collection.h"
#include "korado/runtime/registry.h"

namespace korado::test {

Session::Session(bool allow_transactions, std::int32_t default_mode, std::int32_t default_type) {
    ado_ = CreateObjectAs<clsADO>("korADO.clsADO");
    ado_->Constructor(nullptr, allow_transactions, 30, default_mode, default_type, 10, 100);
}

Session::~Session() {
    // Close what the test left open: a session keeps a transaction, which Disconnect would refuse.
    if (ado_->Connection() && ado_->Connection()->State() == ado::adStateOpen) {
        try {
            ado_->Connection()->RollbackTrans();
        } catch (const Error&) {
        }
    }
    ado_->Disconnect();
    ado_->Destructor();
    ado_ = nullptr;
    ReleaseGlobals();
}

ConnectResult Session::Connect(const std::string& connection_string, std::string user, std::string pass,
                               std::string dsn) {
    Variant cs(connection_string);
    const bool ok = ado_->Connect(user, pass, dsn, cs);
    return {ok, user, pass, dsn, cs.IsNull() ? "" : CStr(cs)};
}

std::int32_t Session::Execute(std::string sql, std::initializer_list<Variant> names,
                              Ref<ado::Recordset>* recordset) {
    Ref<Collection> list = names.size() ? MakeCollection(names) : nullptr;
    std::int32_t affected = -99;
    Ref<ado::Recordset> rs;
    ado_->ExecuteSQL(sql, list, affected, rs);
    if (recordset) *recordset = rs;
    return affected;
}

Variant Session::Scalar(const std::string& sql) {
    Ref<ado::Recordset> rs;
    Execute(sql, {}, &rs);
    if (!rs || rs->Eof()) return Variant();
    return rs->Fields()->Item(0)->Value();
}

Ref<clsDynasetADO> Session::Dynaset(std::string sql, bool large) {
    Ref<Collection> names;
    return ado_->CreateDynaset(sql, names, large);
}

}  // namespace korado::test
