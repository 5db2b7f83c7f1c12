// The performance log: where each server's file goes, what a line holds, how often one
// is written, and that a file that cannot be written costs only its lines.

#include "tests/support/Mockclock.h"
#include "tests/support/Settingsfixture.h"
#include "engine/Torvaneperformancelog.h"
#include "engine/Torvaneserverperformance.h"
#include "settings/Torvanesettings.h"

#include <QtTest>

using namespace TorvaneSettings;
using TPerf = TTorvaneServerPerformance;

namespace
{
const TDateTime Start = 46000.5;

QStringList LogLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    lines.removeLast();   // after the last line end
    return lines;
}

// One refresh with the users figure set to n, so a line tells which refresh wrote it.
void Refresh(TPerf& perf, int n)
{
    perf.BeginSample();
    perf.AddSample(0, n, 0, 0, 0, 0, 0, 0, 0, 1, 1);
    perf.WriteLogLine();
}

void EnableLogging(const TSettingsFixture& settings, const QString& directory, int refreshCount)
{
    QVERIFY(settings.Save(RootKey, Logging, 1));
    QVERIFY(settings.Save(LoggingKey, LoggingDirectory, directory));
    QVERIFY(settings.Save(LoggingKey, RefreshCount, refreshCount));
}
} // namespace

class TestPerformanceLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void path_data();
    void path();
    void headerThenLines();
    void refreshCounter_data();
    void refreshCounter();
    void counterWaitsWhileLoggingIsOff();
    void unwritableLogIsReportedOnce();
};

void TestPerformanceLog::cleanup()
{
    QLocale::setDefault(QLocale::system());
}

void TestPerformanceLog::path_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("path");

    QTest::newRow("plain") << "/var/log/torvane" << "DBHOST" << "/var/log/torvane/DBHOST.log";
    QTest::newRow("final slash") << "/var/log/torvane/" << "DBHOST" << "/var/log/torvane/DBHOST.log";
    QTest::newRow("final backslash is part of the folder's name") << "logs\\"
                                                                  << "DBHOST"
                                                                  << "logs\\/DBHOST.log";
    QTest::newRow("named instance") << "/l" << "HOST\\INST" << "/l/HOST_INST.log";
    QTest::newRow("two backslashes") << "/l" << "A\\B\\C" << "/l/A_B_C.log";
    QTest::newRow("address and port") << "/l" << "10.0.0.1:1433" << "/l/10.0.0.1_1433.log";
    QTest::newRow("slash") << "/l" << "tcp:db/prod" << "/l/tcp_db_prod.log";
    QTest::newRow("other forbidden characters") << "/l" << "a*b?c\"d<e>f|g\th" << "/l/a_b_c_d_e_f_g_h.log";
    QTest::newRow("non-ASCII kept") << "/l" << "Größe" << "/l/Größe.log";
}

void TestPerformanceLog::path()
{
    QFETCH(QString, directory);
    QFETCH(QString, server);
    QFETCH(QString, path);
    QCOMPARE(PerformanceLogPath(directory, server), path);
}

void TestPerformanceLog::headerThenLines()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const TSettingsFixture settings;
    EnableLogging(settings, settings.Folder(), 0);
    TMockClock clock(Start);
    TPerf perf(clock);
    perf.SetServerName("HOST\\INST");

    perf.BeginSample();
    perf.AddSample(12, 3, 4, 100, 200, 0, 1000, 2000, 0, 10, 90);
    perf.WriteLogLine();
    clock.AdvanceMs(1000);
    // The server restarted: its counters went backwards.
    perf.BeginSample();
    perf.AddSample(-1, 2, 3, 90, 220, 5, 900, 2500, 1, 5, 100);
    perf.WriteLogLine();

    const QString path = settings.Folder() + "/HOST_INST.log";
    const QStringList expected = {
        "Timestamp\tCPU\tResponse\tUsers\tSessions\tNetworkSent\tNetworkReceived\tNetworkErrored\t"
        "DiskRead\tDiskWrite\tDiskError",
        "09.12.2025 12:00:00\t0\t12\t3\t4\t0\t0\t0\t0\t0\t0",
        "09.12.2025 12:00:01\t-100\t-1\t2\t3\t-10\t20\t5\t-100\t500\t1",
    };
    QCOMPARE(LogLines(path), expected);

    // A second object for the same server (a second connection) appends, no new header.
    TPerf again(clock);
    again.SetServerName("HOST\\INST");
    Refresh(again, 7);
    const QStringList lines = LogLines(path);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[3].startsWith("09.12.2025 12:00:01\t0\t0\t7\t"), qPrintable(lines[3]));
}

void TestPerformanceLog::refreshCounter_data()
{
    QTest::addColumn<int>("refreshCount");
    QTest::addColumn<QList<int>>("written");   // the refreshes that write a line, of 12

    QTest::newRow("every fourth for 3") << 3 << QList<int>{4, 8, 12};
    QTest::newRow("every second for 1") << 1 << QList<int>{2, 4, 6, 8, 10, 12};
    QTest::newRow("every refresh for 0") << 0 << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    QTest::newRow("none yet for 100") << 100 << QList<int>{};
}

void TestPerformanceLog::refreshCounter()
{
    QFETCH(int, refreshCount);
    QFETCH(QList<int>, written);

    const TSettingsFixture settings;
    EnableLogging(settings, settings.Folder() + "/", refreshCount);
    TMockClock clock(Start);
    TPerf perf(clock);
    perf.SetServerName("SRV");
    for (int n = 1; n <= 12; ++n)
        Refresh(perf, n);

    QList<int> refreshes;
    const QStringList lines = LogLines(settings.Folder() + "/SRV.log");
    for (qsizetype i = 1; i < lines.size(); ++i)
        refreshes.append(lines[i].section('\t', 3, 3).toInt());
    QCOMPARE(refreshes, written);
}

void TestPerformanceLog::counterWaitsWhileLoggingIsOff()
{
    const TSettingsFixture settings;
    TMockClock clock(Start);
    TPerf perf(clock);
    perf.SetServerName("SRV");
    const QString path = settings.Folder() + "/SRV.log";

    Refresh(perf, 1);   // no settings at all
    QVERIFY(settings.Save(RootKey, Logging, 1));
    Refresh(perf, 2);   // switched on, but no directory
    QVERIFY(!QFileInfo::exists(path));

    EnableLogging(settings, settings.Folder(), 2);
    for (int n = 3; n <= 8; ++n)
        Refresh(perf, n);
    QVERIFY(settings.Save(RootKey, Logging, 0));
    Refresh(perf, 9);
    Refresh(perf, 10);
    QVERIFY(settings.Save(RootKey, Logging, 1));
    for (int n = 11; n <= 13; ++n)
        Refresh(perf, n);

    QList<int> refreshes;
    const QStringList lines = LogLines(path);
    for (qsizetype i = 1; i < lines.size(); ++i)
        refreshes.append(lines[i].section('\t', 3, 3).toInt());
    // Active from refresh 3: a line on its third refresh and every third after, the
    // counter resting while logging was off.
    QCOMPARE(refreshes, QList<int>({5, 8, 13}));
}

void TestPerformanceLog::unwritableLogIsReportedOnce()
{
    const TSettingsFixture settings;
    const QString file = settings.Folder() + "/not-a-folder";
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    EnableLogging(settings, file, 0);
    TMockClock clock(Start);
    TPerf first(clock);
    first.SetServerName("ONE");
    TPerf second(clock);
    second.SetServerName("TWO");

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Performance log of ONE not written to .*ONE\\.log"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Performance log of TWO not written to .*TWO\\.log"));
    for (int n = 1; n <= 3; ++n) {
        Refresh(first, n);
        Refresh(second, n);
    }
    QCOMPARE(first.History()[TPerf::SeriesUsers][TPerf::HistoryLength - 1], 3);   // refreshes went on

    // The folder is fixed: lines are written again, the lost ones stay lost.
    EnableLogging(settings, settings.Folder(), 0);
    Refresh(first, 4);
    QCOMPARE(LogLines(settings.Folder() + "/ONE.log").size(), 2);

    // A directory left empty would put the file in the root folder: reported instead.
    EnableLogging(settings, "", 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Performance log of ONE .*no logging directory"));
    Refresh(first, 5);
    QTest::failOnWarning(QRegularExpression("Performance log"));
    Refresh(first, 6);
    Refresh(second, 6);   // still in its first failure
}

QTEST_GUILESS_MAIN(TestPerformanceLog)
#include "tst_torvaneperformancelog.moc"
