// The process snapshot: its SQL text, the 22 values of a row as the sandbox server
// sends them through the FreeTDS ODBC driver, and what ProcessSnapshot does with them.

#include "model/Memorystringgrid.h"
#include "tests/support/Monitorfixture.h"
#include "settings/Registry.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Testscenario.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessusers.h"
#include "engine/Torvaneserverperformance.h"
#include "settings/Torvanesettings.h"
#include "engine/Torvanesnapshot.h"
#include "engine/Torvanethread.h"

#include <QtTest>

#include <cmath>
#include <map>

using TFields = std::map<QString, QString>;
Q_DECLARE_METATYPE(TFields)

namespace {

TFields FieldsOf(const TSnapshotRow& row)
{
    const ProcessRecord& r = row.Record;
    const auto text = [](std::string_view value) {
        return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    };
    return {
        {"spid", QString::number(r.spid)},           {"ecid", QString::number(r.ecid)},
        {"databasename", text(r.databasename)},      {"loginame", text(r.loginame)},
        {"hostname", text(r.hostname)},              {"nt_domain", text(r.nt_domain)},
        {"nt_username", text(r.nt_username)},        {"net_address", text(r.net_address)},
        {"cmd", text(r.cmd)},                        {"program_name", text(r.program_name)},
        {"blocked", QString::number(r.blocked)},     {"login_time", text(r.login_time)},
        {"last_batch", text(r.last_batch)},          {"cpu_usage", QString::number(r.cpu_usage)},
        {"last_batch_value", std::isnan(r.last_batch_value) ? QString() : QString::number(r.last_batch_value)},
        {"memusage", QString::number(r.memusage)},   {"physical_io", QString::number(r.physical_io)},
        {"open_tran", QString::number(r.open_tran)}, {"waittime", QString::number(r.waittime)},
        {"net_library", text(r.net_library)},        {"hostprocess", text(r.hostprocess)},
        {"lastwaittype", text(row.lastwaittype)},    {"waitresource", text(row.waitresource)},
    };
}

QString ScenarioWaitResource()
{
    const QString scenario = QString::fromUtf8(QuietScenarioJson);
    const int start = scenario.indexOf(QStringLiteral("OBJECT: 6:1977058079"));
    return scenario.mid(start, scenario.indexOf(QLatin1Char('"'), start) - start);
}

} // namespace

class TestTorvaneSnapshot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sqlTextLayout();
    void rowValues_data();
    void rowValues();
    void dateTimesBecomeTexts();
    void longTextsAreCutAtACharacterBoundary();
    void processSnapshotFeedsEverythingInOrder();

private:
    // The snapshot rows of the process and thread, read as ProcessSnapshot reads them;
    // their texts are views of Snapshot's, valid until the next read.
    std::vector<TSnapshotRow> ReadRows(int spid);
    TProcessSnapshot Snapshot;

    QTemporaryDir Settings;
    std::unique_ptr<TSandboxFixture> Sandbox;
    std::unique_ptr<TDbConnection> Connection;
};

void TestTorvaneSnapshot::initTestCase()
{
    qputenv("TORVANE_HKLM_FILE", Settings.filePath(QStringLiteral("machine.reg")).toLocal8Bit());
    qputenv("TORVANE_HKCU_FILE", Settings.filePath(QStringLiteral("user.reg")).toLocal8Bit());
    Sandbox = std::make_unique<TSandboxFixture>(QuietScenarioJson);
    QVERIFY2(Sandbox->Started(), Sandbox->Error().c_str());
    Connection = std::make_unique<TDbConnection>();
    Connection->SetConnectionString(TTorvaneThread::BuildConnectionString(Sandbox->ServerName(), false, "sa", "torvane"));
    Connection->Open();
}

void TestTorvaneSnapshot::sqlTextLayout()
{
    const QString text = QString::fromLatin1(ProcessSnapshotSql);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 32);
    QVERIFY(!text.endsWith(QLatin1Char('\n')));
    for (int i = 0; i < lines.size(); ++i) {
        QVERIFY2(!lines[i].contains(QLatin1Char('\n')) && !lines[i].contains(QLatin1Char('\r')), qPrintable(lines[i]));
        const bool continuation = i > 0 && i < lines.size() - 1;
        QCOMPARE(lines[i].startsWith(QStringLiteral("       ")) && lines[i][7] != QLatin1Char(' '), continuation);
    }
    QVERIFY(text.contains(QStringLiteral("\r\n       login_time  AS login_time,\r\n       last_batch  AS last_batch,")));
    QCOMPARE(lines.last(), QStringLiteral("FROM dbo.sysprocesses AS sysprocesses"));
}

std::vector<TSnapshotRow> TestTorvaneSnapshot::ReadRows(int spid)
{
    TDateTimeTexts texts;
    Snapshot.Read(*Connection, texts);
    std::vector<TSnapshotRow> rows;
    for (int32_t i = 0; i < Snapshot.RowCount(); ++i) {
        TSnapshotRow row;
        Snapshot.GetRow(i, row);
        if (row.Record.spid == spid)
            rows.push_back(row);
    }
    return rows;
}

void TestTorvaneSnapshot::rowValues_data()
{
    QTest::addColumn<int>("spid");
    QTest::addColumn<int>("rows");
    QTest::addColumn<TFields>("expected"); // of the row with the highest ecid

    QTest::newRow("system process") << 1 << 1
        << TFields{{"ecid", "0"}, {"databasename", "<SystemProcess>"}, {"loginame", "sa"}, {"hostname", ""},
                   {"program_name", ""}, {"cmd", "LAZY WRITER"}, {"lastwaittype", "LAZYWRITER_SLEEP"},
                   {"cpu_usage", "9120"}, {"memusage", "0"}, {"blocked", "0"}, {"net_address", ""}};
    QTest::newRow("parallel worker threads") << 52 << 3
        << TFields{{"ecid", "2"}, {"databasename", "Sales"}, {"loginame", "appuser"}, {"hostname", "APPSRV01"},
                   {"program_name", ".Net SqlClient Data Provider"}, {"net_address", "00155D010203"},
                   {"hostprocess", "4120"}};
    QTest::newRow("blocked process, blocked sent as text") << 55 << 1
        << TFields{{"blocked", "54"}, {"open_tran", "2"}, {"lastwaittype", "LCK_M_X"},
                   {"waitresource", "KEY: 6:72057594038321152 (8194443284a0)"}, {"cmd", "UPDATE"}};
    QTest::newRow("NULL host and dates") << 58 << 1
        << TFields{{"hostname", ""}, {"login_time", ""}, {"last_batch", ""}, {"last_batch_value", ""}, {"loginame", "reportuser"}};
    QTest::newRow("database id without a name") << 60 << 1 << TFields{{"databasename", ""}, {"hostname", "WEB01"}};
    QTest::newRow("NULL login") << 64 << 1 << TFields{{"loginame", ""}, {"hostname", "NOLOGIN"}};
    QTest::newRow("another monitor's program name") << 63 << 1 << TFields{{"program_name", "VelquinMonitor"}};
    QTest::newRow("non-ASCII names") << 61 << 1
        << TFields{{"loginame", "CORP\\jmüller"}, {"hostname", "MÜLLER-NB"}, {"nt_domain", "CORP"},
                   {"nt_username", "jmüller"}};
    QTest::newRow("full-width wait type and wait resource kept whole") << 62 << 1
        << TFields{{"waitresource", ScenarioWaitResource()}, {"lastwaittype", "PREEMPTIVE_OS_GETPROCADDRESS"}};
}

void TestTorvaneSnapshot::rowValues()
{
    QFETCH(int, spid);
    QFETCH(int, rows);
    QFETCH(TFields, expected);
    const std::vector<TSnapshotRow> read = ReadRows(spid);
    QCOMPARE(int(read.size()), rows);
    const auto last = std::max_element(read.begin(), read.end(), [](const auto& a, const auto& b) {
        return a.Record.ecid < b.Record.ecid;
    });
    const TFields fields = FieldsOf(*last);
    for (const auto& [name, value] : expected)
        QCOMPARE(fields.at(name), value);
}

void TestTorvaneSnapshot::dateTimesBecomeTexts()
{
    // The scenario's processes logged on 600 s ago and sent their last batch 5 s ago.
    const std::vector<TSnapshotRow> read = ReadRows(54);
    QCOMPARE(int(read.size()), 1);
    const auto loginTime = TextToDateTime(read.front().Record.login_time);
    const auto lastBatch = TextToDateTime(read.front().Record.last_batch);
    QVERIFY2(loginTime && lastBatch, std::string(read.front().Record.login_time).c_str());
    // The summaries compare the value the text stands for.
    QCOMPARE(read.front().Record.last_batch_value, *lastBatch);
    const double now = CurrentDateTime();
    QVERIFY(std::abs((now - *loginTime) * 86400 - 600) < 120);
    QVERIFY(std::abs((now - *lastBatch) * 86400 - 5) < 120);
}

void TestTorvaneSnapshot::longTextsAreCutAtACharacterBoundary()
{
    // 128 characters of two and of three bytes, and 64 of four (each a pair of UTF-16
    // units): the record keeps the whole characters that fit in its 131 bytes, never
    // half of one.
    sandbox::ProcessSpec spec;
    spec.login = "longnames";
    spec.programName = std::string(128 * 2, ' ');
    spec.hostName = std::string();
    for (int i = 0; i < 128; ++i) {
        spec.programName.replace(static_cast<std::size_t>(i) * 2, 2, "\u00e9");
        *spec.hostName += "\u20ac";
        if (i < 64)
            spec.ntUserName += "\U0001F600";
    }
    const int spid = Sandbox->Simulation().AddProcess(spec);
    QVERIFY(spid > 0);
    const std::vector<TSnapshotRow> read = ReadRows(spid);
    QCOMPARE(int(read.size()), 1);
    const auto text = [](std::string_view value) {
        return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    };
    QCOMPARE(text(read.front().Record.program_name), QString(65, QChar(0xe9)));
    QCOMPARE(text(read.front().Record.hostname), QString(43, QChar(0x20ac)));
    QCOMPARE(std::string(read.front().Record.nt_username), [] {
        std::string kept;
        for (int i = 0; i < 32; ++i)
            kept += "\U0001F600";
        return kept;
    }());
    QVERIFY(Sandbox->Simulation().RemoveProcess(spid));
}

void TestTorvaneSnapshot::processSnapshotFeedsEverythingInOrder()
{
    // Both alerts due on every refresh and a log line on every refresh: the alerts go
    // out CPU first, then response, the log line is written, then the redraw.
    QTemporaryDir logs;
    {
        TRegistry registry(TRegistryRoot::LocalMachine);
        QVERIFY(registry.OpenKey(QString::fromLatin1(TorvaneSettings::RootKey), true));
        QVERIFY(registry.WriteInteger(QString::fromLatin1(TorvaneSettings::EmailAlerts), 1));
        QVERIFY(registry.WriteInteger(QString::fromLatin1(TorvaneSettings::Logging), 1));
        QVERIFY(registry.OpenKey(QString::fromLatin1(TorvaneSettings::AlertsKey), true));
        for (const char* name : {TorvaneSettings::CPUUsage, TorvaneSettings::ServerResponse})
            QVERIFY(registry.WriteInteger(QString::fromLatin1(name), 1));
        for (const char* name : {TorvaneSettings::CPUUsageRefresh, TorvaneSettings::CPUUsageValue,
                                 TorvaneSettings::ServerResponseRefresh, TorvaneSettings::ServerResponseValue})
            QVERIFY(registry.WriteInteger(QString::fromLatin1(name), 0));
        QVERIFY(registry.OpenKey(QString::fromLatin1(TorvaneSettings::LoggingKey), true));
        QVERIFY(registry.WriteString(QString::fromLatin1(TorvaneSettings::LoggingDirectory), logs.path()));
        QVERIFY(registry.WriteInteger(QString::fromLatin1(TorvaneSettings::RefreshCount), 0));
    }
    TMonitorFixture monitor;
    bool logWrittenBeforeRedraw = false;
    monitor.Owner.OnCall = [&](const std::string& call) {
        if (call == "RefreshSlotView")
            logWrittenBeforeRedraw = !QDir(logs.path()).entryList(QDir::Files).isEmpty();
    };
    QVERIFY(monitor.Connect(Sandbox->ServerName(), false, "sa", "torvane"));
    QTRY_COMPARE_WITH_TIMEOUT(monitor.Refreshes(), 1, 20000);
    QFile::remove(Settings.filePath(QStringLiteral("machine.reg")));
    QCOMPARE(monitor.Owner.Calls,
             (std::vector<std::string>{"SendCpuAlert", "SendResponseAlert", "RefreshSlotView"}));
    QVERIFY(logWrittenBeforeRedraw);

    // The statistics took the figures of the refresh that had just ended.
    using P = TTorvaneServerPerformance;
    const auto& history = monitor.ServerPerformance->History();
    QCOMPARE(history[P::SeriesUsers][P::HistoryLength - 1], monitor.Users->UserCount());
    QCOMPARE(history[P::SeriesSessions][P::HistoryLength - 1], monitor.Users->SessionCount());
    QCOMPARE(history[P::SeriesResponse][P::HistoryLength - 1], monitor.Thread()->ResponseTimeMs.load());
    QVERIFY(monitor.Users->SessionCount() >= 10);
    QVERIFY(!monitor.ServerPerformance->Disconnected);
    QVERIFY(std::abs(monitor.Thread()->ServerTime - CurrentDateTime()) * 86400 < 120);

    // Every thread row reached the process threads: the worker threads of 52 as well.
    TMemoryStringGrid threads(6, 2);
    monitor.Threads->FillThreadGrid(threads, 52);
    QCOMPARE(threads.RowCount(), 4);
}

QTEST_GUILESS_MAIN(TestTorvaneSnapshot)
#include "tst_torvanesnapshot.moc"
