// The cleaning of ODBC driver messages: never crashes, returns the message or a part of its end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "korado/errors/clsADOError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    std::string out = korado::clsADOError::m_ODBCErrorText(in);
    if (out.size() > in.size()) __builtin_trap();
    if (out != in && out.empty()) __builtin_trap();
    return 0;
}
