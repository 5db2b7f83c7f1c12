#pragma once
// Row handling shared by the fills.

#include "model/Stringgrid.h"

#include <span>

// Brackets one fill with the grid's BeginUpdate and EndUpdate.
class TGridUpdate
{
public:
    explicit TGridUpdate(TStringGrid& grid) : Grid(grid) { Grid.BeginUpdate(); }
    ~TGridUpdate() { Grid.EndUpdate(); }
    TGridUpdate(const TGridUpdate&) = delete;
    TGridUpdate& operator=(const TGridUpdate&) = delete;

private:
    TStringGrid& Grid;
};

// Writes the rows of a list fill one after the other from row 1 (row 0 is the caption
// row), raising the row count as it goes. When it is done the grid holds exactly the
// rows written plus the caption row, but at least two rows; a data row kept with
// nothing written into it is emptied, so no earlier list shows through.
class TGridRowWriter
{
public:
    explicit TGridRowWriter(TStringGrid& grid);
    ~TGridRowWriter();
    TGridRowWriter(const TGridRowWriter&) = delete;
    TGridRowWriter& operator=(const TGridRowWriter&) = delete;

    void NextRow();
    // A cell of the current row; columns the grid lacks are left out.
    void Set(int32_t col, std::string_view text);

private:
    TGridUpdate Update;
    TStringGrid& Grid;
    const int32_t Cols; // a fill changes rows only
    int32_t Row = 0;
};

// A cell of a summary row at the grid column columnMap[column]; left out when the map
// has no such entry or the grid no such column.
void SetMappedCell(TStringGrid& grid, std::span<const int32_t> columnMap, int column, int32_t row,
                   std::string_view text);

class TTextFilter;

// Keeps only the data rows (from row 1 on) one of whose given columns contains the
// filter's text, in their order, and returns how many it dropped. The grid keeps at least
// two rows; a data row kept with no row to show is emptied. For summaries: their rows
// number in the hundreds, not the thousands of a process list.
int32_t KeepMatchingRows(TStringGrid& grid, const TTextFilter& filter, std::span<const int32_t> columns);
