// Connection strings from arbitrary text: parsing may refuse the text (3001 naming the problem) but must
// never crash, hang or leak; a string that parses must come back from ToString as the same entries.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dataaccess/connection_string.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using korado::dataaccess::ConnectionString;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    ConnectionString parsed;
    try {
        parsed = ConnectionString::Parse(text);
    } catch (const korado::Error& e) {
        if (e.Number() != korado::ado::adErrInvalidArgument || e.Description().empty()) std::abort();
        return 0;
    }
    ConnectionString again;
    try {
        again = ConnectionString::Parse(parsed.ToString());
    } catch (const korado::Error&) {
        std::abort();  // what ToString writes must parse
    }
    if (again.Entries() != parsed.Entries()) std::abort();
    for (const auto& [key, value] : parsed.Entries()) {
        if (key.empty() || !parsed.Has(key) || parsed.Get(key) != value) std::abort();
    }
    return 0;
}
