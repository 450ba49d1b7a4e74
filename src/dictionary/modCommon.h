// modCommon: procedures shared by the dictionary, column copying and the About dialog.
#pragma once

#include <cstdint>
#include <string>

namespace korado {

// The short readable name of a platform data-type code ("VarWChar" for 202), or "" for a code that has none.
// A Long described with exactly the attributes the platform gives an auto-increment column (0x5A) is
// "AutoNumber". Never fails: an unexpected failure is reported (module "modCommon") and gives "".
std::string DataTypeDescription(std::int32_t DataType, std::int32_t FieldAttribute = 0);

}  // namespace korado
