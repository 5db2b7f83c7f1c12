// Export...: the grids saved as CSV files a spreadsheet opens as UTF-8, one file for the
// shown grid, one per grid beside the chosen name for all of them, and a file that
// cannot be written reported with its name.

#include "ui/Gridexport.h"
#include "ui/Gridmodel.h"

#include <QtTest>

class TestGridExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesCsvWithByteOrderMark();
    void unwritableFolderIsReported();
};

void TestGridExport::writesCsvWithByteOrderMark()
{
    TGridModel users(2);
    users.SetColumns({QStringLiteral("SPID"), QStringLiteral("Program")}, {}, {});
    users.SetRowCount(2);
    users.SetCell(0, 1, "51");
    users.SetCell(1, 1, "Straße, \"Sync\"");
    TGridModel processes(1);
    processes.SetColumns({QStringLiteral("SPID")}, {}, {});
    processes.SetRowCount(2);
    processes.SetCell(0, 1, "52");
    QTemporaryDir folder;
    QString error;

    const QString one = folder.filePath(QStringLiteral("shown.csv"));
    QVERIFY(WriteCsvFiles({{QStringLiteral("Users"), &users}}, one, error));
    QFile file(one);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\xEF\xBB\xBFSPID,Program\r\n51,\"Straße, \"\"Sync\"\"\"\r\n"));

    const QString all = folder.filePath(QStringLiteral("db1.csv"));
    QVERIFY(WriteCsvFiles({{QStringLiteral("Users"), &users}, {QStringLiteral("All Processes"), &processes}},
                          all, error));
    QVERIFY(!QFile::exists(all));
    QFile second(folder.filePath(QStringLiteral("db1 - All Processes.csv")));
    QVERIFY(second.open(QIODevice::ReadOnly));
    QCOMPARE(second.readAll(), QByteArray("\xEF\xBB\xBFSPID\r\n52\r\n"));
    QVERIFY(QFile::exists(folder.filePath(QStringLiteral("db1 - Users.csv"))));
}

void TestGridExport::unwritableFolderIsReported()
{
    TGridModel grid(1);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("missing/grid.csv"));
    QString error;
    QVERIFY(!WriteCsvFiles({{QStringLiteral("Users"), &grid}}, path, error));
    QVERIFY2(error.contains(QStringLiteral("Users")) && error.contains(QStringLiteral("grid.csv")),
             qPrintable(error));
}

QTEST_MAIN(TestGridExport)
#include "tst_gridexport.moc"
