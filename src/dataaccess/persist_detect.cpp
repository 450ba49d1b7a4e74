// Which of the two persistence formats a file image holds, from its first bytes alone: opening a file
// picks its reader before reading anything else.
#include <cstdint>
#include <string_view>

#include "dataaccess/persistence.h"
#include "korado/platform/ado_enums.h"

namespace korado::dataaccess::persist {
namespace {

// A TableGram opens with its header token 0x01, the header's length and the signature "TG!".
bool StartsAsTableGram(std::string_view image) {
    return image.size() >= 5 && image[0] == '\x01' && image.substr(2, 3) == "TG!";
}

// An XML rowset opens with markup, possibly after a byte-order mark and blanks. Files written by other
// tools (a Stream saved as Unicode) come as UTF-16 with its mark: the XML reader converts them.
bool StartsAsXml(std::string_view image) {
    if (image.starts_with("\xFF\xFE")) return image.size() >= 4 && image[2] == '<' && image[3] == '\0';
    if (image.starts_with("\xFE\xFF")) return image.size() >= 4 && image[2] == '\0' && image[3] == '<';
    if (image.starts_with("\xEF\xBB\xBF")) image.remove_prefix(3);
    const auto first = image.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && image[first] == '<';
}

}  // namespace

std::int32_t DetectFormat(std::string_view image) {
    if (StartsAsTableGram(image)) return ado::adPersistADTG;
    if (StartsAsXml(image)) return ado::adPersistXML;
    return -1;
}

}  // namespace korado::dataaccess::persist
