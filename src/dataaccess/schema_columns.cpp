#include "dataaccess/memory_cursor.h"

namespace korado::dataaccess {

ColumnInfo SchemaColumn(std::string name, std::int32_t type) {
    ColumnInfo c;
    c.name = std::move(name);
    c.type = type;
    c.attributes = ado::adFldIsNullable | ado::adFldMayBeNull;
    c.precision = 255;
    c.scale = 255;
    switch (type) {
        case ado::adWChar:
            c.defined_size = 128;
            break;
        case ado::adGUID:
            c.defined_size = 16, c.attributes |= ado::adFldFixed;
            break;
        case ado::adUnsignedInt:
            c.defined_size = 4, c.precision = 10, c.attributes |= ado::adFldFixed;
            break;
        case ado::adUnsignedSmallInt:
            c.defined_size = 2, c.precision = 5, c.attributes |= ado::adFldFixed;
            break;
        case ado::adSmallInt:
            c.defined_size = 2, c.precision = 5, c.attributes |= ado::adFldFixed;
            break;
        case ado::adBoolean:
            c.defined_size = 2, c.attributes |= ado::adFldFixed;
            break;
        case ado::adDate:
            c.defined_size = 8, c.attributes |= ado::adFldFixed;
            break;
        default:
            break;
    }
    return c;
}

std::vector<ColumnInfo> SchemataColumns() {
    std::vector<ColumnInfo> c;
    for (const char* name : {"CATALOG_NAME", "SCHEMA_NAME", "SCHEMA_OWNER", "DEFAULT_CHARACTER_SET_CATALOG",
                             "DEFAULT_CHARACTER_SET_SCHEMA", "DEFAULT_CHARACTER_SET_NAME"})
        c.push_back(SchemaColumn(name, ado::adWChar));
    return c;
}

std::vector<ColumnInfo> TablesColumns() {
    return {
        SchemaColumn("TABLE_CATALOG", ado::adWChar),      SchemaColumn("TABLE_SCHEMA", ado::adWChar),
        SchemaColumn("TABLE_NAME", ado::adWChar),         SchemaColumn("TABLE_TYPE", ado::adWChar),
        SchemaColumn("TABLE_GUID", ado::adGUID),          SchemaColumn("DESCRIPTION", ado::adWChar),
        SchemaColumn("TABLE_PROPID", ado::adUnsignedInt), SchemaColumn("DATE_CREATED", ado::adDate),
        SchemaColumn("DATE_MODIFIED", ado::adDate),
    };
}

std::vector<ColumnInfo> ColumnsColumns() {
    return {
        SchemaColumn("TABLE_CATALOG", ado::adWChar),
        SchemaColumn("TABLE_SCHEMA", ado::adWChar),
        SchemaColumn("TABLE_NAME", ado::adWChar),
        SchemaColumn("COLUMN_NAME", ado::adWChar),
        SchemaColumn("COLUMN_GUID", ado::adGUID),
        SchemaColumn("COLUMN_PROPID", ado::adUnsignedInt),
        SchemaColumn("ORDINAL_POSITION", ado::adUnsignedInt),
        SchemaColumn("COLUMN_HASDEFAULT", ado::adBoolean),
        SchemaColumn("COLUMN_DEFAULT", ado::adWChar),
        SchemaColumn("COLUMN_FLAGS", ado::adUnsignedInt),
        SchemaColumn("IS_NULLABLE", ado::adBoolean),
        SchemaColumn("DATA_TYPE", ado::adUnsignedSmallInt),
        SchemaColumn("TYPE_GUID", ado::adGUID),
        SchemaColumn("CHARACTER_MAXIMUM_LENGTH", ado::adUnsignedInt),
        SchemaColumn("CHARACTER_OCTET_LENGTH", ado::adUnsignedInt),
        SchemaColumn("NUMERIC_PRECISION", ado::adUnsignedSmallInt),
        SchemaColumn("NUMERIC_SCALE", ado::adSmallInt),
        SchemaColumn("DATETIME_PRECISION", ado::adUnsignedInt),
        SchemaColumn("CHARACTER_SET_CATALOG", ado::adWChar),
        SchemaColumn("CHARACTER_SET_SCHEMA", ado::adWChar),
        SchemaColumn("CHARACTER_SET_NAME", ado::adWChar),
        SchemaColumn("COLLATION_CATALOG", ado::adWChar),
        SchemaColumn("COLLATION_SCHEMA", ado::adWChar),
        SchemaColumn("COLLATION_NAME", ado::adWChar),
        SchemaColumn("DOMAIN_CATALOG", ado::adWChar),
        SchemaColumn("DOMAIN_SCHEMA", ado::adWChar),
        SchemaColumn("DOMAIN_NAME", ado::adWChar),
        SchemaColumn("DESCRIPTION", ado::adWChar),
    };
}

}  // namespace korado::dataaccess
