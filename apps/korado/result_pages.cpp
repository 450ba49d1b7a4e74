#include "result_pages.h"

#include <algorithm>

#include "korado/runtime/strings.h"
#include "output.h"

namespace korado::console {

ResultPages::ResultPages(std::FILE* out, std::vector<std::string> headings, std::vector<bool> numeric,
                         std::int32_t page_size)
    : out_(out), headings_(std::move(headings)), numeric_(std::move(numeric)), page_size_(page_size) {
    numeric_.resize(headings_.size(), false);
    width_.resize(headings_.size());
    for (std::size_t c = 0; c < headings_.size(); ++c)
        width_[c] = std::max<std::size_t>(Len(headings_[c]), 1);
}

void ResultPages::StartRow(std::int32_t blank_lines) {
    CompleteRow();
    if (page_size_ > 0 && rows_ == page_size_) PrintPage();
    blank_lines_.push_back(rows_ == 0 ? 0 : blank_lines);
    ++rows_;
    ++total_;
    cell_ = 0;
}

void ResultPages::AddCell(const Variant& value) {
    if (cell_ >= headings_.size()) return;
    const std::size_t from = text_.size();
    AppendCellText(value, text_);
    const std::size_t length = text_.size() > from ? Len(std::string_view(text_).substr(from)) : 0;
    cell_ends_.push_back(text_.size());
    cell_lengths_.push_back(length);
    width_[cell_] = std::max(width_[cell_], length);
    ++cell_;
}

void ResultPages::CompleteRow() {
    if (rows_ == 0) return;
    for (; cell_ < headings_.size(); ++cell_) {
        cell_ends_.push_back(text_.size());
        cell_lengths_.push_back(0);
    }
}

std::int64_t ResultPages::Finish() {
    CompleteRow();
    if (rows_ > 0) PrintPage();
    return total_;
}

void ResultPages::AppendCell(std::string& line, std::size_t column, std::string_view text,
                             std::size_t length) const {
    if (column > 0) line += ' ';
    const std::size_t pad = width_[column] - std::min(width_[column], length);
    if (numeric_[column]) {
        line.append(pad, ' ');
        line.append(text);
    } else {
        line.append(text);
        // No trailing blanks after the last column.
        if (column + 1 < headings_.size()) line.append(pad, ' ');
    }
}

void ResultPages::PrintPage() {
    const std::size_t columns = headings_.size();
    line_.clear();
    if (pages_ > 0) line_ += '\n';
    for (std::size_t c = 0; c < columns; ++c) AppendCell(line_, c, headings_[c], Len(headings_[c]));
    line_ += '\n';
    for (std::size_t c = 0; c < columns; ++c) {
        if (c > 0) line_ += ' ';
        line_.append(width_[c], '-');
    }
    line_ += '\n';

    std::size_t cell = 0, from = 0;
    for (std::int64_t r = 0; r < rows_; ++r) {
        line_.append(static_cast<std::size_t>(blank_lines_[static_cast<std::size_t>(r)]), '\n');
        const std::size_t row_start = line_.size();
        for (std::size_t c = 0; c < columns; ++c) {
            AppendCell(line_, c, std::string_view(text_).substr(from, cell_ends_[cell] - from),
                       cell_lengths_[cell]);
            from = cell_ends_[cell++];
        }
        while (line_.size() > row_start && line_.back() == ' ') line_.pop_back();
        line_ += '\n';
        if (line_.size() >= 1 << 16) {
            std::fwrite(line_.data(), 1, line_.size(), out_);
            line_.clear();
        }
    }
    std::fwrite(line_.data(), 1, line_.size(), out_);

    ++pages_;
    text_.clear();
    cell_ends_.clear();
    cell_lengths_.clear();
    blank_lines_.clear();
    rows_ = 0;
    for (std::size_t c = 0; c < columns; ++c) width_[c] = std::max<std::size_t>(Len(headings_[c]), 1);
}

}  // namespace korado::console
