#include "text_table.h"

#include <algorithm>

namespace varnox::console {

TextTable::TextTable(std::vector<std::string> headers) : headers_(std::move(headers)) {}

void TextTable::AddRow(std::vector<std::string> cells) {
    cells.resize(headers_.size());
    rows_.push_back(std::move(cells));
}

std::string TextTable::Render() const {
    std::vector<std::size_t> widths(headers_.size());
    for (std::size_t column = 0; column < headers_.size(); ++column) {
        widths[column] = headers_[column].size();
        for (const auto& row : rows_) widths[column] = std::max(widths[column], row[column].size());
    }
    std::string text;
    const auto renderLine = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t column = 0; column < cells.size(); ++column) {
            if (column > 0) line.append(2, ' ');
            line += cells[column];
            if (column + 1 < cells.size()) line.append(widths[column] - cells[column].size(), ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line;
        text += '\n';
    };
    renderLine(headers_);
    for (const auto& row : rows_) renderLine(row);
    return text;
}

}  // namespace varnox::console
