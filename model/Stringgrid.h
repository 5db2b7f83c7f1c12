#pragma once
// The grid the model's fills write into: rows of text cells addressed by column and
// row, row 0 being the caption row that the view writes. The views implement it with a
// table model; TMemoryStringGrid holds the cells in memory.

#include <cstdint>
#include <string>
#include <string_view>

class TStringGrid
{
public:
    virtual ~TStringGrid() = default;

    virtual int32_t RowCount() const = 0;
    // Raising keeps the existing rows and adds empty ones; cutting drops the last rows.
    virtual void SetRowCount(int32_t rows) = 0;
    virtual int32_t ColCount() const = 0;

    // Cells outside the grid read as empty; writes to them are ignored.
    virtual std::string Cell(int32_t col, int32_t row) const = 0;
    virtual void SetCell(int32_t col, int32_t row, std::string_view text) = 0;

    // A fill brackets its writes with these, so a view can publish one fill as one
    // change instead of one per cell.
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}
};
