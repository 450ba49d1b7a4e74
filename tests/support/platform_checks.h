// Checks of what the result sets rely on from a platform recordset, run against the ODBC bridge over each DSN
// (odbc/odbc_platform_test.cpp); the field descriptions also against the native SQLite provider
// (sqlite/sqlite_recordset_test.cpp).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"

namespace korado::test {

// Column 0 of every row from the current one to EOF.
inline std::vector<std::int32_t> Rest(const Ref<ado::Recordset>& rs) {
    std::vector<std::int32_t> values;
    for (; !rs->Eof(); rs->MoveNext()) values.push_back(CLng(rs->Fields()->At(0)->Value()));
    return values;
}

// A forward-only server cursor and a static client cursor over `table` (rows i = 1..5, s = 'row<i>',
// d = i / 2), opened as a result set opens them: a dynamic cursor with pessimistic locking asked of the
// client engine, read-only forward-only on the server.
inline void CheckCursorKinds(const Ref<ado::Connection>& connection, const std::string& table) {
    struct Kind {
        const char* name;
        std::int32_t location, asked_type, asked_lock;
        std::int32_t type, lock, record_count, position;  // while open; position on the first row
        bool back;                                        // moves back, holds its rows, knows its position
    } kinds[] = {
        {"server forward-only", ado::adUseServer, ado::adOpenForwardOnly, ado::adLockReadOnly,
         ado::adOpenForwardOnly, ado::adLockReadOnly, -1, -1, false},
        {"client", ado::adUseClient, ado::adOpenDynamic, ado::adLockPessimistic, ado::adOpenStatic,
         ado::adLockOptimistic, 5, 1, true},
    };
    const std::int32_t refused[] = {ado::adBookmark,    ado::adUpdate, ado::adAddNew, ado::adDelete,
                                    ado::adUpdateBatch, ado::adResync, ado::adFind,   ado::adSeek,
                                    ado::adIndex,       ado::adNotify};
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(k.location);
        rs->SetCursorType(k.asked_type);
        rs->SetLockType(k.asked_lock);
        rs->Open(Variant("SELECT i, s, d FROM " + table + " ORDER BY i"), Variant(connection));
        EXPECT_EQ(std::tuple(rs->CursorType(), rs->LockType()), std::tuple(k.type, k.lock));
        EXPECT_EQ(std::tuple(rs->RecordCount(), rs->AbsolutePosition()),
                  std::tuple(k.record_count, k.position));
        for (std::int32_t held : {ado::adMovePrevious, ado::adHoldRecords, ado::adApproxPosition})
            EXPECT_EQ(rs->Supports(held), k.back) << held;
        for (std::int32_t option : refused) EXPECT_FALSE(rs->Supports(option)) << option;

        // A filter shows the matching rows from the first one still ahead; group 0 shows every row again.
        rs->MoveNext();
        rs->SetFilter(Variant("d >= 1.5 AND s <> 'ROW4'"));
        EXPECT_EQ(rs->RecordCount(), k.back ? 2 : -1);
        EXPECT_EQ(Rest(rs), (std::vector<std::int32_t>{3, 5}));
        rs->SetFilter(Variant(ado::adFilterNone));
        EXPECT_EQ(CLng(rs->Filter()), ado::adFilterNone);
        if (k.back) {
            EXPECT_EQ(rs->RecordCount(), 5);
            rs->MoveLast();
            EXPECT_EQ(rs->AbsolutePosition(), 5);
            rs->MoveNext();
            EXPECT_EQ(rs->AbsolutePosition(), -3);  // adPosEOF
        }
        rs->Close();
    }
}

inline void FillCursorTable(const Ref<ado::Connection>& connection, const std::string& table) {
    connection->Execute("CREATE TABLE " + table + " (i INTEGER, s VARCHAR(10), d NUMERIC(6,2))");
    for (int i = 1; i <= 5; ++i)
        connection->Execute("INSERT INTO " + table + " VALUES (" + std::to_string(i) + ", 'row" +
                            std::to_string(i) + "', " + std::to_string(i / 2.0) + ")");
}

// How the fields of `table` (made by FillFieldTable) describe themselves, through both cursors. The ODBC
// bridge marks every query field 0x8 (may or may not be updatable), the native provider 0x4. The SQLite3
// ODBC driver describes every column as nullable and CHAR as VARCHAR.
struct ProviderQuirks {
    bool bridge, sqlite_driver;
    std::string text_type;
};

inline void FillFieldTable(const Ref<ado::Connection>& connection, const std::string& table,
                           const ProviderQuirks& p) {
    connection->Execute("CREATE TABLE " + table +
                        " (n INTEGER NOT NULL, v VARCHAR(10), c CHAR(4), w VARCHAR(300), t " + p.text_type +
                        ", d NUMERIC(8,3))");
    connection->Execute("INSERT INTO " + table +
                        " VALUES (1, 'v1', 'c1', 'w1', 't1', 1.5), (2, 'v2', 'c2', 'w2', NULL, 2.25)");
}

inline void CheckFieldDescriptions(const Ref<ado::Connection>& connection, const std::string& table,
                                   const ProviderQuirks& p) {
    struct Column {
        std::int32_t size;  // DefinedSize; 0: the driver's limit for a long text, above 255 or unlimited
        bool fixed, nullable, long_data;
    } columns[] = {
        {4, true, p.sqlite_driver, false}, {10, false, true, false}, {4, !p.sqlite_driver, true, false},
        {300, false, true, true},          {0, false, true, true},   {0, true, true, false}};
    for (std::int32_t location : {ado::adUseServer, ado::adUseClient}) {
        SCOPED_TRACE(location);
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(location);
        rs->Open(Variant("SELECT n, v, c, w, t, d FROM " + table + " ORDER BY n"), Variant(connection));
        for (int row = 1; row <= 2; ++row, rs->MoveNext()) {
            for (int i = 0; i < 6; ++i) {
                ado::Field& f = *rs->Fields()->At(i);
                SCOPED_TRACE(f.Name());
                const Column& c = columns[i];
                const std::int32_t a = f.Attributes();
                EXPECT_EQ(std::tuple((a & ado::adFldFixed) != 0, (a & ado::adFldIsNullable) != 0,
                                     (a & ado::adFldMayBeNull) != 0, (a & ado::adFldLong) != 0),
                          std::tuple(c.fixed, c.nullable, c.nullable, c.long_data));
                EXPECT_EQ(a & (ado::adFldUnknownUpdatable | ado::adFldUpdatable),
                          p.bridge ? ado::adFldUnknownUpdatable : ado::adFldUpdatable);
                if (c.size != 0) EXPECT_EQ(f.DefinedSize(), c.size);
                if (c.long_data && c.size == 0) EXPECT_TRUE(f.DefinedSize() == -1 || f.DefinedSize() > 255);
            }
        }
        // The SQLite3 ODBC driver reads NUMERIC as a double.
        ado::Field& d = *rs->Fields()->At(5);
        if (p.sqlite_driver) {
            EXPECT_EQ(std::tuple(d.Type(), d.DefinedSize(), d.Precision()), std::tuple(ado::adDouble, 8, 15));
        } else {
            EXPECT_EQ(std::tuple(d.Type(), d.DefinedSize(), d.Precision(), d.NumericScale()),
                      std::tuple(ado::adNumeric, 19, 8, 3));
        }
    }
}

}  // namespace korado::test
