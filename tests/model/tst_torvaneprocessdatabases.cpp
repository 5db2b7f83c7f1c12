// The database summary: names ordered ignoring case but matched exactly, per-thread
// sums, previous values, baselines and its grid.

#include "tests/support/Modelfixture.h"
#include "model/Namecompare.h"
#include "model/Torvaneprocessdatabases.h"

#include <QtTest>

#include <array>
#include <vector>

using TRows = std::vector<TRow>;
Q_DECLARE_METATYPE(TRows)

namespace {

// The frame hands its twelve-column maps; the database summary uses the first eight.
constexpr std::array<int32_t, 12> Identity = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

void Feed(TTorvaneProcessDatabases& databases, const TRows& rows)
{
    databases.BeginRefresh();
    for (const TRow& row : rows)
        databases.AddProcess(row);
    databases.EndRefresh();
}

QStringList Fill(const TTorvaneProcessDatabases& databases, bool sinceReset = false)
{
    TMemoryStringGrid grid(8, 2);
    databases.FillDatabaseGrid(grid, Identity, sinceReset);
    QStringList rows;
    for (int32_t row = 1; row < grid.RowCount(); ++row)
        rows << RowText(grid, row);
    return rows;
}

} // namespace

class TestTorvaneProcessDatabases : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void summarisesDatabases_data();
    void summarisesDatabases();
    void sinceResetShowsChangeFromBaseline();
    void longNameKeepsOneEntry();
    void orderIsTheOrderOfDistinctNames();
};

void TestTorvaneProcessDatabases::summarisesDatabases_data()
{
    QTest::addColumn<TRows>("first");
    QTest::addColumn<TRows>("second");
    QTest::addColumn<QStringList>("grid");

    // Columns: state, database, #procs, latest activity, CPU, memory, physical IO, locked.
    QTest::newRow("ordered ignoring case")
        << TRows{} << TRows{TRow(51).Db("Gamma"), TRow(52).Db("beta"), TRow(53).Db("Alpha")}
        << QStringList{"I\tAlpha\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0",
                       "I\tbeta\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0",
                       "I\tGamma\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0"};
    QTest::newRow("names differing in case each find their own entry")
        << TRows{TRow(51).Db("Sales"), TRow(52).Db("SALES"), TRow(53).Db("sales")}
        << TRows{TRow(53).Db("sales").Cpu(1), TRow(51).Db("Sales").Cpu(2), TRow(52).Db("SALES").Cpu(4),
                 TRow(54).Db("sales").Cpu(8)}
        << QStringList{"A\tSALES\t1 (0)\t\t4 (4)\t0 (0)\t0 (0)\t0",
                       "A\tSales\t1 (0)\t\t2 (2)\t0 (0)\t0 (0)\t0",
                       "A\tsales\t2 (1)\t\t9 (9)\t0 (0)\t0 (0)\t0"};
    QTest::newRow("folded beyond ASCII, apart by exact name")
        << TRows{} << TRows{TRow(51).Db("Nacht"), TRow(52).Db("müller"), TRow(53).Db("MÜLLER"),
                            TRow(54).Db("mz"),    TRow(55).Db("Müller"), TRow(56).Db("müller")}
        << QStringList{"I\tmz\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0", "I\tMÜLLER\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0",
                       "I\tMüller\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0",
                       "I\tmüller\t2 (2)\t\t0 (0)\t0 (0)\t0 (0)\t0",
                       "I\tNacht\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0"};
    QTest::newRow("threads count, memory and IO from ecid 0 only")
        << TRows{TRow(60).Db("A")}
        << TRows{TRow(60).Db("A"), TRow(51).Db("A").Cpu(10).Mem(5).Io(7),
                 TRow(51, 1).Db("A").Cpu(20).Mem(5).Io(7), TRow(51, 2).Db("A").Cpu(30).Mem(5).Io(7)}
        << QStringList{"A\tA\t4 (3)\t\t60 (60)\t5 (5)\t7 (7)\t0"};
    QTest::newRow("worker thread alone in a database adds CPU only")
        << TRows{} << TRows{TRow(51).Db("A").Mem(5).Io(7), TRow(51, 1).Db("B").Cpu(3).Mem(5).Io(7)}
        << QStringList{"A\tA\t1 (1)\t\t0 (0)\t5 (5)\t7 (7)\t0", "A\tB\t1 (1)\t\t3 (3)\t0 (0)\t0 (0)\t0"};
    QTest::newRow("first seen: whole count as change")
        << TRows{} << TRows{TRow(51).Db("A"), TRow(52).Db("A"), TRow(53).Db("A"), TRow(53, 1).Db("A")}
        << QStringList{"I\tA\t4 (4)\t\t0 (0)\t0 (0)\t0 (0)\t0"};
    QTest::newRow("database left by its last process disappears")
        << TRows{TRow(51).Db("A"), TRow(52).Db("B"), TRow(53).Db("C"), TRow(54).Db("D")}
        << TRows{TRow(51).Db("A"), TRow(54).Db("D")}
        << QStringList{"I\tA\t1 (0)\t\t0 (0)\t0 (0)\t0 (0)\t0", "I\tD\t1 (0)\t\t0 (0)\t0 (0)\t0 (0)\t0"};
    QTest::newRow("blocked thread locks its database")
        << TRows{} << TRows{TRow(51).Db("A"), TRow(52, 1).Db("A").Blocked(60)}
        << QStringList{"L\tA\t2 (2)\t\t0 (0)\t0 (0)\t0 (0)\t60"};
    QTest::newRow("latest activity counts worker rows")
        << TRows{}
        << TRows{TRow(51).Db("A").LastBatch("2026-03-01 08:00:00"),
                 TRow(51, 1).Db("A").LastBatch("2026-03-01 08:30:00"),
                 TRow(52).Db("A").LastBatch("2026-03-01 07:00:00")}
        << QStringList{"I\tA\t3 (3)\t2026-03-01 08:30:00\t0 (0)\t0 (0)\t0 (0)\t0"};
    QTest::newRow("no database left: caption row alone") << TRows{TRow(51)} << TRows{} << QStringList{};
}

void TestTorvaneProcessDatabases::summarisesDatabases()
{
    QFETCH(TRows, first);
    QFETCH(TRows, second);
    QFETCH(QStringList, grid);
    TTorvaneProcessDatabases databases(ParseTestDateTime);
    if (!first.empty())
        Feed(databases, first);
    Feed(databases, second);
    QCOMPARE(Fill(databases), grid);
}

void TestTorvaneProcessDatabases::sinceResetShowsChangeFromBaseline()
{
    TTorvaneProcessDatabases databases(ParseTestDateTime);
    Feed(databases, {TRow(51).Db("A").Cpu(100).Io(50)});
    databases.ResetBaselines();
    Feed(databases, {TRow(51).Db("A").Cpu(100).Io(50)});
    QCOMPARE(Fill(databases, true), QStringList{"I\tA\t1 (0)\t\t0 (0)\t0 (0)\t0 (0)\t0"});
    QCOMPARE(Fill(databases, false), QStringList{"I\tA\t1 (0)\t\t100 (0)\t0 (0)\t50 (0)\t0"});
}

void TestTorvaneProcessDatabases::longNameKeepsOneEntry()
{
    const std::string name(140, 'n');
    TTorvaneProcessDatabases databases(ParseTestDateTime);
    Feed(databases, {TRow(51).Db(name), TRow(52).Db(name)});
    Feed(databases, {TRow(51).Db(name), TRow(52).Db(name)});
    QCOMPARE(databases.Count(), 1);
    QCOMPARE(databases.Entry(0).ProcessCount, 2);
    QCOMPARE(FixedText(databases.Entry(0).DatabaseName).size(), std::size_t{131});
}

void TestTorvaneProcessDatabases::orderIsTheOrderOfDistinctNames()
{
    // A view finds its remembered database again with CompareDistinctNames.
    const char* const names[] = {"Sales", "SALES", "sales", "Sales_2", "Sales2",  "Ärger",          "ärger",
                                 "Zeta",  "ΣΟΦΙΑ", "σοφια", "Straße",  "STRASSE", "<SystemProcess>"};
    TRows rows;
    int32_t spid = 51;
    for (const char* name : names)
        rows.push_back(TRow(spid++).Db(name));
    TTorvaneProcessDatabases databases(ParseTestDateTime);
    Feed(databases, rows);
    const QStringList grid = Fill(databases);
    QCOMPARE(grid.size(), static_cast<qsizetype>(std::size(names)));
    for (qsizetype row = 1; row < grid.size(); ++row) {
        const QByteArray before = grid[row - 1].section(QLatin1Char('\t'), 1, 1).toUtf8();
        const QByteArray after = grid[row].section(QLatin1Char('\t'), 1, 1).toUtf8();
        QVERIFY2(CompareDistinctNames(before.toStdString(), after.toStdString()) < 0,
                 qPrintable(grid[row - 1] + QStringLiteral(" / ") + grid[row]));
    }
}

QTEST_APPLESS_MAIN(TestTorvaneProcessDatabases)
#include "tst_torvaneprocessdatabases.moc"
