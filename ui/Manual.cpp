#include "ui/Manual.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace {

bool IsManual(const QString& path)
{
    return QFileInfo(path).isFile();
}

} // namespace

QString FindManual(const QString& programDirectory)
{
    const QString fileName = QString::fromLatin1(ManualFileName);
    const QString program = QDir(programDirectory).absolutePath();
    for (const QString& candidate :
         {QString(program + u'/' + fileName), QString(program + u"/../share/torvane/" + fileName)}) {
        const QString path = QDir::cleanPath(candidate);
        if (IsManual(path))
            return path;
    }
    // The data folders also hold a manual installed by a package into /usr while the
    // program runs from elsewhere, for example a copy in the user's home.
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("torvane/") + fileName);
}

void OpenManual()
{
    const QString manual = FindManual(QCoreApplication::applicationDirPath());
    if (manual.isEmpty())
        return;
    // The result is not looked at: a desktop without a handler for HTML shows nothing.
    QDesktopServices::openUrl(QUrl::fromLocalFile(manual));
}
