// A query opened the way the dynaset opens one (a text command on the connection, the recordset's cursor
// settings, then Open with the command alone), and its failure gathered as the open-failure table reads
// it: the raised error, the connection's first error entry, and the DBMS name where the source needs it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/error.h"
#include "korado/runtime/registry.h"
#include "resultsets/open_diagnoses.h"

namespace korado::test {

// Fails the test (and returns an empty failure) when the query opens.
inline open_diagnoses::OpenFailure FailedOpen(const Ref<ado::Connection>& connection, const std::string& sql,
                                              bool large) {
    Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    rs->SetCursorLocation(large ? ado::adUseServer : ado::adUseClient);
    rs->SetActiveConnection(connection);
    rs->SetCursorType(large ? ado::adOpenForwardOnly : ado::adOpenDynamic);
    Ref<ado::Command> command = CreateObjectAs<ado::Command>("ADODB.Command");
    command->SetCommandType(ado::adCmdText);
    command->SetCommandTimeout(30);
    command->SetActiveConnection(connection);
    command->SetCommandText(sql);
    rs->SetCacheSize(100);
    rs->SetLockType(large ? ado::adLockReadOnly : ado::adLockPessimistic);
    rs->SetPageSize(10);
    open_diagnoses::OpenFailure f;
    try {
        rs->Open(Variant(command), Variant::Missing(), -1, -1, -1);
        ADD_FAILURE() << "opened: " << sql;
        return f;
    } catch (const Error& e) {
        f = {e.Source(), e.Number(), e.Description()};
    }
    if (connection->Errors()->Count() > 0) {
        Ref<ado::Error> first = connection->Errors()->Item(Variant(0));
        f.native_error = first->NativeError();
        f.first_number = first->Number();
        f.first_source = first->Source();
        f.first_description = first->Description();
    }
    if (open_diagnoses::NeedsDbmsName(f.source))
        f.dbms_name = CStr(connection->Properties()->Item(Variant("DBMS Name"))->Value());
    f.sql = sql;
    return f;
}

}  // namespace korado::test
