// The readers of the program's settings: what each gives for a store with no settings,
// a store the properties dialog filled, and the incomplete saves the dialog can leave.

#include "settings/Registry.h"
#include "settings/Torvanesettings.h"

#include <QtTest>

using namespace TorvaneSettings;

namespace
{
// One saved value: key, name, and an integer or a string.
struct TSaved
{
    const char* Key;
    const char* Name;
    std::variant<std::int32_t, QString> Data;
};
using TSavedList = QList<TSaved>;

// Everything the properties dialog writes on OK.
TSavedList DialogSave()
{
    return {
        {RootKey, RefreshInterval, 15},
        {RootKey, EmailAlerts, 1},
        {RootKey, Logging, 1},
        {AlertsKey, CPUUsage, 1},
        {AlertsKey, ServerDisconnect, 1},
        {AlertsKey, ServerResponse, 1},
        {AlertsKey, CPUUsageRefresh, 4},
        {AlertsKey, CPUUsageValue, 90},
        {AlertsKey, ServerResponseRefresh, 6},
        {AlertsKey, ServerResponseValue, 750},
        {AlertsKey, AlertEmails, QString("dba@example.com")},
        {AlertsKey, SMTPHost, QString("mail.example.com")},
        {AlertsKey, SMTPUser, QString("")},
        {AlertsKey, SMTPSender, QString("torvane@example.com")},
        {LoggingKey, LoggingDirectory, QString("/var/log/torvane")},
        {LoggingKey, RefreshCount, 3},
    };
}

TSavedList Without(TSavedList list, const char* name)
{
    list.removeIf([&](const TSaved& s) { return qstrcmp(s.Name, name) == 0; });
    return list;
}

TSavedList With(TSavedList list, const char* name, std::variant<std::int32_t, QString> data)
{
    for (TSaved& s : list) {
        if (qstrcmp(s.Name, name) == 0)
            s.Data = data;
    }
    return list;
}

using TAlert = std::optional<std::pair<int, int>>;
TAlert AsPair(const std::optional<TAlertRule>& rule)
{
    return rule ? TAlert({rule->SampleCount, rule->Threshold}) : std::nullopt;
}
} // namespace

Q_DECLARE_METATYPE(TSavedList)
Q_DECLARE_METATYPE(TAlert)

class TestTorvaneSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readers_data();
    void readers();
    void saveAll_data();
    void saveAll();
};

void TestTorvaneSettings::readers_data()
{
    QTest::addColumn<TSavedList>("saved");
    QTest::addColumn<std::optional<int>>("interval");
    QTest::addColumn<TAlert>("cpu");
    QTest::addColumn<TAlert>("response");
    QTest::addColumn<QString>("smtpUser");   // "-" when no mail settings
    QTest::addColumn<QString>("logDirectory");   // "-" when no logging
    QTest::addColumn<int>("logRefreshCount");

    const TAlert off;
    QTest::newRow("no settings at all") << TSavedList() << std::optional<int>() << off << off
                                        << "-" << "-" << 0;
    QTest::newRow("saved by the dialog") << DialogSave() << std::optional<int>(15) << TAlert({4, 90})
                                         << TAlert({6, 750}) << "" << "/var/log/torvane" << 3;
    QTest::newRow("master switch off") << With(DialogSave(), EmailAlerts, 0) << std::optional<int>(15) << off
                                       << off << "-" << "/var/log/torvane" << 3;
    QTest::newRow("CPU switch without its numbers")
        << Without(Without(DialogSave(), CPUUsageRefresh), CPUUsageValue) << std::optional<int>(15) << off
        << TAlert({6, 750}) << "" << "/var/log/torvane" << 3;
    QTest::newRow("response switch without its threshold")
        << Without(DialogSave(), ServerResponseValue) << std::optional<int>(15) << TAlert({4, 90}) << off
        << "" << "/var/log/torvane" << 3;
    QTest::newRow("response switch off") << With(DialogSave(), ServerResponse, 0) << std::optional<int>(15)
                                         << TAlert({4, 90}) << off << "" << "/var/log/torvane" << 3;
    QTest::newRow("no SMTP user") << With(Without(DialogSave(), SMTPUser), RefreshInterval, 100)
                                  << std::optional<int>(100) << TAlert({4, 90}) << TAlert({6, 750}) << ""
                                  << "/var/log/torvane" << 3;
    QTest::newRow("no SMTP host") << Without(DialogSave(), SMTPHost) << std::optional<int>(15)
                                  << TAlert({4, 90}) << TAlert({6, 750}) << "-" << "/var/log/torvane" << 3;
    QTest::newRow("logging off") << With(DialogSave(), Logging, 0) << std::optional<int>(15) << TAlert({4, 90})
                                 << TAlert({6, 750}) << "" << "-" << 0;
    QTest::newRow("logging without a directory") << Without(DialogSave(), LoggingDirectory)
                                                 << std::optional<int>(15) << TAlert({4, 90})
                                                 << TAlert({6, 750}) << "" << "-" << 0;
    QTest::newRow("logging without a refresh count") << Without(DialogSave(), RefreshCount)
                                                     << std::optional<int>(15) << TAlert({4, 90})
                                                     << TAlert({6, 750}) << "" << "/var/log/torvane" << 1;
    QTest::newRow("interval saved as text") << With(DialogSave(), RefreshInterval, QString("15"))
                                            << std::optional<int>() << TAlert({4, 90}) << TAlert({6, 750}) << ""
                                            << "/var/log/torvane" << 3;
}

void TestTorvaneSettings::readers()
{
    QFETCH(TSavedList, saved);
    QFETCH(std::optional<int>, interval);
    QFETCH(TAlert, cpu);
    QFETCH(TAlert, response);
    QFETCH(QString, smtpUser);
    QFETCH(QString, logDirectory);
    QFETCH(int, logRefreshCount);

    QTemporaryDir dir;
    TRegistryPaths paths{dir.filePath("machine.reg"), dir.filePath("user/machine.reg"), dir.filePath("user/user.reg")};
    TRegistry writer(TRegistryRoot::LocalMachine, paths);
    for (const TSaved& s : saved) {
        QVERIFY(writer.OpenKey(s.Key, true));
        if (const auto* number = std::get_if<std::int32_t>(&s.Data))
            QVERIFY(writer.WriteInteger(s.Name, *number));
        else
            QVERIFY(writer.WriteString(s.Name, std::get<QString>(s.Data)));
    }

    QCOMPARE(ReadRefreshInterval(paths), interval);
    QCOMPARE(AsPair(ReadCpuAlertRule(paths)), cpu);
    QCOMPARE(AsPair(ReadResponseAlertRule(paths)), response);
    const auto smtp = ReadSmtpSettings(paths);
    QCOMPARE(smtp ? smtp->UserId : QString("-"), smtpUser);
    if (smtp) {
        QCOMPARE(smtp->Host, QString("mail.example.com"));
        QCOMPARE(smtp->Sender, QString("torvane@example.com"));
        QCOMPARE(smtp->Recipient, QString("dba@example.com"));
    }
    // The refresh's one reading gives what the three readers give.
    const TRefreshSettings together = ReadRefreshSettings(paths);
    QCOMPARE(AsPair(together.CpuAlert), cpu);
    QCOMPARE(AsPair(together.ResponseAlert), response);
    for (const auto& log : {ReadLogSettings(paths), together.Log}) {
        QCOMPARE(log ? log->Directory : QString("-"), logDirectory);
        QCOMPARE(log ? log->RefreshCount : 0, logRefreshCount);
    }
}

void TestTorvaneSettings::saveAll_data()
{
    QTest::addColumn<bool>("machineWritable");
    QTest::newRow("machine hive writable") << true;
    QTest::newRow("machine hive not writable: the user's own copy") << false;
}

void TestTorvaneSettings::saveAll()
{
    QFETCH(bool, machineWritable);

    QTemporaryDir dir;
    // A folder that is a file cannot be created, whoever runs the test.
    QFile blocker(dir.filePath("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    const QString machine = machineWritable ? dir.filePath("machine.reg") : dir.filePath("blocked/machine.reg");
    const TRegistryPaths paths{machine, dir.filePath("user/machine.reg"), dir.filePath("user/user.reg")};
    TAllSettings all;
    all.RefreshInterval = 15;
    all.EmailAlerts = true;
    all.ServerDisconnect = true;
    all.CPUUsage = true;
    all.CPUUsageRefresh = 4;
    all.CPUUsageValue = 90;
    all.SMTPHost = "mail.example.com";
    all.SMTPSender = "torvane@example.com";
    all.AlertEmails = "dba@example.com";

    QCOMPARE(SaveAllSettings(all, paths), std::optional<QString>(machineWritable ? machine : paths.MachineFallbackFile));
    QCOMPARE(ReadRefreshInterval(paths), std::optional<int>(15));
    QVERIFY(ReadDisconnectAlertEnabled(paths));
    QCOMPARE(AsPair(ReadCpuAlertRule(paths)), TAlert({4, 90}));
    QCOMPARE(AsPair(ReadResponseAlertRule(paths)), TAlert());
    QCOMPARE(ReadSmtpSettings(paths)->UserId, QString());
    TRegistry reader(TRegistryRoot::LocalMachine, paths);
    for (const auto& [key, count] : {std::pair(RootKey, 3), std::pair(AlertsKey, 11), std::pair(LoggingKey, 2)}) {
        QVERIFY(reader.OpenKeyReadOnly(key));
        QCOMPARE(reader.GetValueNames().size(), count);
    }

    all.ServerDisconnect = false;
    QVERIFY(SaveAllSettings(all, paths));
    QVERIFY(!ReadDisconnectAlertEnabled(paths));
}

QTEST_GUILESS_MAIN(TestTorvaneSettings)
#include "tst_torvanesettings.moc"
