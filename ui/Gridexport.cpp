#include "ui/Gridexport.h"

#include "model/Gridtext.h"
#include "ui/Gridmodel.h"
#include "ui/Messagebox.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

QString CsvFileFor(const QString& path, const QString& gridName)
{
    const QFileInfo file(path);
    return file.dir().filePath(file.completeBaseName() + QStringLiteral(" - ") + gridName +
                               QStringLiteral(".csv"));
}

bool WriteCsvFiles(const std::vector<TNamedGrid>& grids, const QString& path, QString& error)
{
    for (const TNamedGrid& grid : grids) {
        const QString name = grids.size() == 1 ? path : CsvFileFor(path, grid.Name);
        QSaveFile file(name);
        const std::string csv = std::string(Utf8ByteOrderMark) + CsvGrid(*grid.Grid);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
            !file.commit()) {
            error = QStringLiteral("The grid %1 could not be saved to %2: %3")
                        .arg(grid.Name, QDir::toNativeSeparators(name), file.errorString());
            return false;
        }
    }
    return true;
}

void ExportGrids(QWidget* parent, const std::vector<TNamedGrid>& shown, const std::vector<TNamedGrid>& all)
{
    if (all.empty())
        return;
    bool every = shown.empty();
    if (!every) {
        every =
            ShowMessage(parent, {QStringLiteral("Save every grid of the server, each to a file of its own? "
                                                "(No saves the grid shown, %1.)")
                                     .arg(shown.front().Name),
                                 QStringLiteral("Export"), TMessageButtons::YesNo, TMessageIcon::Question}) ==
            TMessageResult::Yes;
    }
    const QString path =
        ChooseSaveFile(parent, QStringLiteral("Export"),
                       (every ? QStringLiteral("grids") : shown.front().Name) + QStringLiteral(".csv"),
                       QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!WriteCsvFiles(every ? all : shown, path, error))
        ShowMessage(parent, {error, QStringLiteral("Export"), TMessageButtons::Ok, TMessageIcon::Error});
}
