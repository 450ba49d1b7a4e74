// The client cursor engine's row store: every row of a result, buffered compactly.
//
// A cell costs one tag byte and one 8-byte payload: numbers, dates and Booleans sit in the payload, text and
// binary values in per-column arenas (the payload holds their place), exact decimals in a side table. A
// million rows of eight columns thus cost about 72 MB plus their text, instead of a Variant (and often a
// heap string) per cell. Reading a cell decodes it into a caller's Variant, reusing its string storage.
//
// Not thread-safe. Rows are only appended; a later editing layer keeps its changes beside the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "korado/runtime/variant.h"

namespace korado::dataaccess {

class ClientRows {
  public:
    explicit ClientRows(std::size_t columns);
    ClientRows(const ClientRows&) = delete;
    ClientRows& operator=(const ClientRows&) = delete;

    std::size_t ColumnCount() const noexcept { return columns_.size(); }
    std::size_t RowCount() const noexcept { return rows_; }

    // Appends one row; `cells` holds one value per column.
    void Append(const Variant* cells);
    // Decodes the cell into `out`.
    void Read(std::size_t row, std::size_t column, Variant& out) const;
    // True when the cell is Null (without decoding it).
    bool IsNull(std::size_t row, std::size_t column) const;
    // Bytes held for the cell: the text's UTF-8 length, the binary length, or the value's size.
    std::size_t CellSize(std::size_t row, std::size_t column) const;

  private:
    enum Tag : std::uint8_t {
        kEmpty,
        kNull,
        kBool,
        kByte,
        kInt16,
        kInt32,
        kInt64,
        kSingle,
        kDouble,
        kCurrency,
        kDate,
        kDecimal,
        kText,
        kBytes,
        kOther,  // anything else (arrays, error values): a Variant in the side table
    };
    struct Column {
        std::vector<std::uint8_t> tags;
        std::vector<std::uint64_t> payload;
    };
    // Variable-length data lives in blocks that never move, so growing the store copies no text.
    struct Arena {
        std::vector<std::unique_ptr<char[]>> blocks;
        std::size_t used = 0;      // in the last block
        std::size_t capacity = 0;  // of the last block
        std::uint64_t Store(std::string_view data);
        std::string_view Load(std::uint64_t where) const;
    };

    std::vector<Column> columns_;
    Arena arena_;
    std::vector<Decimal> decimals_;
    std::vector<Variant> others_;
    std::size_t rows_ = 0;
};

}  // namespace korado::dataaccess
