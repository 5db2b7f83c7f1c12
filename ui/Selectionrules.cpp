#include "ui/Selectionrules.h"

#include "model/Namecompare.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace {

constexpr int32_t LoginColumn = 1;
constexpr int32_t HostColumn = 2;
constexpr int32_t NtLoginColumn = 9;
constexpr int32_t NetAddressColumn = 11;
constexpr int32_t NameColumn = 1;
constexpr int32_t SpidColumn = 1;

int CompareUserKeys(const TUserRowKey& a, const TUserRowKey& b)
{
    if (const int c = CompareNames(a.Login, b.Login))
        return c;
    if (const int c = CompareNames(a.Host, b.Host))
        return c;
    if (const int c = CompareNames(a.NtLogin, b.NtLogin))
        return c;
    return CompareNames(a.NetAddress, b.NetAddress);
}

// The first data row that sorts at or after the key, else the last row.
template <typename RowCompare>
int32_t FirstRowAtOrAfter(const TStringGrid& grid, RowCompare compareRowWithKey)
{
    const int32_t last = grid.RowCount() - 1;
    for (int32_t row = 1; row <= last; ++row) {
        if (compareRowWithKey(row) >= 0)
            return row;
    }
    return std::max(last, 1);
}

int32_t WithinRows(const TStringGrid& grid, int32_t row)
{
    return std::clamp(row, 1, std::max(grid.RowCount() - 1, 1));
}

} // namespace

TUserRowKey UserRowKey(const TStringGrid& grid, int32_t row)
{
    return {grid.Cell(LoginColumn, row), grid.Cell(HostColumn, row), grid.Cell(NtLoginColumn, row),
            grid.Cell(NetAddressColumn, row)};
}

int32_t RestoreUserRow(const TStringGrid& grid, int32_t selectedRow, const TUserRowKey& key)
{
    if (key.Login.empty())
        return WithinRows(grid, selectedRow);
    if (selectedRow >= 1 && selectedRow < grid.RowCount() &&
        CompareUserKeys(UserRowKey(grid, selectedRow), key) == 0)
        return selectedRow;
    return FirstRowAtOrAfter(grid, [&](int32_t row) { return CompareUserKeys(UserRowKey(grid, row), key); });
}

int32_t RestoreDatabaseRow(const TStringGrid& grid, int32_t selectedRow, std::string_view keyDatabase)
{
    if (keyDatabase.empty())
        return WithinRows(grid, selectedRow);
    return FirstRowAtOrAfter(
        grid, [&](int32_t row) { return CompareDistinctNames(grid.Cell(NameColumn, row), keyDatabase); });
}

std::optional<int32_t> RowSpid(const TStringGrid& grid, int32_t row)
{
    const std::string cell = grid.Cell(SpidColumn, row);
    int32_t spid = 0;
    const auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), spid);
    if (cell.empty() || error != std::errc() || end != cell.data() + cell.size())
        return std::nullopt;
    return spid;
}

int32_t RememberedSpid(const TStringGrid& grid, int32_t selectedRow)
{
    if (grid.RowCount() < 2 || selectedRow < 1 || selectedRow >= grid.RowCount())
        return -1;
    return RowSpid(grid, selectedRow).value_or(-1);
}

int32_t RestoreSpidRow(const TStringGrid& grid, int32_t selectedSpid)
{
    // The rows ascend by SPID, so the first row at or above it is found by halving; a
    // row without a number (only ever the lone empty row) counts as above every SPID.
    int32_t low = 1;
    int32_t high = grid.RowCount(); // one past the last row
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        if (RowSpid(grid, middle).value_or(std::numeric_limits<int32_t>::max()) < selectedSpid)
            low = middle + 1;
        else
            high = middle;
    }
    return low < grid.RowCount() ? low : grid.RowCount() - 1;
}

int32_t RestoreSpidRowInAnyOrder(const TStringGrid& grid, int32_t selectedSpid)
{
    // One pass: the process itself wins; else the row of the lowest SPID above it.
    int32_t successor = 0;
    int32_t successorSpid = std::numeric_limits<int32_t>::max();
    for (int32_t row = 1; row < grid.RowCount(); ++row) {
        const std::optional<int32_t> spid = RowSpid(grid, row);
        if (!spid)
            continue;
        if (*spid == selectedSpid)
            return row;
        if (*spid > selectedSpid && *spid < successorSpid) {
            successor = row;
            successorSpid = *spid;
        }
    }
    return successor > 0 ? successor : grid.RowCount() - 1;
}
