// Blocking chains: lead blockers and their waiting sessions counted directly and in
// all, the values that name no session, SPIDs no longer listed, cycles shown once, and
// the order of the tree.

#include "tests/support/Modelfixture.h"
#include "model/Blockingchains.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"

#include <QtTest>

#include <vector>

namespace {

// spid, blocked, wait time
struct TWaiter
{
    int32_t Spid;
    int32_t Blocked;
    int32_t Wait;
};
using TWaiters = std::vector<TWaiter>;

// One line per tree row: indentation, the SPID text, direct/all waiters.
QStringList TreeLines(const TBlockingChains& chains)
{
    QStringList lines;
    for (const TBlockingChains::TNode& node : chains.Tree())
        lines << QString(node.Depth * 2, QLatin1Char(' ')) + Q(TBlockingChains::SpidText(node)) +
                     QStringLiteral(" %1/%2").arg(node.DirectWaiters).arg(node.AllWaiters);
    return lines;
}

QStringList LeadLines(const TBlockingChains& chains)
{
    QStringList lines;
    for (const TBlockingChains::TLead& lead : chains.Leads())
        lines << QStringLiteral("%1 %2/%3").arg(lead.Spid).arg(lead.DirectWaiters).arg(lead.AllWaiters);
    return lines;
}

} // namespace

Q_DECLARE_METATYPE(TWaiters)

class TestBlockingChains : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void chains_data();
    void chains();
    void nodesCarryWaitsAndLogins();
};

void TestBlockingChains::chains_data()
{
    QTest::addColumn<TWaiters>("processes");
    QTest::addColumn<QStringList>("leads");
    QTest::addColumn<QStringList>("tree");

    QTest::newRow("nobody blocked") << TWaiters{{51, 0, 0}, {52, 0, 0}} << QStringList{} << QStringList{};
    QTest::newRow("one lead, two waiting directly")
        << TWaiters{{51, 0, 0}, {52, 51, 100}, {53, 51, 300}} << QStringList{"51 2/2"}
        << QStringList{"51 lead blocker 2/2", "  53 0/0", "  52 0/0"};
    QTest::newRow("chain of three: counted through the middle")
        << TWaiters{{51, 0, 0}, {52, 51, 100}, {53, 52, 50}, {60, 51, 900}} << QStringList{"51 2/3"}
        << QStringList{"51 lead blocker 2/3", "  52 1/1", "    53 0/0", "  60 0/0"};
    QTest::newRow("deepest chain first, then the longest wait")
        << TWaiters{{40, 0, 0}, {41, 40, 5000}, {50, 0, 0}, {51, 50, 10}, {52, 51, 10}, {60, 0, 0}, {61, 60, 9000}}
        << QStringList{"40 1/1", "50 1/2", "60 1/1"}
        << QStringList{"50 lead blocker 1/2", "  51 1/1", "    52 0/0", "60 lead blocker 1/1", "  61 0/0",
                       "40 lead blocker 1/1", "  41 0/0"};
    QTest::newRow("-2 -3 -4 head chains of their own, never a SPID")
        << TWaiters{{51, -2, 10}, {52, -3, 20}, {53, -4, 30}, {54, 51, 5}} << QStringList{}
        << QStringList{"-2 orphaned distributed transaction 1/2", "  51 1/1", "    54 0/0",
                       "-4 latch owner unknown 1/1", "  53 0/0", "-3 deferred recovery 1/1", "  52 0/0"};
    QTest::newRow("blocker no longer listed")
        << TWaiters{{52, 99, 10}} << QStringList{} << QStringList{"99 not listed 1/1", "  52 0/0"};
    QTest::newRow("blocked by itself: a lead blocker when others wait for it")
        << TWaiters{{51, 51, 0}, {52, 51, 10}, {60, 60, 0}} << QStringList{"51 1/1"}
        << QStringList{"51 lead blocker 1/1", "  52 0/0"};
    QTest::newRow("cycle of two shown once, from one member")
        << TWaiters{{51, 52, 10}, {52, 51, 20}} << QStringList{} << QStringList{"51 cycle 1/1", "  52 0/0"};
    QTest::newRow("cycle of three with a tail below it")
        << TWaiters{{51, 53, 1}, {52, 51, 1}, {53, 52, 1}, {70, 52, 1}} << QStringList{}
        << QStringList{"51 cycle 1/3", "  52 2/2", "    53 0/0", "    70 0/0"};
    QTest::newRow("waiting on a member of a cycle, entered from below")
        << TWaiters{{30, 61, 1}, {61, 62, 1}, {62, 61, 1}} << QStringList{}
        << QStringList{"61 cycle 2/2", "  30 0/0", "  62 0/0"};
}

void TestBlockingChains::chains()
{
    QFETCH(TWaiters, processes);
    QFETCH(QStringList, leads);
    QFETCH(QStringList, tree);
    TTorvaneProcessUserProcesses userProcesses;
    userProcesses.BeginRefresh();
    for (const TWaiter& p : processes)
        userProcesses.AddProcess(TRow(p.Spid).Blocked(p.Blocked).Wait(p.Wait));
    userProcesses.EndRefresh();
    TBlockingChains chains;
    chains.Build(userProcesses, nullptr);
    QCOMPARE(LeadLines(chains), leads);
    QCOMPARE(TreeLines(chains), tree);
    for (const TBlockingChains::TLead& lead : chains.Leads())
        QCOMPARE(chains.FindLead(lead.Spid), &lead);
    QCOMPARE(chains.FindLead(1000), nullptr);
}

void TestBlockingChains::nodesCarryWaitsAndLogins()
{
    TTorvaneProcessUserProcesses userProcesses;
    TTorvaneProcessThreads threads;
    userProcesses.BeginRefresh();
    threads.BeginRefresh();
    userProcesses.AddProcess(TRow(51).Login("owner"));
    userProcesses.AddProcess(TRow(52).Login("waiter").Blocked(51).Wait(4200));
    threads.AddThread(51, 0, 0, 0, "WRITELOG", "", "master");
    threads.AddThread(52, 0, 0, 4200, "LCK_M_X", "KEY: 5:72057594043105280 (a1b2c3)", "master");
    threads.AddThread(52, 1, 0, 0, "CXPACKET", "", "master");
    userProcesses.EndRefresh();
    threads.EndRefresh();
    TBlockingChains chains;
    chains.Build(userProcesses, &threads);
    QCOMPARE(chains.Tree().size(), std::size_t{2});
    const TBlockingChains::TNode& head = chains.Tree()[0];
    QCOMPARE(Q(head.Login), QStringLiteral("owner"));
    QCOMPARE(Q(head.WaitType), QStringLiteral("WRITELOG"));
    const TBlockingChains::TNode& waiter = chains.Tree()[1];
    QCOMPARE(waiter.WaitTime, 4200);
    QCOMPARE(Q(waiter.WaitType), QStringLiteral("LCK_M_X"));
    QCOMPARE(Q(waiter.WaitResource), QStringLiteral("KEY: 5:72057594043105280 (a1b2c3)"));
    QCOMPARE(Q(waiter.Login), QStringLiteral("waiter"));
}

QTEST_GUILESS_MAIN(TestBlockingChains)
#include "tst_blockingchains.moc"
