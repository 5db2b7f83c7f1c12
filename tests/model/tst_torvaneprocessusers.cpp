// The user summary: keying, sums, previous values, baselines and its grid.

#include "tests/support/Modelfixture.h"
#include "model/Namecompare.h"
#include "model/Torvaneprocessusers.h"

#include <QtTest>

#include <array>
#include <vector>

using TRows = std::vector<TRow>;
Q_DECLARE_METATYPE(TRows)

namespace {

constexpr std::array<int32_t, 12> Identity = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

void Feed(TTorvaneProcessUsers& users, const TRows& rows)
{
    users.BeginRefresh();
    for (const TRow& row : rows)
        users.AddProcess(row);
    users.EndRefresh();
}

QStringList Fill(const TTorvaneProcessUsers& users, bool sinceReset = false)
{
    TMemoryStringGrid grid(12, 5);
    users.FillUserGrid(grid, Identity, sinceReset);
    QStringList rows;
    for (int32_t row = 1; row < grid.RowCount(); ++row)
        rows << RowText(grid, row);
    return rows;
}

} // namespace

class TestTorvaneProcessUsers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void summarisesUsers_data();
    void summarisesUsers();
    void sinceResetShowsChangeFromBaseline();
    void columnMapPlacesAndDropsColumns();
    void fullTableStillCountsKnownUsers();
    void orderIsTheOrderOfNames();
};

void TestTorvaneProcessUsers::summarisesUsers_data()
{
    QTest::addColumn<TRows>("first");
    QTest::addColumn<TRows>("second");
    QTest::addColumn<QStringList>("grid");
    QTest::addColumn<int>("userCount");
    QTest::addColumn<int>("sessionCount");

    // Columns: state, login, host, #procs, latest activity, CPU, memory, physical IO,
    // locked, NT login name, net library, net address.
    QTest::newRow("login case folded, first row's case shown")
        << TRows{} << TRows{TRow(51).Login("sa").Cpu(5), TRow(52).Login("SA").Cpu(7)}
        << QStringList{"A\tsa\tws1\t2 (2)\t\t12 (12)\t0 (0)\t0 (0)\t0\t\t\t"} << 1 << 2;
    QTest::newRow("case folded beyond ASCII")
        << TRows{} << TRows{TRow(51).Login("MÜLLER").Host("Straße"), TRow(52).Login("müller").Host("STRASSE")}
        << QStringList{"I\tMÜLLER\tStraße\t2 (2)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t"} << 1 << 2;
    QTest::newRow("NT login folded beyond ASCII")
        << TRows{}
        << TRows{TRow(51).Login("a").Domain("KORP").User("ÅSA"),
                 TRow(52).Login("A").Domain("korp").User("åsa")}
        << QStringList{"I\ta\tws1\t2 (2)\t\t0 (0)\t0 (0)\t0 (0)\t0\tKORP\\ÅSA\t\t"} << 1 << 2;
    QTest::newRow("ASCII in upper-case order, others after it")
        << TRows{}
        << TRows{TRow(51).Login("a_b"), TRow(52).Login("Émile"), TRow(53).Login("ab"), TRow(54).Login("zed")}
        << QStringList{"I\tab\tws1\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t",
                       "I\ta_b\tws1\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t",
                       "I\tzed\tws1\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t",
                       "I\tÉmile\tws1\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t"}
        << 4 << 4;
    QTest::newRow("host and address are part of the key")
        << TRows{} << TRows{TRow(51).Host("ws1"), TRow(52).Host("WS2"), TRow(53).Host("ws1").Address("0A1B")}
        << QStringList{"I\tsa\tws1\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t",
                       "I\tsa\tws1\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t0A1B",
                       "I\tsa\tWS2\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t"}
        << 3 << 3;
    QTest::newRow("workers add CPU, not processes, memory or IO")
        << TRows{}
        << TRows{TRow(51).Cpu(100).Mem(8).Io(30), TRow(51, 1).Cpu(20).Mem(8).Io(30),
                 TRow(51, 2).Cpu(3).Mem(8).Io(30)}
        << QStringList{"A\tsa\tws1\t1 (1)\t\t123 (123)\t8 (8)\t30 (30)\t0\t\t\t"} << 1 << 1;
    QTest::newRow("worker row first: no process yet, its batch time")
        << TRows{} << TRows{TRow(51, 1).LastBatch("2026-01-02 10:00:00").Cpu(4)}
        << QStringList{"A\tsa\tws1\t0 (0)\t2026-01-02 10:00:00\t4 (4)\t0 (0)\t0 (0)\t0\t\t\t"} << 1 << 0;
    QTest::newRow("latest activity: latest ecid 0 batch")
        << TRows{}
        << TRows{TRow(51).LastBatch("2026-01-01 09:00:00"), TRow(52).LastBatch("2026-01-01 10:00:00"),
                 TRow(53).LastBatch("2025-12-31 23:00:00"), TRow(53, 1).LastBatch("2027-01-01 00:00:00")}
        << QStringList{"I\tsa\tws1\t3 (3)\t2026-01-01 10:00:00\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t"} << 1 << 3;
    QTest::newRow("unreadable batch time never displaces a readable one")
        << TRows{}
        << TRows{TRow(51).LastBatch("2026-01-01 10:00:00"), TRow(52).LastBatch("yesterday"), TRow(53).LastBatch("")}
        << QStringList{"I\tsa\tws1\t3 (3)\t2026-01-01 10:00:00\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t"} << 1 << 3;
    QTest::newRow("readable batch time displaces an unreadable one")
        << TRows{} << TRows{TRow(51).LastBatch("yesterday"), TRow(52).LastBatch("2020-01-01 00:00:01")}
        << QStringList{"I\tsa\tws1\t2 (2)\t2020-01-01 00:00:01\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t"} << 1 << 2;
    QTest::newRow("batch times given as values are compared by value, not read back")
        << TRows{}
        << TRows{TRow(51).LastBatch("2026-01-01 10:00:00", 46023.0), TRow(52).LastBatch("2020-01-01 00:00:01", 46024.0),
                 TRow(53).LastBatch("tomorrow", 46022.0)}
        << QStringList{"I\tsa\tws1\t3 (3)\t2020-01-01 00:00:01\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t"} << 1 << 3;
    QTest::newRow("names alike in their first 16 bytes stay apart")
        << TRows{}
        << TRows{TRow(51).Login("reporting_service_a"), TRow(52).Login("reporting_service_b"),
                 TRow(53).Login("reporting_service_a")}
        << QStringList{"I\treporting_service_a\tws1\t2 (2)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t",
                       "I\treporting_service_b\tws1\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t"}
        << 2 << 3;
    QTest::newRow("two blocked processes: locked, blockers summed")
        << TRows{} << TRows{TRow(53).Blocked(51), TRow(54).Blocked(52)}
        << QStringList{"L\tsa\tws1\t2 (2)\t\t0 (0)\t0 (0)\t0 (0)\t103\t\t\t"} << 1 << 2;
    QTest::newRow("unchanged counters idle though processes changed")
        << TRows{TRow(51).Cpu(10).Mem(2)} << TRows{TRow(51).Cpu(10).Mem(2), TRow(52)}
        << QStringList{"I\tsa\tws1\t2 (1)\t\t10 (0)\t2 (0)\t0 (0)\t0\t\t\t"} << 1 << 2;
    QTest::newRow("change can be negative when a process ends")
        << TRows{TRow(51).Cpu(100), TRow(52).Cpu(40)} << TRows{TRow(51).Cpu(110)}
        << QStringList{"A\tsa\tws1\t1 (-1)\t\t110 (-30)\t0 (0)\t0 (0)\t0\t\t\t"} << 1 << 1;
    QTest::newRow("users gone, two neighbours in a row")
        << TRows{TRow(51).Login("a"), TRow(52).Login("b"), TRow(53).Login("c"), TRow(54).Login("d")}
        << TRows{TRow(51).Login("a"), TRow(54).Login("d")}
        << QStringList{"I\ta\tws1\t1 (0)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t",
                       "I\td\tws1\t1 (0)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\t\t"}
        << 2 << 2;
    QTest::newRow("no user left: caption row alone") << TRows{TRow(51)} << TRows{} << QStringList{} << 0 << 0;
    QTest::newRow("NT login name: domain and user, user alone")
        << TRows{} << TRows{TRow(51).Login("a").Domain("CORP").User("alice"), TRow(52).Login("b").User("bob")}
        << QStringList{"I\ta\tws1\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\tCORP\\alice\t\t",
                       "I\tb\tws1\t1 (1)\t\t0 (0)\t0 (0)\t0 (0)\t0\tbob\t\t"}
        << 2 << 2;
    QTest::newRow("net library from the row that made the entry")
        << TRows{} << TRows{TRow(51).Library("TCP/IP"), TRow(52).Library("Named Pipes")}
        << QStringList{"I\tsa\tws1\t2 (2)\t\t0 (0)\t0 (0)\t0 (0)\t0\t\tTCP/IP\t"} << 1 << 2;
}

void TestTorvaneProcessUsers::summarisesUsers()
{
    QFETCH(TRows, first);
    QFETCH(TRows, second);
    QFETCH(QStringList, grid);
    QFETCH(int, userCount);
    QFETCH(int, sessionCount);
    TTorvaneProcessUsers users(ParseTestDateTime);
    if (!first.empty())
        Feed(users, first);
    Feed(users, second);
    QCOMPARE(Fill(users), grid);
    QCOMPARE(users.UserCount(), userCount);
    QCOMPARE(users.SessionCount(), sessionCount);
}

void TestTorvaneProcessUsers::sinceResetShowsChangeFromBaseline()
{
    TTorvaneProcessUsers users(ParseTestDateTime);
    Feed(users, {TRow(51).Cpu(100).Io(50).Mem(7)});
    QCOMPARE(Fill(users, true), QStringList{"A\tsa\tws1\t1 (1)\t\t100 (100)\t7 (7)\t50 (50)\t0\t\t\t"});
    users.ResetBaselines();
    Feed(users, {TRow(51).Cpu(130).Io(50).Mem(9)});
    QCOMPARE(Fill(users, true), QStringList{"A\tsa\tws1\t1 (0)\t\t30 (30)\t9 (2)\t0 (0)\t0\t\t\t"});
    QCOMPARE(Fill(users, false), QStringList{"A\tsa\tws1\t1 (0)\t\t130 (30)\t9 (2)\t50 (0)\t0\t\t\t"});
}

void TestTorvaneProcessUsers::columnMapPlacesAndDropsColumns()
{
    TTorvaneProcessUsers users(ParseTestDateTime);
    Feed(users, {TRow(51).Login("alice").Host("ws9").Cpu(3)});
    // Data column 1 (login) to grid column 0, column 2 (host) to grid column 2, column 5
    // (CPU) to grid column 1; the others off the grid or unmapped.
    const std::array<int32_t, 12> map = {-1, 0, 2, 7, 9, 1, 99, 3, 4, 5, 6, 8};
    TMemoryStringGrid grid(3, 1);
    users.FillUserGrid(grid, map, false);
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(RowText(grid, 1), QStringLiteral("alice\t3 (3)\tws9"));
    // A short map leaves the columns it lacks unwritten.
    TMemoryStringGrid shortGrid(3, 1);
    users.FillUserGrid(shortGrid, std::span<const int32_t>(map.data(), 2), false);
    QCOMPARE(RowText(shortGrid, 1), QStringLiteral("alice\t\t"));
}

void TestTorvaneProcessUsers::fullTableStillCountsKnownUsers()
{
    TTorvaneProcessUsers users(ParseTestDateTime, 150);
    TRows rows;
    for (int i = 0; i < 151; ++i) {
        std::string login(1, 'u');
        login += std::to_string(1000 + i);
        rows.push_back(TRow(100 + i).Login(login).Cpu(1));
    }
    Feed(users, rows);
    QCOMPARE(users.UserCount(), 150);
    // Known users go on being counted; a refresh still ends cleanly.
    rows.push_back(TRow(99).Login("u1000").Cpu(5));
    Feed(users, rows);
    QCOMPARE(users.UserCount(), 150);
    QCOMPARE(users.SessionCount(), 151);
    QCOMPARE(Q(FixedText(users.Entry(0).LoginName)), QStringLiteral("u1000"));
    QCOMPARE(users.Entry(0).Cpu, 6);
}

void TestTorvaneProcessUsers::orderIsTheOrderOfNames()
{
    // A view finds its remembered user again by comparing the four texts the summary
    // shows with CompareNames; the summary must be in exactly that order.
    const char* const names[] = {"a", "A_b", "ab", "Ab", "Ä",    "ä b",    "z",
                                 "Ω", "ω",   "ß",  "ss", "CORP", "corp\\x"};
    TRows rows;
    int32_t spid = 51;
    for (const char* login : names)
        for (const char* host : {"h", "H_", "Hé"})
            for (const char* domain : {"", "CORP", "corp\\x"})
                rows.push_back(TRow(spid++).Login(login).Host(host).Domain(domain).User(login).Address(host));
    TTorvaneProcessUsers users(ParseTestDateTime);
    Feed(users, rows);
    TMemoryStringGrid grid(12, 2);
    users.FillUserGrid(grid, Identity, false);
    QCOMPARE(grid.RowCount(), 13 * 9 - 3 * 9 + 1); // ab, Ω and ß each one user with Ab, ω and ss
    for (int32_t row = 2; row < grid.RowCount(); ++row) {
        int order = 0;
        for (const int column : {1, 2, 9, 11})
            if (order == 0)
                order = CompareNames(grid.Cell(column, row - 1), grid.Cell(column, row));
        QVERIFY2(order < 0, qPrintable(RowText(grid, row - 1) + QStringLiteral(" / ") + RowText(grid, row)));
    }
}

QTEST_APPLESS_MAIN(TestTorvaneProcessUsers)
#include "tst_torvaneprocessusers.moc"
