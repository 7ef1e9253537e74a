#pragma once
// Plain-text tables for a console window: a header row and left-aligned columns as wide
// as their widest cell, two spaces apart, no trailing blanks.

#include <string>
#include <vector>

namespace varnox::console {

class TextTable {
public:
    explicit TextTable(std::vector<std::string> headers);

    // A row with fewer cells than headers is padded with empty cells; extra cells are
    // dropped.
    void AddRow(std::vector<std::string> cells);
    bool Empty() const { return rows_.empty(); }

    // Every line ends in "\n".
    std::string Render() const;

private:
    std::vector<std::string> headers_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace varnox::console
