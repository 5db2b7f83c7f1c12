// The process threads: one entry per (spid, ecid), replaced values, and the thread grid.

#include "tests/support/Modelfixture.h"
#include "model/Torvaneprocessthreads.h"

#include <QtTest>

#include <vector>

namespace {

struct TThread
{
    int32_t Spid;
    int32_t Ecid;
    int64_t Cpu;
    int32_t Wait = 0;
    std::string WaitType = {};
    std::string Resource = {};
    std::string Database = "master";
};

using TThreads = std::vector<TThread>;

void Feed(TTorvaneProcessThreads& threads, const TThreads& rows)
{
    threads.BeginRefresh();
    for (const TThread& t : rows)
        threads.AddThread(t.Spid, t.Ecid, t.Cpu, t.Wait, t.WaitType, t.Resource, t.Database);
    threads.EndRefresh();
}

QStringList Fill(const TTorvaneProcessThreads& threads, int32_t spid, int rowsBefore = 2)
{
    TMemoryStringGrid grid(6, rowsBefore);
    for (int32_t row = 0; row < rowsBefore; ++row)
        grid.SetCell(5, row, "stale");
    threads.FillThreadGrid(grid, spid);
    QStringList rows;
    for (int32_t row = 1; row < grid.RowCount(); ++row)
        rows << RowText(grid, row);
    return rows;
}

} // namespace

Q_DECLARE_METATYPE(TThreads)

class TestTorvaneProcessThreads : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listsThreadsOfOneProcess_data();
    void listsThreadsOfOneProcess();
    void addProcessIgnoresRows();
    void fullWidthWaitValuesKeptWhole();
};

void TestTorvaneProcessThreads::listsThreadsOfOneProcess_data()
{
    QTest::addColumn<TThreads>("first");
    QTest::addColumn<TThreads>("second");
    QTest::addColumn<int>("rowsBefore");
    QTest::addColumn<QStringList>("grid");

    // Columns: ECID, CPU, wait time, last wait type, wait resource, database; spid 51.
    QTest::newRow("ordered by ecid whatever the row order")
        << TThreads{}
        << TThreads{{51, 2, 5}, {52, 0, 9}, {51, 0, 7, 30, "LCK_M_S", "KEY: 5:72057594", "Sales"}, {51, 1, 6}}
        << 2
        << QStringList{"0\t7 (7)\t30\tLCK_M_S\tKEY: 5:72057594\tSales", "1\t6 (6)\t0\t\t\tmaster",
                       "2\t5 (5)\t0\t\t\tmaster"};
    QTest::newRow("CPU replaced, not added; new worker shows all as change")
        << TThreads{{51, 0, 1000}} << TThreads{{51, 0, 1250, 4, "CXPACKET"}, {51, 1, 80}} << 2
        << QStringList{"0\t1250 (250)\t4\tCXPACKET\t\tmaster", "1\t80 (80)\t0\t\t\tmaster"};
    QTest::newRow("workers ended: ecid 0 alone, grid cut")
        << TThreads{{51, 0, 1}, {51, 1, 1}, {51, 2, 1}, {52, 0, 1}} << TThreads{{51, 0, 1}, {52, 0, 1}} << 4
        << QStringList{"0\t1 (0)\t0\t\t\tmaster"};
    QTest::newRow("no threads: one empty row kept")
        << TThreads{} << TThreads{{50, 0, 1}, {52, 0, 1}} << 5 << QStringList{"\t\t\t\t\t"};
    QTest::newRow("no threads in a one-row grid: two rows")
        << TThreads{} << TThreads{} << 1 << QStringList{"\t\t\t\t\t"};
}

void TestTorvaneProcessThreads::listsThreadsOfOneProcess()
{
    QFETCH(TThreads, first);
    QFETCH(TThreads, second);
    QFETCH(int, rowsBefore);
    QFETCH(QStringList, grid);
    TTorvaneProcessThreads threads;
    if (!first.empty())
        Feed(threads, first);
    Feed(threads, second);
    QCOMPARE(Fill(threads, 51, rowsBefore), grid);
}

void TestTorvaneProcessThreads::addProcessIgnoresRows()
{
    TTorvaneProcessThreads threads;
    Refresh(threads, {TRow(51), TRow(51, 1)});
    QCOMPARE(threads.Count(), 0);
}

void TestTorvaneProcessThreads::fullWidthWaitValuesKeptWhole()
{
    const std::string waitType(32, 'W');
    const std::string resource(256, 'R');
    TTorvaneProcessThreads threads;
    Feed(threads, {{51, 0, 1, 0, waitType, resource}});
    QCOMPARE(Q(FixedText(threads.Entry(0).LastWaitType)), Q(waitType));
    QCOMPARE(Q(FixedText(threads.Entry(0).WaitResource)), Q(resource));
}

QTEST_APPLESS_MAIN(TestTorvaneProcessThreads)
#include "tst_torvaneprocessthreads.moc"
