// Rows printed as they arrive, a page at a time, as SQL*Plus prints a query: each page is headed by the
// column names and a line of dashes, its columns as wide as that page's widest text (so a page needs
// nothing from the rows after it), and pages are one blank line apart. Only the current page is held.
//
// A page holds `page_size` rows; 0 makes the whole result one page (and holds all of it). Blank lines a
// report break asks for go before their row, except on the first row of a page, which the headings set
// off already; they do not count as rows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "korado/runtime/variant.h"

namespace korado::console {

class ResultPages {
  public:
    // `numeric`: per column, whether it is right-aligned.
    ResultPages(std::FILE* out, std::vector<std::string> headings, std::vector<bool> numeric,
                std::int32_t page_size);

    // Whether the next row starts a page.
    bool AtPageStart() const noexcept { return rows_ == 0 || rows_ == page_size_; }
    // Starts a row, printing the full page before it first; `blank_lines` go before the row.
    void StartRow(std::int32_t blank_lines);
    // The next cell of the row being built, as CellText shows the value.
    void AddCell(const Variant& value);
    // Prints the last page; the number of rows of the whole result.
    std::int64_t Finish();

  private:
    // Gives the row being built a blank cell for each column it did not reach.
    void CompleteRow();
    void PrintPage();
    // `length`: the text's length in characters.
    void AppendCell(std::string& line, std::size_t column, std::string_view text, std::size_t length) const;

    std::FILE* out_;
    std::vector<std::string> headings_;
    std::vector<bool> numeric_;
    std::int32_t page_size_;

    // The page: every cell's text one after another, where each cell ends and its length in characters,
    // each row's blank lines, and each column's width so far.
    std::string text_;
    std::vector<std::size_t> cell_ends_;
    std::vector<std::size_t> cell_lengths_;
    std::vector<std::int32_t> blank_lines_;
    std::vector<std::size_t> width_;
    std::size_t cell_ = 0;   // column of the next AddCell
    std::int64_t rows_ = 0;  // on this page
    std::int64_t total_ = 0;
    std::int64_t pages_ = 0;
    std::string line_;
};

}  // namespace korado::console
