// The list of every process as the user narrows and orders it: the filter over login,
// host, program, database, command and SPID with the model's case folding, the heading
// cycle, and the orders of numbers, date-times and names.

#include "tests/support/Modelfixture.h"
#include "model/Processlistview.h"
#include "model/Torvaneprocessuserprocesses.h"

#include <QtTest>

#include <vector>

using TRows = std::vector<TRow>;
Q_DECLARE_METATYPE(TRows)

namespace {

TRows SomeProcesses()
{
    return {TRow(7).Login("Müller").Host("WS-ANNA").Program("SQLAgent").Db("msdb").Cmd("SELECT").Cpu(900)
                .LoginTime("2026-03-01 09:00:00").LastBatch("2026-03-02 10:00:00").HostProcess("120"),
            TRow(51).Login("sa").Host("db-admin").Program("Straße Sync").Db("Sales").Cmd("UPDATE").Cpu(15)
                .LoginTime("2026-02-28 23:59:59").LastBatch("2026-03-02 09:59:59").HostProcess("9"),
            TRow(64).Login("app").Host("web1").Program("Shop").Db("Sales").Cmd("AWAITING COMMAND").Cpu(100000)
                .LoginTime("2026-03-01 09:00:00").LastBatch("2026-03-01 08:00:00").HostProcess(""),
            TRow(512).Login("report").Host("bi").Program("Report Builder").Db("DW").Cmd("SELECT").Cpu(15)
                .LoginTime("2026-01-15 07:00:00").LastBatch("2026-03-02 11:00:00").HostProcess("1200")};
}

QStringList Spids(const TMemoryStringGrid& grid)
{
    QStringList spids;
    for (int32_t row = 1; row < grid.RowCount(); ++row)
        spids << Q(grid.Cell(1, row));
    return spids;
}

} // namespace

class TestProcessListView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filter_data();
    void filter();
    void sort_data();
    void sort();
    void headingCycle();
};

void TestProcessListView::filter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("spids");

    QTest::newRow("empty keeps all") << QString() << QStringList{"7", "51", "64", "512"};
    QTest::newRow("login, any case") << QStringLiteral("REPO") << QStringList{"512"};
    QTest::newRow("login folded beyond ASCII") << QStringLiteral("MÜLL") << QStringList{"7"};
    QTest::newRow("host") << QStringLiteral("web") << QStringList{"64"};
    QTest::newRow("program, sharp s as ss") << QStringLiteral("STRASSE") << QStringList{"51"};
    QTest::newRow("database") << QStringLiteral("sales") << QStringList{"51", "64"};
    QTest::newRow("command") << QStringLiteral("awaiting") << QStringList{"64"};
    QTest::newRow("SPID digits") << QStringLiteral("51") << QStringList{"51", "512"};
    QTest::newRow("digits also in names: host process is not searched") << QStringLiteral("120") << QStringList{};
    QTest::newRow("nothing matches") << QStringLiteral("zzz") << QStringList{};
}

void TestProcessListView::filter()
{
    QFETCH(QString, text);
    QFETCH(QStringList, spids);
    TTorvaneProcessUserProcesses processes;
    processes.BeginRefresh();
    for (const TRow& row : SomeProcesses())
        processes.AddProcess(row);
    processes.EndRefresh();
    TProcessListView view(ParseTestDateTime);
    view.SetFilter(text.toStdString());
    TMemoryStringGrid grid(16, 2);
    const int32_t hidden = processes.FillProcessGrid(grid, false, view);
    QCOMPARE(Spids(grid).filter(QRegularExpression(QStringLiteral("."))), spids);
    QCOMPARE(hidden, 4 - static_cast<int32_t>(spids.size()));
}

void TestProcessListView::sort_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QStringList>("spids");

    QTest::newRow("model's order") << -1 << false << QStringList{"7", "51", "64", "512"};
    QTest::newRow("SPID descending: numbers, not texts") << 1 << true << QStringList{"512", "64", "51", "7"};
    QTest::newRow("login, folded names") << 2 << false << QStringList{"64", "7", "512", "51"};
    QTest::newRow("CPU as numbers, equal values by SPID") << 9 << false << QStringList{"51", "512", "7", "64"};
    QTest::newRow("CPU descending, equal values still by SPID")
        << 9 << true << QStringList{"64", "7", "51", "512"};
    QTest::newRow("login time as date-times, equal by SPID") << 7 << false << QStringList{"512", "51", "7", "64"};
    QTest::newRow("last batch: across midnight and days") << 8 << true << QStringList{"512", "7", "51", "64"};
    QTest::newRow("host process as numbers, empty first") << 15 << false << QStringList{"64", "51", "7", "512"};
}

void TestProcessListView::sort()
{
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(QStringList, spids);
    TTorvaneProcessUserProcesses processes;
    processes.BeginRefresh();
    for (const TRow& row : SomeProcesses())
        processes.AddProcess(row);
    processes.EndRefresh();
    TProcessListView view(ParseTestDateTime);
    view.SortBy(column, descending);
    TMemoryStringGrid grid(16, 2);
    QCOMPARE(processes.FillProcessGrid(grid, false, view), 0);
    QCOMPARE(Spids(grid), spids);
    // A filter and an order together.
    view.SetFilter("sales");
    processes.FillProcessGrid(grid, false, view);
    QStringList filtered = spids;
    filtered.removeIf([](const QString& spid) { return spid != QLatin1String("51") && spid != QLatin1String("64"); });
    QCOMPARE(Spids(grid), filtered);
}

void TestProcessListView::headingCycle()
{
    TProcessListView view;
    view.HeadingClicked(9);
    QCOMPARE(view.SortColumn(), 9);
    QVERIFY(!view.Descending());
    view.HeadingClicked(9);
    QCOMPARE(view.SortColumn(), 9);
    QVERIFY(view.Descending());
    view.HeadingClicked(9);
    QCOMPARE(view.SortColumn(), -1);
    QVERIFY(view.Plain());
    view.HeadingClicked(9);
    view.HeadingClicked(2); // another column starts ascending
    QCOMPARE(view.SortColumn(), 2);
    QVERIFY(!view.Descending());
}

QTEST_GUILESS_MAIN(TestProcessListView)
#include "tst_processlistview.moc"
