#pragma once
// How the process views keep the user's selection across a refill: the summary row of
// the same user or database, the row of the same process (SPID). Every refresh
// rewrites the grids, so the views remember keys before the refill and look them up
// afterwards in the rows the model wrote, which come sorted by those keys.
//
// Rows are grid rows: row 0 is the heading, data rows start at 1.

#include "model/Stringgrid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The remembered key of a users summary row: columns 1 (login), 2 (host), 9 (NT login
// name) and 11 (net address).
struct TUserRowKey
{
    std::string Login;
    std::string Host;
    std::string NtLogin;
    std::string NetAddress;
};

TUserRowKey UserRowKey(const TStringGrid& grid, int32_t row);

// Names are compared as the model orders them (model/Namecompare.h), so a remembered
// row is found where the model put it.

// The summary row to select after a refill. The remembered row stays when it still
// holds the key; otherwise the first row that sorts at or after the key (the user or
// database itself, or its successor), else the last row. An empty key (nothing
// remembered yet) keeps selectedRow within the rows. Never below 1.
int32_t RestoreUserRow(const TStringGrid& grid, int32_t selectedRow, const TUserRowKey& key);
// Databases sort as CompareDistinctNames orders them, so "Reporting" and "reporting"
// each keep their row.
int32_t RestoreDatabaseRow(const TStringGrid& grid, int32_t selectedRow, std::string_view keyDatabase);

// The SPID in column 1 of a row; nullopt when the cell is not a decimal number (the
// empty row a process list keeps when it has no process).
std::optional<int32_t> RowSpid(const TStringGrid& grid, int32_t row);

// The SPID to remember of the selected row: -1 when there is none.
int32_t RememberedSpid(const TStringGrid& grid, int32_t selectedRow);

// The process row to select after a refill of a list sorted by ascending SPID: the
// first row whose SPID is at or above selectedSpid (the process itself, or the next
// higher one), else the last row. With selectedSpid -1 the first row; 0 when the grid
// has no row below the heading.
int32_t RestoreSpidRow(const TStringGrid& grid, int32_t selectedSpid);

// The same for a list in another order (sorted by a column): the row of selectedSpid, else
// the row of the next higher SPID listed, else the last row.
int32_t RestoreSpidRowInAnyOrder(const TStringGrid& grid, int32_t selectedSpid);
