#include "dataaccess/client_rows.h"

#include <cstring>

namespace korado::dataaccess {
namespace {

constexpr std::size_t kBlockSize = 1 << 20;

template <class T>
std::uint64_t Bits(T v) {
    std::uint64_t out = 0;
    static_assert(sizeof(T) <= sizeof(out));
    std::memcpy(&out, &v, sizeof(T));
    return out;
}

template <class T>
T FromBits(std::uint64_t bits) {
    T v;
    std::memcpy(&v, &bits, sizeof(T));
    return v;
}

std::size_t PutVarint(char* out, std::uint64_t v) {
    std::size_t n = 0;
    while (v >= 0x80) {
        out[n++] = static_cast<char>((v & 0x7F) | 0x80);
        v >>= 7;
    }
    out[n++] = static_cast<char>(v);
    return n;
}

std::uint64_t GetVarint(const char* in, std::size_t& n) {
    std::uint64_t v = 0;
    int shift = 0;
    n = 0;
    for (;;) {
        auto byte = static_cast<std::uint8_t>(in[n++]);
        v |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return v;
        shift += 7;
    }
}

}  // namespace

// A place is the block number in the high 24 bits and the offset in the block in the low 40.
std::uint64_t ClientRows::Arena::Store(std::string_view data) {
    const std::size_t need = data.size() + 10;
    if (blocks.empty() || capacity - used < need) {
        capacity = need > kBlockSize ? need : kBlockSize;
        blocks.push_back(std::make_unique<char[]>(capacity));
        used = 0;
    }
    char* base = blocks.back().get() + used;
    std::size_t header = PutVarint(base, data.size());
    if (!data.empty()) std::memcpy(base + header, data.data(), data.size());
    std::uint64_t where = (static_cast<std::uint64_t>(blocks.size() - 1) << 40) | used;
    used += header + data.size();
    return where;
}

std::string_view ClientRows::Arena::Load(std::uint64_t where) const {
    const char* base = blocks[where >> 40].get() + (where & ((std::uint64_t{1} << 40) - 1));
    std::size_t header = 0;
    std::uint64_t size = GetVarint(base, header);
    return {base + header, static_cast<std::size_t>(size)};
}

ClientRows::ClientRows(std::size_t columns) : columns_(columns) {}

void ClientRows::Append(const Variant* cells) {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        Column& col = columns_[c];
        const Variant& v = cells[c];
        Tag tag = kOther;
        std::uint64_t payload = 0;
        switch (v.Type()) {
            case VarType::Empty:
                tag = kEmpty;
                break;
            case VarType::Null:
                tag = kNull;
                break;
            case VarType::Boolean:
                tag = kBool, payload = *v.get_if<bool>() ? 1 : 0;
                break;
            case VarType::Byte:
                tag = kByte, payload = *v.get_if<std::uint8_t>();
                break;
            case VarType::Integer:
                tag = kInt16, payload = Bits(*v.get_if<std::int16_t>());
                break;
            case VarType::Long:
                tag = kInt32, payload = Bits(*v.get_if<std::int32_t>());
                break;
            case VarType::LongLong:
                tag = kInt64, payload = Bits(*v.get_if<std::int64_t>());
                break;
            case VarType::Single:
                tag = kSingle, payload = Bits(*v.get_if<float>());
                break;
            case VarType::Double:
                tag = kDouble, payload = Bits(*v.get_if<double>());
                break;
            case VarType::Currency:
                tag = kCurrency, payload = Bits(v.get_if<Currency>()->scaled);
                break;
            case VarType::Date:
                tag = kDate, payload = Bits(v.get_if<Date>()->days);
                break;
            case VarType::Decimal:
                tag = kDecimal;
                payload = decimals_.size();
                decimals_.push_back(*v.get_if<Decimal>());
                break;
            case VarType::String:
                tag = kText, payload = arena_.Store(*v.get_if<std::string>());
                break;
            case VarType::ByteArray: {
                const Bytes& b = *v.get_if<Bytes>();
                tag = kBytes;
                payload = arena_.Store(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
                break;
            }
            default:
                payload = others_.size();
                others_.push_back(v);
                break;
        }
        col.tags.push_back(tag);
        col.payload.push_back(payload);
    }
    ++rows_;
}

void ClientRows::Read(std::size_t row, std::size_t column, Variant& out) const {
    const Column& col = columns_[column];
    const std::uint64_t p = col.payload[row];
    switch (static_cast<Tag>(col.tags[row])) {
        case kEmpty:
            out.Clear();
            return;
        case kNull:
            out = Variant::Null();
            return;
        case kBool:
            out = Variant(p != 0);
            return;
        case kByte:
            out = Variant(static_cast<std::uint8_t>(p));
            return;
        case kInt16:
            out = Variant(FromBits<std::int16_t>(p));
            return;
        case kInt32:
            out = Variant(static_cast<int>(FromBits<std::int32_t>(p)));
            return;
        case kInt64:
            out = Variant(static_cast<long long>(FromBits<std::int64_t>(p)));
            return;
        case kSingle:
            out = Variant(FromBits<float>(p));
            return;
        case kDouble:
            out = Variant(FromBits<double>(p));
            return;
        case kCurrency:
            out = Variant(Currency{FromBits<std::int64_t>(p)});
            return;
        case kDate:
            out = Variant(Date{FromBits<double>(p)});
            return;
        case kDecimal:
            out = Variant(decimals_[p]);
            return;
        case kText:
            out.AssignString(arena_.Load(p));
            return;
        case kBytes: {
            std::string_view b = arena_.Load(p);
            out.AssignBytes(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
            return;
        }
        case kOther:
            out = others_[p];
            return;
    }
}

bool ClientRows::IsNull(std::size_t row, std::size_t column) const {
    return columns_[column].tags[row] == kNull;
}

std::size_t ClientRows::CellSize(std::size_t row, std::size_t column) const {
    const Column& col = columns_[column];
    switch (static_cast<Tag>(col.tags[row])) {
        case kEmpty:
        case kNull:
            return 0;
        case kBool:
        case kInt16:
            return 2;
        case kByte:
            return 1;
        case kInt32:
        case kSingle:
            return 4;
        case kInt64:
        case kDouble:
        case kCurrency:
        case kDate:
            return 8;
        case kDecimal:
            return 16;
        case kText:
        case kBytes:
            return arena_.Load(col.payload[row]).size();
        case kOther:
            return 0;
    }
    return 0;
}

}  // namespace korado::dataaccess
