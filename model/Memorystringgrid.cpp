#include "model/Memorystringgrid.h"

#include <algorithm>

TMemoryStringGrid::TMemoryStringGrid(int32_t cols, int32_t rows)
    : Cols(std::max(cols, 0)), Rows(std::max(rows, 0)),
      Cells(static_cast<std::size_t>(Cols) * static_cast<std::size_t>(Rows))
{
}

int32_t TMemoryStringGrid::RowCount() const
{
    return Rows;
}

void TMemoryStringGrid::SetRowCount(int32_t rows)
{
    Rows = std::max(rows, 0);
    Cells.resize(static_cast<std::size_t>(Cols) * static_cast<std::size_t>(Rows));
}

int32_t TMemoryStringGrid::ColCount() const
{
    return Cols;
}

std::string TMemoryStringGrid::Cell(int32_t col, int32_t row) const
{
    return Contains(col, row) ? Cells[static_cast<std::size_t>(row) * Cols + col] : std::string();
}

void TMemoryStringGrid::SetCell(int32_t col, int32_t row, std::string_view text)
{
    if (Contains(col, row))
        Cells[static_cast<std::size_t>(row) * Cols + col].assign(text);
}

std::string TMemoryStringGrid::RowText(int32_t row) const
{
    std::string text;
    for (int32_t col = 0; col < Cols; ++col) {
        if (col > 0)
            text += '\t';
        text += Cell(col, row);
    }
    return text;
}

bool TMemoryStringGrid::Contains(int32_t col, int32_t row) const
{
    return col >= 0 && col < Cols && row >= 0 && row < Rows;
}
