#pragma once
// A grid's rows as text to take out of the program: tab-separated for the clipboard and
// the headless tables, CSV for files. The heading row (row 0) comes first.

#include "model/Stringgrid.h"

#include <cstdint>
#include <string>
#include <string_view>

// A cell as one tab-separated field. Names come from the clients (a program name may
// hold a tab and a line break), so every control character, and the Unicode line and
// paragraph separators some readers also break lines at, is written as one blank: one
// line per row, the same number of fields on every line.
std::string TabField(std::string_view cell);

// The heading row and the data rows from `first` to `last` (grid rows), tab-separated,
// each line ended by "\n".
std::string TabSeparatedRows(const TStringGrid& grid, int32_t first, int32_t last);
// The heading row and every data row.
std::string TabSeparatedGrid(const TStringGrid& grid);

// The heading row and every data row as CSV (RFC 4180): fields separated by commas,
// lines ended by CR LF, a field holding a comma, a double quote, CR or LF quoted with
// its double quotes doubled. The text is UTF-8; a file for spreadsheets starts with
// Utf8ByteOrderMark.
std::string CsvGrid(const TStringGrid& grid);
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";
