#include "dataaccess/client_rows.h"

#include <sys/mman.h>

#include <cstring>
#include <new>

namespace korado::dataaccess {
namespace {

constexpr std::size_t kFirstBlockSize = 64 << 10;
constexpr std::size_t kBlockSize = 8 << 20;
constexpr std::size_t kHugePage = 2 << 20;

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

ClientRows::Block::Block(std::size_t bytes) {
    if (bytes >= kHugePage) {
        // Mapped 2 MB-aligned so that the kernel can back it with huge pages, then filled in one go.
        const std::size_t size = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        void* raw =
            mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw != MAP_FAILED) {
            auto start = reinterpret_cast<std::uintptr_t>(raw);
            std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
            if (aligned > start) munmap(raw, aligned - start);
            std::uintptr_t end = start + size + kHugePage;
            if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
            data_ = reinterpret_cast<char*>(aligned);
            mapped_ = size;
#ifdef MADV_HUGEPAGE
            madvise(data_, size, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
            madvise(data_, size, MADV_POPULATE_WRITE);  // a hint: an older kernel faults the pages in instead
#endif
            return;
        }
    }
    data_ = new char[bytes];  // left uninitialised: every byte is written before it is read
}

ClientRows::Block::~Block() {
    if (mapped_) {
        munmap(data_, mapped_);
    } else {
        delete[] data_;
    }
}

// A place is the block number in the high 24 bits and the offset in the block in the low 40.
std::uint64_t ClientRows::Arena::Store(std::string_view data) {
    const std::size_t need = data.size() + 10;
    if (blocks.empty() || capacity - used < need) {
        // Small results stay small; big ones get big blocks.
        capacity = blocks.empty() ? kFirstBlockSize : kBlockSize;
        if (need > capacity) capacity = need;
        blocks.push_back(std::make_unique<Block>(capacity));
        used = 0;
    }
    char* base = blocks.back()->get() + used;
    std::size_t header = PutVarint(base, data.size());
    if (!data.empty()) std::memcpy(base + header, data.data(), data.size());
    std::uint64_t where = (static_cast<std::uint64_t>(blocks.size() - 1) << 40) | used;
    used += header + data.size();
    return where;
}

std::string_view ClientRows::Arena::Load(std::uint64_t where) const {
    const char* base = blocks[where >> 40]->get() + (where & ((std::uint64_t{1} << 40) - 1));
    std::size_t header = 0;
    std::uint64_t size = GetVarint(base, header);
    return {base + header, static_cast<std::size_t>(size)};
}

ClientRows::ClientRows(std::size_t columns)
    : columns_(columns), row_bytes_(columns * sizeof(std::uint64_t) + ((columns + 7) & ~std::size_t{7})) {}

std::uint64_t ClientRows::Payload(const std::uint8_t* row, std::size_t column) const {
    std::uint64_t p;
    std::memcpy(&p, row + column * sizeof(std::uint64_t), sizeof p);
    return p;
}

std::uint8_t* ClientRows::NewRow() {
    std::size_t in_chunk;
    if (rows_ < kFirstChunkRows) {
        if (rows_ == 0) chunks_.push_back(std::make_unique<Block>(kFirstChunkRows * row_bytes_ + 1));
        in_chunk = rows_;
    } else {
        in_chunk = (rows_ - kFirstChunkRows) % kChunkRows;
        if (in_chunk == 0) chunks_.push_back(std::make_unique<Block>(kChunkRows * row_bytes_ + 1));
    }
    ++rows_;
    return reinterpret_cast<std::uint8_t*>(chunks_.back()->get()) + in_chunk * row_bytes_;
}

void ClientRows::Append(const Variant* cells) {
    std::uint8_t* row = NewRow();
    std::uint8_t* tags = row + columns_ * sizeof(std::uint64_t);
    for (std::size_t c = 0; c < columns_; ++c) {
        std::uint64_t payload = 0;
        Encode(cells[c], tags[c], payload);
        std::memcpy(row + c * sizeof(std::uint64_t), &payload, sizeof payload);
    }
}

void ClientRows::Append(Cursor& cursor, Variant* scratch, const std::uint8_t* viewable) {
    std::uint8_t* row = NewRow();
    std::uint8_t* tags = row + columns_ * sizeof(std::uint64_t);
    for (std::size_t c = 0; c < columns_; ++c) {
        std::uint64_t payload = 0;
        std::string_view data;
        Cursor::ViewKind kind;
        if (viewable[c] && cursor.ReadView(c, data, kind)) {
            tags[c] = kind == Cursor::ViewKind::kText ? kText : kBytes;
            payload = arena_.Store(data);
        } else {
            cursor.Read(c, scratch[c]);
            Encode(scratch[c], tags[c], payload);
        }
        std::memcpy(row + c * sizeof(std::uint64_t), &payload, sizeof payload);
    }
}

void ClientRows::Encode(const Variant& v, std::uint8_t& tag_out, std::uint64_t& payload_out) {
    Tag tag = kOther;
    std::uint64_t payload = 0;
    {
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
    }
    tag_out = tag;
    payload_out = payload;
}

void ClientRows::Read(std::size_t row_index, std::size_t column, Variant& out) const {
    const std::uint8_t* row = Row(row_index);
    const std::uint64_t p = Payload(row, column);
    switch (static_cast<Tag>(row[columns_ * sizeof(std::uint64_t) + column])) {
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
    return Row(row)[columns_ * sizeof(std::uint64_t) + column] == kNull;
}

std::size_t ClientRows::CellSize(std::size_t row_index, std::size_t column) const {
    const std::uint8_t* row = Row(row_index);
    switch (static_cast<Tag>(row[columns_ * sizeof(std::uint64_t) + column])) {
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
            return arena_.Load(Payload(row, column)).size();
        case kOther:
            return 0;
    }
    return 0;
}

}  // namespace korado::dataaccess
