// The Advanced Data TableGram as the writer and the reader of persist_adtg_*.cpp share it: token bytes,
// column types on the wire, and the few value encodings that need more than a memcpy.
//
// A tablegram is a sequence of tokens: a header ("TG!"), the handler options, the result descriptor, the
// rowset's context (its properties), one descriptor per base table and per column, then one token group per
// row and a closing token. Multi-byte numbers are little-endian; names and wide text are UTF-16LE.
//
// Rows carry their values in column order. A nullable or maybe-null column has a bit in the row's presence
// map (most significant bit first, one bit per such column), and its value is left out when the bit is
// clear. Changed and inserted rows instead carry an update map and a force-null map with a bit per column.
// A fixed-length value fills its column's width; a variable-length value is prefixed by its length in
// bytes: one byte when the column's largest value fits 255 bytes, four otherwise.
//
// Narrow text (the platform's Char types) goes as narrow text. The table descriptor's code page is reserved
// (always 0) and the original reads narrow text in its own Windows code page, on Western systems 1252; so a
// narrow value is written in Windows-1252 and read as UTF-8 when it is valid UTF-8, as 1252 otherwise. A
// value with characters 1252 lacks, or whose 1252 bytes would read as UTF-8, is written as UTF-8.
//
// What the writer does so that every value the recordset holds can be saved, and where a reopened column
// differs from the saved one because of it:
// - Every column is marked maybe-null (a Null may be read from it), so that a Null has its presence bit
//   also where the provider called the column NOT NULL (SQLite does for the nullable side of an outer
//   join). Reopened, a NOT NULL column keeps its nullability but is maybe-null.
// - A text or binary column whose size would take one-byte lengths is written with no maximum size and its
//   size as the column's octet length (bytes; twice the characters for wide text), so that values longer
//   than the size (SQLite does not hold text to its declared size), wide text with characters beyond the
//   basic plane and narrow text written as UTF-8 all fit. This reader takes the size back from the octet
//   length; the original shows such a column without a maximum size.
// - A fixed-length text shorter than its column is padded with zero bytes, and reads back without them. A
//   text wider than its fixed column (a value SQLite did not hold to its CHAR size, or narrow text written
//   as UTF-8 with more bytes than the column has characters) fails the save: it would reach the file cut.
//   The XML format takes such a value whole. A fixed-length text column of no known size, or wider than
//   8000, is written variable-length.
// - Fixed-length binary is written variable-length and reads back as such: a padded value could not be
//   told from one ending in zero bytes, and drivers call columns fixed whose values are not.
// - A variable-length column flagged long (a VARCHAR of more than 255 characters) reads back as the long
//   type, which is what its flags say; a FILETIME column reads back as a date.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include "korado/runtime/variant.h"

struct UConverter;

namespace korado::dataaccess::persist::adtg {

static_assert(std::endian::native == std::endian::little,
              "values are copied to and from the wire as they are");

enum Token : std::uint8_t {
    kHeader = 0x01,
    kHandlerOptions = 0x02,
    kResultDescriptor = 0x03,
    kTableDescriptor = 0x05,
    kColumnDescriptor = 0x06,
    kOriginalRow = 0x07,
    kChangeRow = 0x0A,
    kDeleteRow = 0x0C,
    kInsertRow = 0x0D,
    kDone = 0x0F,
    kResultContext = 0x10,
};

// OLE DB type codes as the tablegram carries them.
enum WireType : std::uint16_t {
    kEmpty = 0x00,
    kNull = 0x01,
    kI2 = 0x02,
    kI4 = 0x03,
    kR4 = 0x04,
    kR8 = 0x05,
    kCy = 0x06,
    kDate = 0x07,
    kBstr = 0x08,
    kBool = 0x0B,
    kDecimal = 0x0E,
    kI1 = 0x10,
    kUi1 = 0x11,
    kUi2 = 0x12,
    kUi4 = 0x13,
    kI8 = 0x14,
    kUi8 = 0x15,
    kFileTime = 0x40,
    kGuid = 0x48,
    kBytes = 0x80,
    kStr = 0x81,
    kWStr = 0x82,
    kNumeric = 0x83,
    kDbDate = 0x85,
    kDbTime = 0x86,
    kDbTimeStamp = 0x87,
    kVarNumeric = 0x8B,
};

// Column flags (the same bits as the platform's field attributes).
inline constexpr std::uint32_t kFlagWrite = 0x0004;
inline constexpr std::uint32_t kFlagWriteUnknown = 0x0008;
inline constexpr std::uint32_t kFlagFixed = 0x0010;
inline constexpr std::uint32_t kFlagNullable = 0x0020;
inline constexpr std::uint32_t kFlagMayBeNull = 0x0040;
inline constexpr std::uint32_t kFlagLong = 0x0080;
inline constexpr std::uint32_t kFlagChapter = 0x2000;
inline constexpr std::uint32_t kFlagKey = 0x8000;

// Column descriptor presence bits: which optional fields follow.
inline constexpr std::uint32_t kHasName = 0x800000;
inline constexpr std::uint32_t kHasBaseTable = 0x400000;
inline constexpr std::uint32_t kHasBaseColumnOrdinal = 0x200000;
inline constexpr std::uint32_t kHasBaseColumnName = 0x100000;
inline constexpr std::uint32_t kHasCatalog = 0x020000;
inline constexpr std::uint32_t kHasSchema = 0x010000;
inline constexpr std::uint32_t kHasCollatingSequence = 0x008000;
inline constexpr std::uint32_t kHasComputeMode = 0x004000;
inline constexpr std::uint32_t kHasDateTimePrecision = 0x002000;
inline constexpr std::uint32_t kHasDefaultValue = 0x001000;
inline constexpr std::uint32_t kHasAutoIncrement = 0x000100;
inline constexpr std::uint32_t kHasOctetLength = 0x000008;
inline constexpr std::uint32_t kHasCalculationInfo = 0x000004;

// The handler's class identifier that every tablegram names, and the property sets of its context.
inline constexpr std::uint8_t kRecordsetGuid[16] = {0xB6, 0x92, 0xF2, 0x3F, 0x04, 0xB2, 0xCF, 0x11,
                                                    0x8D, 0x23, 0x00, 0xAA, 0x00, 0x5F, 0xFE, 0x58};
inline constexpr std::uint8_t kResultGuid[16] = {0xD2, 0xAD, 0x63, 0xF6, 0x02, 0xEB, 0xCF, 0x11,
                                                 0xB0, 0xE3, 0x00, 0xAA, 0x00, 0x3F, 0x00, 0x0F};
inline constexpr std::uint8_t kRowsetPropertySet[16] = {0xBE, 0x22, 0xB5, 0xC8, 0xF3, 0x5C, 0xCE, 0x11,
                                                        0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D};
inline constexpr std::uint32_t kPropRowsetChange = 0x7F;
inline constexpr std::uint32_t kPropRowsetUpdate = 0x86;

// Bytes of a fixed-size value of `type`; 0 for the variable-length types and those without data.
std::uint32_t FixedSize(std::uint16_t type) noexcept;
// Text and binary values: fixed (a column flag) or length-prefixed.
constexpr bool IsVariable(std::uint16_t type) noexcept {
    return type == kBytes || type == kStr || type == kWStr || type == kBstr;
}
// The length prefix of a variable-length value is one byte when the column's largest value fits it.
constexpr bool ShortLength(std::uint16_t type, std::uint32_t max_length) noexcept {
    std::uint64_t bytes = max_length;
    if (type == kWStr || type == kBstr) bytes *= 2;
    return bytes <= 255;
}

// The wire type a platform type is written as, and the platform type a wire type (with its column flags)
// reads back as.
std::uint16_t WireTypeOf(std::int32_t platform_type) noexcept;
std::int32_t PlatformTypeOf(std::uint16_t wire_type, std::uint32_t flags) noexcept;

// A GUID's 16 bytes (the first three groups little-endian) from "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// (braces optional, either case); false for other text.
bool GuidBytes(std::string_view text, std::uint8_t out[16]) noexcept;
std::string GuidText(const std::uint8_t bytes[16]);

// A timestamp's parts; `nanoseconds` since the second began.
struct Timestamp {
    std::int16_t year = 1899;
    std::uint16_t month = 12, day = 30, hour = 0, minute = 0, second = 0;
    std::uint32_t nanoseconds = 0;
};
// The parts of `d`, chosen so that DateOf gives `d` back wherever a nanosecond can say it.
Timestamp TimestampOf(Date d);
// Raises the runtime's error 5 for parts no calendar has.
Date DateOf(const Timestamp& t);

// Narrow text in Windows-1252 (or UTF-8, see above), converted through ICU. Not thread-safe: one per
// reader or writer.
class NarrowText {
  public:
    NarrowText();
    ~NarrowText();
    NarrowText(const NarrowText&) = delete;
    NarrowText& operator=(const NarrowText&) = delete;
    // The bytes of `utf8` as a narrow value reads back exactly; true when they are 1252 (not UTF-8).
    bool Encode(std::string_view utf8, std::string& out);
    // A narrow value's bytes as UTF-8: as they are when they are valid UTF-8, otherwise from 1252.
    void Decode(std::string_view bytes, std::string& out);

  private:
    UConverter* converter_ = nullptr;
    std::u16string wide_;
};

}  // namespace korado::dataaccess::persist::adtg
