#pragma once
// Export... of the Monitor menu: the grid shown, or every grid of the server, saved as
// CSV (RFC 4180, UTF-8 with a byte-order mark so that spreadsheets read it as UTF-8)
// to a file the user chooses. Every grid makes one file per grid beside the chosen
// name: "db1.csv" becomes "db1 - Users.csv", "db1 - All Processes.csv" and so on.

#include <QString>

#include <vector>

class QWidget;
class TGridModel;

struct TNamedGrid
{
    QString Name;
    const TGridModel* Grid;
};

// Writes the grids (one: to path itself; several: one file each beside it); each file is
// replaced whole or not at all. False with error naming the file when one cannot be written.
bool WriteCsvFiles(const std::vector<TNamedGrid>& grids, const QString& path, QString& error);
// The file named for one of several grids saved beside path.
QString CsvFileFor(const QString& path, const QString& gridName);

// Asks which grids and where, writes them, and says so when a file could not be written.
void ExportGrids(QWidget* parent, const std::vector<TNamedGrid>& shown, const std::vector<TNamedGrid>& all);
