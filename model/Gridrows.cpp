#include "model/Gridrows.h"

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
