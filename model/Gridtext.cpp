#include "model/Gridtext.h"

#include <algorithm>

std::string TabField(std::string_view cell)
{
    std::string field;
    field.reserve(cell.size());
    for (std::size_t i = 0; i < cell.size(); ++i) {
        const auto byte = [&](std::size_t at) {
            return at < cell.size() ? static_cast<unsigned char>(cell[at]) : 0;
        };
        if (byte(i) < 0x20 || byte(i) == 0x7f) {
            field += ' ';
        } else if (byte(i) == 0xc2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9f) { // U+0080 to U+009F
            field += ' ';
            i += 1;
        } else if (byte(i) == 0xe2 && byte(i + 1) == 0x80 && (byte(i + 2) == 0xa8 || byte(i + 2) == 0xa9)) {
            field += ' '; // U+2028, U+2029
            i += 2;
        } else {
            field += cell[i];
        }
    }
    return field;
}

namespace {

void AppendTabRow(std::string& text, const TStringGrid& grid, int32_t row)
{
    for (int32_t col = 0; col < grid.ColCount(); ++col) {
        if (col > 0)
            text += '\t';
        text += TabField(grid.Cell(col, row));
    }
    text += '\n';
}

void AppendCsvField(std::string& text, std::string_view cell)
{
    if (cell.find_first_of(",\"\r\n") == std::string_view::npos) {
        text += cell;
        return;
    }
    text += '"';
    for (const char c : cell) {
        if (c == '"')
            text += '"';
        text += c;
    }
    text += '"';
}

} // namespace

std::string TabSeparatedRows(const TStringGrid& grid, int32_t first, int32_t last)
{
    std::string text;
    AppendTabRow(text, grid, 0);
    for (int32_t row = std::max(first, 1); row <= last && row < grid.RowCount(); ++row)
        AppendTabRow(text, grid, row);
    return text;
}

std::string TabSeparatedGrid(const TStringGrid& grid)
{
    return TabSeparatedRows(grid, 1, grid.RowCount() - 1);
}

std::string CsvGrid(const TStringGrid& grid)
{
    std::string text;
    for (int32_t row = 0; row < grid.RowCount(); ++row) {
        for (int32_t col = 0; col < grid.ColCount(); ++col) {
            if (col > 0)
                text += ',';
            AppendCsvField(text, grid.Cell(col, row));
        }
        text += "\r\n";
    }
    return text;
}
