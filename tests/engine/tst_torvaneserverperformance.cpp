// Server statistics: rates and CPU percentage from the server counters, the histories,
// and the two alert conditions with their one-hour re-arm, on a clock the test moves.

#include "tests/support/Mockclock.h"
#include "tests/support/Settingsfixture.h"
#include "engine/Torvaneserverperformance.h"
#include "settings/Torvanesettings.h"

#include <QtTest>

using namespace TorvaneSettings;
using TPerf = TTorvaneServerPerformance;

namespace
{
constexpr int Newest = TPerf::HistoryLength - 1;

// The server-wide counters of one snapshot.
struct TCounters
{
    std::int32_t PackSent = 0, PackReceived = 0, PackErrors = 0;
    std::int32_t TotalRead = 0, TotalWrite = 0, TotalErrors = 0;
    std::int64_t CpuBusy = 0, CpuIdle = 0;
};

void Sample(TPerf& perf, const TCounters& c, std::int32_t responseMs = 10, std::int32_t users = 1,
            std::int32_t sessions = 2)
{
    perf.BeginSample();
    perf.AddSample(responseMs, users, sessions, c.PackSent, c.PackReceived, c.PackErrors, c.TotalRead,
                   c.TotalWrite, c.TotalErrors, c.CpuBusy, c.CpuIdle);
}

// Samples one refresh apart whose CPU percentages and response times are the given ones.
class TFeeder
{
public:
    TFeeder(TPerf& perf, TMockClock& clock) : FPerf(perf), FClock(clock) { Next(0, 0); }

    void Next(int cpuPercent, int responseMs)
    {
        FCounters.CpuBusy += cpuPercent;
        FCounters.CpuIdle += 100 - cpuPercent;
        Sample(FPerf, FCounters, responseMs);
        FClock.AdvanceSeconds(1);
    }

private:
    TPerf& FPerf;
    TMockClock& FClock;
    TCounters FCounters{0, 0, 0, 0, 0, 0, 1000, 1000};
};

const TDateTime Start = 46000.25;   // a December 2025 morning
} // namespace

Q_DECLARE_METATYPE(TCounters)

class TestTorvaneServerPerformance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstSampleGivesNoRates();
    void rates_data();
    void rates();
    void historiesMove();
    void seriesMaximum();
    void cpuAlert_data();
    void cpuAlert();
    void alertRearmsAfterAnHour();
    void alertsRearmIndependently();
};

void TestTorvaneServerPerformance::firstSampleGivesNoRates()
{
    TMockClock clock(Start);
    TPerf perf(clock);
    QVERIFY(!perf.SampleValid()[Newest]);
    // A server whose busy counter is still 0 has given a sample all the same.
    Sample(perf, {100, 200, 3, 400, 500, 6, 0, 1000}, 25, 4, 9);
    QCOMPARE(perf.History()[TPerf::SeriesResponse][Newest], 25);
    QCOMPARE(perf.History()[TPerf::SeriesUsers][Newest], 4);
    QCOMPARE(perf.History()[TPerf::SeriesSessions][Newest], 9);
    for (int s = TPerf::SeriesPacketsSent; s <= TPerf::SeriesCpuBusy; ++s)
        QCOMPARE(perf.History()[s][Newest], 0);
    QVERIFY(perf.SampleValid()[Newest]);
    QCOMPARE(perf.SampleTime()[Newest], Start);

    clock.AdvanceMs(2000);
    Sample(perf, {300, 200, 3, 401, 500, 6, 50, 1150});
    QCOMPARE(perf.History()[TPerf::SeriesPacketsSent][Newest], 100);
    QCOMPARE(perf.History()[TPerf::SeriesPacketsReceived][Newest], 0);
    QCOMPARE(perf.History()[TPerf::SeriesDiskReads][Newest], 0);   // 0.5 a second, truncated
    QCOMPARE(perf.History()[TPerf::SeriesCpuBusy][Newest], 25);
}

void TestTorvaneServerPerformance::rates_data()
{
    QTest::addColumn<std::uint32_t>("firstTick");
    QTest::addColumn<int>("elapsedMs");
    QTest::addColumn<TCounters>("first");
    QTest::addColumn<TCounters>("second");
    QTest::addColumn<int>("packetsSent");   // per second
    QTest::addColumn<int>("cpu");           // percent

    const TCounters base{1000, 1000, 0, 5000, 5000, 0, 200, 800};
    QTest::newRow("unchanged counters") << 1000u << 1500 << base << base << 0 << 0;
    QTest::newRow("truncated towards zero") << 1000u << 3000 << base
                                            << TCounters{1011, 1000, 0, 5000, 5000, 0, 201, 802} << 3 << 33;
    QTest::newRow("counter went backwards") << 1000u << 1000 << base
                                            << TCounters{993, 1000, 0, 5000, 5000, 0, 100, 1000} << -7 << -100;
    QTest::newRow("counter wrapped around")
        << 1000u << 1000 << TCounters{2147483646, 0, 0, 0, 0, 0, 1, 1}
        << TCounters{-2147483645, 0, 0, 0, 0, 0, 2, 1} << 5 << 100;
    QTest::newRow("tick counter wrapped around") << 4294966296u << 2000 << base
                                                 << TCounters{1010, 1000, 0, 5000, 5000, 0, 200, 800} << 5 << 0;
    QTest::newRow("no measurable time") << 1000u << 0 << base
                                        << TCounters{1010, 1000, 0, 5000, 5000, 0, 250, 850} << 0 << 50;
    QTest::newRow("a rate beyond the value range")
        << 1000u << 1 << TCounters{0, 0, 0, 0, 0, 0, 1, 1} << TCounters{2147483647, 0, 0, 0, 0, 0, 1, 1}
        << 2147483647 << 0;
}

void TestTorvaneServerPerformance::rates()
{
    QFETCH(std::uint32_t, firstTick);
    QFETCH(int, elapsedMs);
    QFETCH(TCounters, first);
    QFETCH(TCounters, second);
    QFETCH(int, packetsSent);
    QFETCH(int, cpu);

    TMockClock clock(Start, firstTick);
    TPerf perf(clock);
    Sample(perf, first);
    clock.AdvanceMs(elapsedMs);
    Sample(perf, second);
    QCOMPARE(perf.History()[TPerf::SeriesPacketsSent][Newest], packetsSent);
    QCOMPARE(perf.History()[TPerf::SeriesCpuBusy][Newest], cpu);
}

void TestTorvaneServerPerformance::historiesMove()
{
    TMockClock clock(Start);
    TPerf perf(clock);
    for (int users = 1; users <= TPerf::HistoryLength + 1; ++users) {
        Sample(perf, {}, 0, users);
        if (users == 3) {
            QCOMPARE(perf.History()[TPerf::SeriesUsers][Newest - 2], 1);
            QVERIFY(perf.SampleValid()[Newest - 2]);
            QVERIFY(!perf.SampleValid()[Newest - 3]);
            QCOMPARE(perf.SampleTime()[Newest - 3], Start);   // never filled: the creation time
        }
        clock.AdvanceSeconds(1);
    }
    // The first sample has dropped out; the oldest is the second one, taken a second later.
    QCOMPARE(perf.History()[TPerf::SeriesUsers][0], 2);
    QCOMPARE(perf.History()[TPerf::SeriesUsers][Newest], TPerf::HistoryLength + 1);
    QVERIFY(perf.SampleValid()[0]);
    QCOMPARE(SecondsBetween(perf.SampleTime()[0], Start), 1);
    QCOMPARE(SecondsBetween(perf.SampleTime()[Newest], Start), TPerf::HistoryLength);
}

void TestTorvaneServerPerformance::seriesMaximum()
{
    TMockClock clock(Start);
    TPerf perf(clock);
    Sample(perf, {}, -5, 7);
    Sample(perf, {}, -3, 4);
    QCOMPARE(perf.GetSeriesMaximum(TPerf::SeriesUsers), 7);
    QCOMPARE(perf.GetSeriesMaximum(TPerf::SeriesResponse), 0);   // negative values only
    QCOMPARE(perf.GetSeriesMaximum(-1), 0);
    QCOMPARE(perf.GetSeriesMaximum(TPerf::SeriesCount), 0);
}

void TestTorvaneServerPerformance::cpuAlert_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<QList<int>>("cpu");   // oldest first; the newest samples of the history
    QTest::addColumn<bool>("alert");

    QTest::newRow("one sample below") << 5 << 98 << QList<int>{99, 98, 100, 99, 97} << false;
    QTest::newRow("all reach the threshold") << 5 << 98 << QList<int>{99, 98, 100, 99, 98} << true;
    QTest::newRow("an older low sample does not count") << 5 << 98 << QList<int>{10, 99, 98, 100, 99, 98} << true;
    QTest::newRow("fewer samples than the count") << 5 << 98 << QList<int>{99, 99, 99} << false;
    QTest::newRow("count 0 examines none") << 0 << 98 << QList<int>{1} << true;
    QTest::newRow("negative count examines none") << -3 << 98 << QList<int>{1} << true;
    QList<int> full(TPerf::HistoryLength, 99);
    QTest::newRow("count above the history, all high") << 500 << 98 << full << true;
    full[0] = 50;
    QTest::newRow("count above the history, oldest low") << 500 << 98 << full << false;
}

void TestTorvaneServerPerformance::cpuAlert()
{
    QFETCH(int, count);
    QFETCH(int, threshold);
    QFETCH(QList<int>, cpu);
    QFETCH(bool, alert);

    const TSettingsFixture settings;
    QVERIFY(settings.Save(RootKey, EmailAlerts, 1));
    QVERIFY(settings.Save(AlertsKey, CPUUsage, 1));
    QVERIFY(settings.Save(AlertsKey, CPUUsageRefresh, count));
    QVERIFY(settings.Save(AlertsKey, CPUUsageValue, threshold));

    TMockClock clock(Start);
    TPerf perf(clock);
    TFeeder feeder(perf, clock);
    for (const int percent : cpu)
        feeder.Next(percent, 0);
    QCOMPARE(perf.CheckCpuAlert(), alert);
    QVERIFY(!perf.CheckResponseAlert());   // switched off
}

void TestTorvaneServerPerformance::alertRearmsAfterAnHour()
{
    const TSettingsFixture settings;
    TMockClock clock(Start);
    TPerf perf(clock);
    TFeeder feeder(perf, clock);
    for (int i = 0; i < 5; ++i)
        feeder.Next(99, 0);

    // Switched on without its numbers (a save the dialog stopped half-way): no alert.
    QVERIFY(settings.Save(RootKey, EmailAlerts, 1));
    QVERIFY(settings.Save(AlertsKey, CPUUsage, 1));
    QVERIFY(!perf.CheckCpuAlert());
    QVERIFY(settings.Save(AlertsKey, CPUUsageRefresh, 5));
    QVERIFY(!perf.CheckCpuAlert());
    QVERIFY(settings.Save(AlertsKey, CPUUsageValue, 98));

    QVERIFY(perf.CheckCpuAlert());
    QVERIFY(!perf.CheckCpuAlert());
    clock.AdvanceSeconds(3599 - 1);   // the feeder's last step moved it one second already
    feeder.Next(99, 0);               // now an hour less a second after the alert
    QVERIFY(!perf.CheckCpuAlert());
    clock.AdvanceSeconds(1);
    QVERIFY(perf.CheckCpuAlert());

    // After the hour the condition must hold again before the next one.
    clock.AdvanceSeconds(3600);
    feeder.Next(50, 0);
    QVERIFY(!perf.CheckCpuAlert());
    for (int i = 0; i < 4; ++i)
        feeder.Next(98, 0);
    QVERIFY(!perf.CheckCpuAlert());
    feeder.Next(98, 0);
    QVERIFY(perf.CheckCpuAlert());

    // Switching e-mail alerts off silences it whatever the samples say.
    clock.AdvanceSeconds(7200);
    QVERIFY(settings.Save(RootKey, EmailAlerts, 0));
    QVERIFY(!perf.CheckCpuAlert());
}

void TestTorvaneServerPerformance::alertsRearmIndependently()
{
    const TSettingsFixture settings;
    QVERIFY(settings.Save(RootKey, EmailAlerts, 1));
    QVERIFY(settings.Save(AlertsKey, CPUUsage, 1));
    QVERIFY(settings.Save(AlertsKey, CPUUsageRefresh, 2));
    QVERIFY(settings.Save(AlertsKey, CPUUsageValue, 90));
    QVERIFY(settings.Save(AlertsKey, ServerResponse, 1));
    QVERIFY(settings.Save(AlertsKey, ServerResponseRefresh, 2));
    QVERIFY(settings.Save(AlertsKey, ServerResponseValue, 500));

    TMockClock clock(Start);
    TPerf perf(clock);
    TFeeder feeder(perf, clock);
    feeder.Next(95, 100);
    feeder.Next(95, 100);
    QVERIFY(perf.CheckCpuAlert());
    QVERIFY(!perf.CheckResponseAlert());

    clock.AdvanceSeconds(1800);
    feeder.Next(95, 900);
    feeder.Next(95, 900);
    QVERIFY(!perf.CheckCpuAlert());
    QVERIFY(perf.CheckResponseAlert());   // its own first alert, half an hour after the CPU one

    clock.AdvanceSeconds(1800);
    QVERIFY(perf.CheckCpuAlert());
    QVERIFY(!perf.CheckResponseAlert());
    clock.AdvanceSeconds(1800);
    QVERIFY(perf.CheckResponseAlert());
    QVERIFY(!perf.CheckCpuAlert());

    // Each server keeps its own re-arm times.
    TPerf other(clock);
    TFeeder otherFeeder(other, clock);
    otherFeeder.Next(95, 900);
    otherFeeder.Next(95, 900);
    QVERIFY(other.CheckCpuAlert());
    QVERIFY(other.CheckResponseAlert());
}

QTEST_GUILESS_MAIN(TestTorvaneServerPerformance)
#include "tst_torvaneserverperformance.moc"
