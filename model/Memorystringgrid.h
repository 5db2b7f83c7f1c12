#pragma once
// A TStringGrid that keeps its cells in memory: the grid of tests, benchmarks and the
// headless monitor.

#include "model/Stringgrid.h"

#include <vector>

class TMemoryStringGrid : public TStringGrid
{
public:
    TMemoryStringGrid(int32_t cols, int32_t rows);

    int32_t RowCount() const override;
    void SetRowCount(int32_t rows) override;
    int32_t ColCount() const override;
    std::string Cell(int32_t col, int32_t row) const override;
    void SetCell(int32_t col, int32_t row, std::string_view text) override;

    // Row `row` as its cells joined by tabs.
    std::string RowText(int32_t row) const;

private:
    bool Contains(int32_t col, int32_t row) const;

    int32_t Cols;
    int32_t Rows;
    std::vector<std::string> Cells; // row-major
};
