// How a recordset field becomes a column of a new table: the column name a database can take, and the
// column type, precision, scale and size that the target provider accepts for the field's type. Kept apart
// from the connection object as one table, so that it reads beside the providers' type lists and each row
// can be checked without a database.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korado/platform/adox.h"

namespace korado::column_copy {

// The providers whose type systems differ from the platform's; any other provider takes the field's types
// as they are.
enum class Target : std::uint8_t { kAceJet, kSqlServer, kOracle, kOther };

// `provider` is the connection's provider name without its version suffix, compared exactly.
Target TargetOf(std::string_view provider);

// The field's name without one pair of enclosing brackets and surrounding blanks, with the characters that
// Jet and SQL Server refuse in names (". ! ` [ ]") turned into "_".
std::string ColumnName(std::string_view field_name);

// What a field says about its values.
struct FieldDefinition {
    std::int32_t type = 0;
    std::int32_t defined_size = 0;
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
};

// Whether the field type's column depends on the target provider: when it does not, the provider need
// not be asked.
bool DependsOnTarget(std::int32_t field_type);

// Sets the column's type, precision, scale and defined size for `field` on `target`, in that order (an
// Oracle Boolean's size before its precision). The column's own checks may raise part-way: whatever was
// set before stays set.
void Apply(const FieldDefinition& field, Target target, adox::Column& column);

// "Type=[..] Precision=[..] NumericScale=[..] DefinedSize=[..]", read from the column as it stands.
std::string Settings(adox::Column& column);

}  // namespace korado::column_copy
