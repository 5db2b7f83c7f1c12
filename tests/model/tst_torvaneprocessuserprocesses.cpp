// The user processes and their presentation: one entry per spid, first-row values,
// spid reuse, the process state, the three list fills, the alert table and the lookup.

#include "tests/support/Modelfixture.h"
#include "model/Blockingchains.h"
#include "model/Torvaneprocessuserprocesses.h"

#include <QtTest>

#include <vector>

using TRows = std::vector<TRow>;
Q_DECLARE_METATYPE(TRows)

namespace {

void Feed(TTorvaneProcessUserProcesses& processes, const TRows& rows)
{
    processes.BeginRefresh();
    for (const TRow& row : rows)
        processes.AddProcess(row);
    processes.EndRefresh();
}

QStringList DataRows(const TMemoryStringGrid& grid)
{
    QStringList rows;
    for (int32_t row = 1; row < grid.RowCount(); ++row)
        rows << RowText(grid, row);
    return rows;
}

QStringList ProcessRows(const TTorvaneProcessUserProcesses& processes, bool sinceReset = false)
{
    TMemoryStringGrid grid(16, 2);
    processes.FillProcessGrid(grid, sinceReset);
    return DataRows(grid);
}

} // namespace

class TestTorvaneProcessUserProcesses : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listsProcesses_data();
    void listsProcesses();
    void processInSeveralDatabases();
    void fillsSetRowsToTheProcessesWritten_data();
    void fillsSetRowsToTheProcessesWritten();
    void userProcessListMatchesTheUserSummary_data();
    void userProcessListMatchesTheUserSummary();
    void databaseProcessListIgnoresCase();
    void processTableText();
    void sinceResetAfterReset();
    void findsProcessIdentity();
    void fullTableKeepsKnownProcesses();
};

void TestTorvaneProcessUserProcesses::listsProcesses_data()
{
    QTest::addColumn<TRows>("first");
    QTest::addColumn<TRows>("second");
    QTest::addColumn<QStringList>("grid");

    // Columns: state, SPID, login, database, command, program, blocked, login time, last
    // batch, CPU, memory, physical IO, wait time, open trans, threads, host process.
    QTest::newRow("threads of one process: first row's single values, CPU summed")
        << TRows{}
        << TRows{TRow(51)
                     .Cmd("SELECT")
                     .Program("app")
                     .Mem(8)
                     .Io(9)
                     .Wait(5)
                     .OpenTran(1)
                     .Cpu(1)
                     .HostProcess("4711")
                     .LoginTime("2026-01-01 08:00:00")
                     .LastBatch("2026-01-01 09:00:00"),
                 TRow(51, 1).Cmd("X").Mem(100).Io(100).Wait(77).Blocked(9).Cpu(2),
                 TRow(51, 2).Cmd("X").Mem(100).Io(100).Cpu(3)}
        << QStringList{
               "A\t51\tsa\tmaster\tSELECT\tapp\t0\t2026-01-01 08:00:00\t2026-01-01 09:00:00\t6 (6)\t8 (8)\t"
               "9 (9)\t5\t1\t3\t4711"};
    QTest::newRow("worker threads end: thread count falls")
        << TRows{TRow(51).Cpu(10), TRow(51, 1).Cpu(10), TRow(51, 2).Cpu(10)} << TRows{TRow(51).Cpu(30)}
        << QStringList{"I\t51\tsa\tmaster\tAWAITING COMMAND\t\t0\t\t\t30 (0)\t0 (0)\t0 (0)\t0\t0\t1\t"};
    QTest::newRow("spid taken over by another login: all counts as change")
        << TRows{TRow(51).Login("alice").Cpu(100).Mem(4)} << TRows{TRow(51).Login("bob").Cpu(120).Mem(4)}
        << QStringList{"A\t51\tbob\tmaster\tAWAITING COMMAND\t\t0\t\t\t120 (120)\t4 (4)\t0 (0)\t0\t0\t1\t"};
    QTest::newRow("login differing in case is another connection")
        << TRows{TRow(51).Login("sa").Cpu(7)} << TRows{TRow(51).Login("SA").Cpu(7)}
        << QStringList{"A\t51\tSA\tmaster\tAWAITING COMMAND\t\t0\t\t\t7 (7)\t0 (0)\t0 (0)\t0\t0\t1\t"};
    QTest::newRow("blocked, then not: blocked clears, idle")
        << TRows{TRow(53).Blocked(52)} << TRows{TRow(53)}
        << QStringList{"I\t53\tsa\tmaster\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t"};
    QTest::newRow("locked whatever the counters did")
        << TRows{} << TRows{TRow(53).Blocked(52).Cpu(9)}
        << QStringList{"L\t53\tsa\tmaster\tAWAITING COMMAND\t\t52\t\t\t9 (9)\t0 (0)\t0 (0)\t0\t0\t1\t"};
    QTest::newRow("blocked -2 -3 -4: what they stand for, not locked by a SPID")
        << TRows{} << TRows{TRow(54).Blocked(-2), TRow(55).Blocked(-3), TRow(56).Blocked(-4)}
        << QStringList{"I\t54\tsa\tmaster\tAWAITING COMMAND\t\tOrphaned\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t",
                       "I\t55\tsa\tmaster\tAWAITING COMMAND\t\tRecovery\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t",
                       "I\t56\tsa\tmaster\tAWAITING COMMAND\t\tLatch\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t"};
    QTest::newRow("unchanged inside a command: paused")
        << TRows{TRow(51).Cmd("UPDATE").Io(3).Wait(10)} << TRows{TRow(51).Cmd("UPDATE").Io(3).Wait(2500)}
        << QStringList{"P\t51\tsa\tmaster\tUPDATE\t\t0\t\t\t0 (0)\t0 (0)\t3 (0)\t2500\t0\t1\t"};
    QTest::newRow("memory change alone: active")
        << TRows{TRow(51).Mem(3)} << TRows{TRow(51).Mem(2)}
        << QStringList{"A\t51\tsa\tmaster\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t2 (-1)\t0 (0)\t0\t0\t1\t"};
    QTest::newRow("spids in any order listed ascending")
        << TRows{} << TRows{TRow(5), TRow(52), TRow(7)}
        << QStringList{"I\t5\tsa\tmaster\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t",
                       "I\t7\tsa\tmaster\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t",
                       "I\t52\tsa\tmaster\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t"};
    QTest::newRow("ended processes go, two neighbours in a row")
        << TRows{TRow(51), TRow(52), TRow(53), TRow(54)} << TRows{TRow(51), TRow(54)}
        << QStringList{"I\t51\tsa\tmaster\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t",
                       "I\t54\tsa\tmaster\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t"};
    QTest::newRow("rows without database name still one process")
        << TRows{TRow(51).Db("")} << TRows{TRow(51).Db("").Cpu(1), TRow(51, 1).Db("").Cpu(2)}
        << QStringList{"A\t51\tsa\t\tAWAITING COMMAND\t\t0\t\t\t3 (3)\t0 (0)\t0 (0)\t0\t0\t2\t"};
}

void TestTorvaneProcessUserProcesses::listsProcesses()
{
    QFETCH(TRows, first);
    QFETCH(TRows, second);
    QFETCH(QStringList, grid);
    TTorvaneProcessUserProcesses processes;
    if (!first.empty())
        Feed(processes, first);
    Feed(processes, second);
    QCOMPARE(ProcessRows(processes), grid);
}

void TestTorvaneProcessUserProcesses::processInSeveralDatabases()
{
    TTorvaneProcessUserProcesses processes;
    const auto databaseList = [&processes](std::string_view name) {
        TMemoryStringGrid grid(16, 2);
        processes.FillDatabaseProcessGrid(grid, name, false);
        return DataRows(grid);
    };
    const auto userList = [&processes] {
        TMemoryStringGrid grid(15, 2);
        processes.FillUserProcessGrid(grid, "sa", "ws1", "", "", false);
        return DataRows(grid);
    };

    Feed(processes, {TRow(51).Db("A").Cpu(1).Mem(5), TRow(51, 1).Db("B").Cpu(2).Mem(5),
                     TRow(51, 2).Db("B").Cpu(4), TRow(51, 3).Db("C").Cpu(8), TRow(52).Db("B")});
    const QString whole = "\tsa\tws1\tAWAITING COMMAND\t\t0\t\t\t15 (15)\t5 (5)\t0 (0)\t0\t0\t4\t";
    QCOMPARE(
        ProcessRows(processes),
        (QStringList{"A\t51\tsa\t<Multiple>\tAWAITING COMMAND\t\t0\t\t\t15 (15)\t5 (5)\t0 (0)\t0\t0\t4\t",
                     "I\t52\tsa\tB\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t"}));
    QCOMPARE(userList().first(),
             "A\t51\t<Multiple>\tAWAITING COMMAND\t\t0\t\t\t15 (15)\t5 (5)\t0 (0)\t0\t0\t4\t");
    // Listed under each of its databases with its whole counters, once per list.
    QCOMPARE(databaseList("a"), QStringList{"A\t51" + whole});
    QCOMPARE(databaseList("B"),
             (QStringList{"A\t51" + whole,
                          "I\t52\tsa\tws1\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t"}));
    QCOMPARE(databaseList("C"), QStringList{"A\t51" + whole});
    // One line per process in the alert table, its counters once.
    QCOMPARE(processes.GetProcessTable().substr(processes.GetProcessTable().find("\r\n") + 2, 40),
             std::string("51\tActive\tsa\tA\tAWAITING COMMAND\t\t\t\t15 (1"));
    QCOMPARE(QString::fromStdString(processes.GetProcessTable()).count("\r\n"), 3);

    // Back in one database: nothing of the others is left.
    Feed(processes, {TRow(51).Db("A").Cpu(1).Mem(5), TRow(52).Db("B")});
    QCOMPARE(ProcessRows(processes).first(),
             "A\t51\tsa\tA\tAWAITING COMMAND\t\t0\t\t\t1 (-14)\t5 (0)\t0 (0)\t0\t0\t1\t");
    QCOMPARE(databaseList("C"), QStringList{"\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t"});
    QCOMPARE(databaseList("B").size(), 1);

    // The first row decides the entry's database; the others are recorded beside it.
    Feed(processes, {TRow(51).Db("C"), TRow(51, 1).Db("A")});
    const QStringList moved{"A\t51\tsa\tws1\tAWAITING COMMAND\t\t0\t\t\t0 (-1)\t0 (-5)\t0 (0)\t0\t0\t2\t"};
    QCOMPARE(databaseList("A"), moved);
    QCOMPARE(databaseList("C"), moved);
    QCOMPARE(ProcessRows(processes).first().section('\t', 3, 3), "<Multiple>");
}

void TestTorvaneProcessUserProcesses::fillsSetRowsToTheProcessesWritten_data()
{
    QTest::addColumn<int>("rowsBefore");
    QTest::addColumn<int>("processes");
    QTest::addColumn<int>("rowsAfter");
    QTest::newRow("cut to the rows written") << 6 << 2 << 3;
    QTest::newRow("raised as rows are written") << 1 << 3 << 4;
    QTest::newRow("none: caption and one empty row") << 6 << 0 << 2;
    QTest::newRow("none in a one-row grid") << 1 << 0 << 2;
}

void TestTorvaneProcessUserProcesses::fillsSetRowsToTheProcessesWritten()
{
    QFETCH(int, rowsBefore);
    QFETCH(int, processes);
    QFETCH(int, rowsAfter);
    TTorvaneProcessUserProcesses model;
    TRows rows;
    for (int i = 0; i < processes; ++i)
        rows.push_back(TRow(51 + i));
    Feed(model, rows);
    for (int fill = 0; fill < 3; ++fill) {
        TMemoryStringGrid grid(16, rowsBefore);
        for (int32_t row = 0; row < rowsBefore; ++row)
            grid.SetCell(3, row, "stale");
        if (fill == 0)
            model.FillProcessGrid(grid, false);
        else if (fill == 1)
            model.FillUserProcessGrid(grid, "SA", "WS1", "", "", false);
        else
            model.FillDatabaseProcessGrid(grid, "Master", false);
        QCOMPARE(grid.RowCount(), rowsAfter);
        QCOMPARE(Q(grid.Cell(3, 0)), rowsBefore > 0 ? "stale" : ""); // the caption row is the view's
        for (int32_t row = 1; row < rowsAfter; ++row)
            QVERIFY(grid.Cell(3, row) != "stale");
    }
}

void TestTorvaneProcessUserProcesses::userProcessListMatchesTheUserSummary_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("ntLogin");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("listed");
    // The selection is what the user summary shows for the user: login, host, NT login
    // name and net address.
    QTest::newRow("domain and user") << "CORP"
                                     << "alice"
                                     << "SA"
                                     << "corp\\ALICE"
                                     << "0A1B" << true;
    QTest::newRow("user alone") << ""
                                << "alice"
                                << "sa"
                                << "alice"
                                << "0a1b" << true;
    QTest::newRow("domain alone") << "CORP"
                                  << ""
                                  << "sa"
                                  << "CORP\\"
                                  << "0A1B" << true;
    QTest::newRow("neither") << ""
                             << ""
                             << "sa"
                             << ""
                             << "0A1B" << true;
    QTest::newRow("other login") << ""
                                 << ""
                                 << "sb"
                                 << ""
                                 << "0A1B" << false;
    QTest::newRow("other address") << ""
                                   << ""
                                   << "sa"
                                   << ""
                                   << "0A1C" << false;
    QTest::newRow("NT login folded beyond ASCII") << "KORP"
                                                  << "Åsa"
                                                  << "SA"
                                                  << "korp\\åSA"
                                                  << "0a1b" << true;
    QTest::newRow("other NT login") << "CORP"
                                    << "alice"
                                    << "sa"
                                    << "CORP\\bob"
                                    << "0A1B" << false;
}

void TestTorvaneProcessUserProcesses::userProcessListMatchesTheUserSummary()
{
    QFETCH(QString, domain);
    QFETCH(QString, user);
    QFETCH(QString, login);
    QFETCH(QString, ntLogin);
    QFETCH(QString, address);
    QFETCH(bool, listed);
    TTorvaneProcessUserProcesses processes;
    Feed(processes,
         {TRow(51).Domain(domain.toStdString()).User(user.toStdString()).Address("0A1B").Cpu(3),
          TRow(52).Login("other").Domain(domain.toStdString()).User(user.toStdString()).Address("0A1B")});
    TMemoryStringGrid grid(15, 2);
    processes.FillUserProcessGrid(grid, login.toStdString(), "Ws1", ntLogin.toStdString(),
                                  address.toStdString(), false);
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(RowText(grid, 1),
             listed ? "A\t51\tmaster\tAWAITING COMMAND\t\t0\t\t\t3 (3)\t0 (0)\t0 (0)\t0\t0\t1\t"
                    : "\t\t\t\t\t\t\t\t\t\t\t\t\t\t");
}

void TestTorvaneProcessUserProcesses::databaseProcessListIgnoresCase()
{
    TTorvaneProcessUserProcesses processes;
    Feed(processes, {TRow(51).Db("Sales").Login("alice").Host("ws7").HostProcess("99"), TRow(52).Db("SALESX"),
                     TRow(53).Db("SALES").Cmd("SELECT")});
    TMemoryStringGrid grid(16, 2);
    processes.FillDatabaseProcessGrid(grid, "sales", false);
    // Columns: state, SPID, login, host, command, program, blocked, login time, last
    // batch, CPU, memory, physical IO, wait time, open trans, threads, host process.
    QCOMPARE(DataRows(grid),
             (QStringList{"I\t51\talice\tws7\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t99",
                          "P\t53\tsa\tws1\tSELECT\t\t0\t\t\t0 (0)\t0 (0)\t0 (0)\t0\t0\t1\t"}));
    // Beyond ASCII too, also for a database a process names in a worker's row.
    Feed(processes, {TRow(54).Db("ÜBERSICHT"), TRow(55).Db("master"), TRow(55, 1).Db("Übersicht"),
                     TRow(56).Db("ubersicht")});
    processes.FillDatabaseProcessGrid(grid, "übersicht", false);
    QCOMPARE(DataRows(grid).size(), qsizetype{2});
    QVERIFY(DataRows(grid)[0].startsWith(QStringLiteral("I\t54\t")));
    QVERIFY(DataRows(grid)[1].startsWith(QStringLiteral("I\t55\t")));
}

void TestTorvaneProcessUserProcesses::processTableText()
{
    TTorvaneProcessUserProcesses processes;
    QCOMPARE(
        processes.GetProcessTable(),
        std::string("SPID\tStatus\tLogin\tDatabase\tCMD\tProgam Name\tLogin Time\tLast Batch\tCPU\tMemory\t"
                    "Physical IO\r\n"));
    Feed(processes, {TRow(51).Cpu(10), TRow(52).Cmd("UPDATE"), TRow(53).Blocked(51)});
    Feed(processes, {TRow(51).Cpu(10).Program("app").LoginTime("2026-01-01 08:00:00").LastBatch("2026-01-01"),
                     TRow(52).Cmd("UPDATE").Mem(4).Io(6), TRow(53).Blocked(51), TRow(53, 1).Cpu(2)});
    QCOMPARE(
        processes.GetProcessTable(),
        std::string(
            "SPID\tStatus\tLogin\tDatabase\tCMD\tProgam Name\tLogin Time\tLast Batch\tCPU\tMemory\t"
            "Physical IO\r\n"
            "51\tActive\tsa\tmaster\tAWAITING COMMAND\tapp\t2026-01-01 08:00:00\t2026-01-01\t10 (0)\t0 (0)\t"
            "0 (0)\r\n"
            "52\tActive\tsa\tmaster\tUPDATE\t\t\t\t0 (0)\t4 (4)\t6 (6)\r\n"
            "53\tLocked\tsa\tmaster\tAWAITING COMMAND\t\t\t\t2 (2)\t0 (0)\t0 (0)\r\n"));
    // With the blocking chains, the lead blocker says so and how many wait behind it;
    // the other lines stay as they are.
    TBlockingChains chains;
    chains.Build(processes, nullptr);
    const std::string marked = processes.GetProcessTable(&chains);
    QVERIFY(marked.find("\r\n51\tActive, lead blocker of 1\tsa\tmaster\t") != std::string::npos);
    QVERIFY(marked.ends_with("\r\n52\tActive\tsa\tmaster\tUPDATE\t\t\t\t0 (0)\t4 (4)\t6 (6)\r\n"
                             "53\tLocked\tsa\tmaster\tAWAITING COMMAND\t\t\t\t2 (2)\t0 (0)\t0 (0)\r\n"));
    Feed(processes, {TRow(52).Cmd("UPDATE").Mem(4).Io(6)});
    QVERIFY(processes.GetProcessTable().ends_with(
        "\r\n52\tPaused\tsa\tmaster\tUPDATE\t\t\t\t0 (0)\t4 (0)\t6 (0)\r\n"));
}

void TestTorvaneProcessUserProcesses::sinceResetAfterReset()
{
    TTorvaneProcessUserProcesses processes;
    Feed(processes, {TRow(51).Cpu(40).Io(8).Mem(2)});
    processes.ResetBaselines();
    Feed(processes, {TRow(51).Cpu(40).Io(8).Mem(2)});
    QCOMPARE(ProcessRows(processes, true),
             QStringList{"I\t51\tsa\tmaster\tAWAITING COMMAND\t\t0\t\t\t0 (0)\t2 (0)\t0 (0)\t0\t0\t1\t"});
    // The baseline survives a new owner of the spid.
    Feed(processes, {TRow(51).Login("bob").Cpu(50).Io(9)});
    QCOMPARE(ProcessRows(processes, true),
             QStringList{"A\t51\tbob\tmaster\tAWAITING COMMAND\t\t0\t\t\t10 (50)\t0 (0)\t1 (9)\t0\t0\t1\t"});
}

void TestTorvaneProcessUserProcesses::findsProcessIdentity()
{
    TTorvaneProcessUserProcesses processes;
    Feed(processes, {TRow(51).Login("alice").Domain("CORP").User("al").Host("ws7"), TRow(60)});
    std::string login = "-", domain = "-", user = "-", host = "-";
    QVERIFY(!processes.FindProcessIdentity(55, login, domain, user, host));
    QCOMPARE(login + domain + user + host, std::string("----"));
    QVERIFY(processes.FindProcessIdentity(51, login, domain, user, host));
    QCOMPARE(login + "|" + domain + "|" + user + "|" + host, std::string("alice|CORP|al|ws7"));
}

void TestTorvaneProcessUserProcesses::fullTableKeepsKnownProcesses()
{
    TTorvaneProcessUserProcesses processes(150);
    TRows rows;
    for (int spid = 1; spid <= 151; ++spid)
        rows.push_back(TRow(spid).Cpu(1));
    Feed(processes, rows);
    QCOMPARE(processes.Count(), 150);
    rows.push_back(TRow(1, 1).Cpu(5));
    Feed(processes, rows);
    QCOMPARE(processes.Count(), 150);
    QCOMPARE(processes.Entry(0).Cpu, 6);
    QCOMPARE(processes.Entry(149).Spid, 150);
}

QTEST_APPLESS_MAIN(TestTorvaneProcessUserProcesses)
#include "tst_torvaneprocessuserprocesses.moc"
