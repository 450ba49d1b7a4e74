// The client cursor engine's row store: every row of a result, buffered compactly.
//
// A cell costs one tag byte and one 8-byte payload: numbers, dates and Booleans sit in the payload, text and
// binary values in arenas (the payload holds their place), exact decimals in a side table. Rows are laid
// out one after another in fixed-size chunks, so appending never moves what is stored and reading a row
// touches one small region. A million rows of eight columns thus cost about 72 MB plus their text, instead
// of a Variant (and often a heap string) per cell. Reading a cell decodes it into a caller's Variant,
// reusing its string storage.
//
// Not thread-safe. Rows are only appended; a later editing layer keeps its changes beside the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "dataaccess/provider.h"
#include "korado/runtime/variant.h"

namespace korado::dataaccess {

class ClientRows {
  public:
    explicit ClientRows(std::size_t columns);
    ClientRows(const ClientRows&) = delete;
    ClientRows& operator=(const ClientRows&) = delete;

    std::size_t ColumnCount() const noexcept { return columns_; }
    std::size_t RowCount() const noexcept { return rows_; }

    // Appends one row; `cells` holds one value per column.
    void Append(const Variant* cells);
    // Appends the cursor's current row: values of the columns marked in `viewable` straight from the
    // cursor where it offers them (Cursor::ReadView), the rest read through `scratch` (one Variant per
    // column, reused).
    void Append(Cursor& cursor, Variant* scratch, const std::uint8_t* viewable);
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
    // Memory of the store: small pieces from the heap, large ones mapped whole (with transparent huge
    // pages where the system gives them), so that filling hundreds of megabytes does not fault every 4 KB.
    class Block {
      public:
        explicit Block(std::size_t bytes);
        ~Block();
        Block(const Block&) = delete;
        Block& operator=(const Block&) = delete;
        char* get() const noexcept { return data_; }

      private:
        char* data_ = nullptr;
        std::size_t mapped_ = 0;  // 0: from the heap
    };
    // Variable-length data lives in blocks that never move, so growing the store copies no text.
    struct Arena {
        std::vector<std::unique_ptr<Block>> blocks;
        std::size_t used = 0;      // in the last block
        std::size_t capacity = 0;  // of the last block
        std::uint64_t Store(std::string_view data);
        std::string_view Load(std::uint64_t where) const;
    };
    // The first chunk is small (most results are); the later ones are large.
    static constexpr std::size_t kFirstChunkRows = 256;
    static constexpr std::size_t kChunkRows = 32768;

    // A row: the columns' payloads, then their tags.
    const std::uint8_t* Row(std::size_t row) const {
        if (row < kFirstChunkRows)
            return reinterpret_cast<const std::uint8_t*>(chunks_[0]->get()) + row * row_bytes_;
        row -= kFirstChunkRows;
        return reinterpret_cast<const std::uint8_t*>(chunks_[1 + row / kChunkRows]->get()) +
               (row % kChunkRows) * row_bytes_;
    }
    std::uint8_t* NewRow();
    std::uint64_t Payload(const std::uint8_t* row, std::size_t column) const;
    void Encode(const Variant& v, std::uint8_t& tag, std::uint64_t& payload);

    std::size_t columns_;
    std::size_t row_bytes_;
    std::vector<std::unique_ptr<Block>> chunks_;
    Arena arena_;
    std::vector<Decimal> decimals_;
    std::vector<Variant> others_;
    std::size_t rows_ = 0;
};

}  // namespace korado::dataaccess
