// A Cursor over rows held in memory: schema rowsets, scripted results and other small results that a
// provider builds itself rather than streams from its database.
#pragma once

#include <utility>
#include <vector>

#include "dataaccess/provider.h"

namespace korado::dataaccess {

class MemoryCursor final : public Cursor {
  public:
    MemoryCursor(std::vector<ColumnInfo> columns, std::vector<std::vector<Variant>> rows)
        : columns_(std::move(columns)), rows_(std::move(rows)) {}

    const std::vector<ColumnInfo>& Columns() const override { return columns_; }
    bool Next() override {
        if (next_ >= rows_.size()) return false;
        current_ = next_++;
        return true;
    }
    // A row shorter than the column list reads Null in its missing columns.
    void Read(std::size_t column, Variant& out) override {
        const std::vector<Variant>& row = rows_[current_];
        if (column < row.size()) {
            out = row[column];
        } else {
            out = Variant::Null();
        }
    }

  private:
    std::vector<ColumnInfo> columns_;
    std::vector<std::vector<Variant>> rows_;
    std::size_t next_ = 0;
    std::size_t current_ = 0;
};

// A column of a schema rowset: name and platform type, nullable.
ColumnInfo SchemaColumn(std::string name, std::int32_t type);

// The platform's columns of the schemata (17), tables (20) and columns (4) rowsets, in the platform's order.
std::vector<ColumnInfo> SchemataColumns();
std::vector<ColumnInfo> TablesColumns();
std::vector<ColumnInfo> ColumnsColumns();

}  // namespace korado::dataaccess
