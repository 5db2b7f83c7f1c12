#include "model/Gridrows.h"

#include "model/Textfilter.h"

#include <algorithm>

TGridRowWriter::TGridRowWriter(TStringGrid& grid) : Update(grid), Grid(grid), Cols(grid.ColCount()) {}

TGridRowWriter::~TGridRowWriter()
{
    Grid.SetRowCount(std::max(Row + 1, 2));
    if (Row == 0) {
        for (int32_t col = 0; col < Grid.ColCount(); ++col)
            Grid.SetCell(col, 1, {});
    }
}

void TGridRowWriter::NextRow()
{
    ++Row;
    if (Grid.RowCount() < Row + 1)
        Grid.SetRowCount(Row + 1);
}

void TGridRowWriter::Set(int32_t col, std::string_view text)
{
    if (col < Cols)
        Grid.SetCell(col, Row, text);
}

void SetMappedCell(TStringGrid& grid, std::span<const int32_t> columnMap, int column, int32_t row,
                   std::string_view text)
{
    if (static_cast<std::size_t>(column) >= columnMap.size())
        return;
    const int32_t col = columnMap[static_cast<std::size_t>(column)];
    if (col >= 0 && col < grid.ColCount())
        grid.SetCell(col, row, text);
}

int32_t KeepMatchingRows(TStringGrid& grid, const TTextFilter& filter, std::span<const int32_t> columns)
{
    if (filter.Empty())
        return 0;
    TGridUpdate update(grid);
    const int32_t rows = grid.RowCount();
    const int32_t cols = grid.ColCount();
    int32_t kept = 0;
    int32_t dropped = 0;
    for (int32_t row = 1; row < rows; ++row) {
        bool empty = true;
        bool match = false;
        for (int32_t col = 0; col < cols && empty; ++col)
            empty = grid.Cell(col, row).empty();
        for (const int32_t col : columns) {
            if (filter.FoundIn(grid.Cell(col, row))) {
                match = true;
                break;
            }
        }
        if (!match) {
            dropped += empty ? 0 : 1;
            continue;
        }
        ++kept;
        if (kept != row) {
            for (int32_t col = 0; col < cols; ++col)
                grid.SetCell(col, kept, grid.Cell(col, row));
        }
    }
    grid.SetRowCount(kept + 1 < 2 ? 2 : kept + 1);
    if (kept == 0) {
        for (int32_t col = 0; col < cols; ++col)
            grid.SetCell(col, 1, {});
    }
    return dropped;
}
