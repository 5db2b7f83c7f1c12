// The three alert mails as a real mail server receives them: subject, headline, the
// time of the alert, the CPU history newest first, the process table; and the settings
// that keep a mail from being sent at all.

#include "alerts/Alertmailer.h"
#include "alerts/Emailalert.h"
#include "engine/Torvaneserverperformance.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "settings/Torvanesettings.h"
#include "tests/support/Mockclock.h"
#include "tests/support/Modelfixture.h"
#include "tests/support/Settingsfixture.h"
#include "tests/support/Smtpserverfixture.h"

#include <QSignalSpy>
#include <QtTest>

using namespace TorvaneSettings;

namespace {
enum TKind
{
    Disconnect,
    HighCpu,
    SlowResponse,
};

const QDateTime Start(QDate(2025, 12, 9), QTime(6, 0, 0));

// The CPU percentage of sample k (the first sample has none yet: 0); quarters, which the
// percentage computed in floating point gives exactly.
int CpuOf(int k)
{
    return k % 5 * 25;
}

void SendAlert(TKind kind, const TEmailAlert& alert, TAlertMailer& mailer)
{
    switch (kind) {
    case Disconnect:
        return alert.SendDisconnectEmail(mailer);
    case HighCpu:
        return alert.SendHighCpuEmail(mailer);
    case SlowResponse:
        return alert.SendSlowResponseEmail(mailer);
    }
}
} // namespace

class TestEmailAlert : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void mails_data();
    void mails();
    void nothingSent_data();
    void nothingSent();

private:
    void SaveMailSettings() const;

    std::unique_ptr<TSmtpServerFixture> Server;
    std::unique_ptr<TSettingsFixture> Settings;
    TTorvaneProcessUserProcesses Processes;
};

void TestEmailAlert::initTestCase()
{
    Server = std::make_unique<TSmtpServerFixture>();
    QVERIFY2(Server->Started(), qPrintable(Server->Error()));
    Refresh(Processes, {TRow(51).Cpu(10).Program("app"), TRow(52).Cmd("UPDATE")});
    Refresh(Processes, {TRow(51).Cpu(15).Program("app"), TRow(52).Cmd("UPDATE").Blocked(51)});
}

void TestEmailAlert::init()
{
    Settings = std::make_unique<TSettingsFixture>();
    SaveMailSettings();
}

void TestEmailAlert::SaveMailSettings() const
{
    Settings->Save(RootKey, EmailAlerts, 1);
    Settings->Save(AlertsKey, ServerDisconnect, 1);
    Settings->Save(AlertsKey, SMTPHost, Server->Host());
    Settings->Save(AlertsKey, SMTPUser, QStringLiteral("torvane-tester"));
    Settings->Save(AlertsKey, SMTPSender, QStringLiteral("torvane@example.com"));
    Settings->Save(AlertsKey, AlertEmails, QStringLiteral("dba@example.com"));
}

void TestEmailAlert::mails_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("serverName");
    QTest::addColumn<int>("samples");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("headline");
    QTest::addColumn<QString>("occurred");

    QTest::newRow("disconnect before the first snapshot")
        << int(Disconnect) << "dbhost\\SQL1" << 0
        << "Torvane has disconnected from the database server dbhost\\SQL1"
        << "Torvane has disconnected from the database server dbhost\\SQL1."
        << "Disconnect occurred: ";
    QTest::newRow("high CPU") << int(HighCpu) << "dbhost,1433" << 5
                              << "Torvane has detected high CPU usage on dbhost,1433"
                              << "Torvane has detected high CPU usage on the database server dbhost,1433."
                              << "High CPU Usage occurred: ";
    QTest::newRow("slow response lists CPU percentages")
        << int(SlowResponse) << "db1" << 3 << "Torvane has detected slow response from db1"
        << "Torvane has detected slow response times from the server db1."
        << "Slow response occurred: ";
    QTest::newRow("full history") << int(Disconnect) << "db1" << 130
                                  << "Torvane has disconnected from the database server db1"
                                  << "Torvane has disconnected from the database server db1."
                                  << "Disconnect occurred: ";
    QTest::newRow("server name beyond ASCII")
        << int(HighCpu) << QString::fromUtf8("Ärzte-Größe") << 2
        << QString::fromUtf8("Torvane has detected high CPU usage on Ärzte-Größe")
        << QString::fromUtf8("Torvane has detected high CPU usage on the database server Ärzte-Größe.")
        << "High CPU Usage occurred: ";
}

void TestEmailAlert::mails()
{
    QFETCH(int, kind);
    QFETCH(QString, serverName);
    QFETCH(int, samples);
    QFETCH(QString, subject);
    QFETCH(QString, headline);
    QFETCH(QString, occurred);

    TMockClock clock(EncodeDateTime(Start.date(), Start.time()));
    TTorvaneServerPerformance performance(clock);
    std::int64_t busy = 0;
    for (int k = 0; k < samples; ++k) {
        busy += CpuOf(k); // busy and idle grow by CpuOf(k) and the rest of 100
        performance.BeginSample();
        performance.AddSample(10, 1, 2, 0, 0, 0, 0, 0, 0, busy, 100 * (k + 1) - busy);
        clock.AdvanceSeconds(1);
    }
    TAlertMailer mailer;
    QSignalSpy failed(&mailer, &TAlertMailer::MailFailed);

    SendAlert(TKind(kind), TEmailAlert(Processes, performance, serverName.toStdString(), clock), mailer);

    QTRY_COMPARE(Server->Mails().size(), 1);
    const TReceivedMail mail = Server->TakeMails().first();
    QCOMPARE(failed.size(), 0);
    QCOMPARE(mail.Subject, subject);
    QCOMPARE(mail.From, QStringLiteral("torvane@example.com"));
    QCOMPARE(mail.To, QStringList{"dba@example.com"});
    QVERIFY(mail.HeaderLines().contains("From: Torvane Alert<torvane@example.com>"));
    QString history;
    for (int k = samples - 1; k >= std::max(0, samples - TTorvaneServerPerformance::HistoryLength); --k)
        history +=
            Start.addSecs(k).toString("yyyy-MM-dd hh:mm:ss") + u'\t' + QString::number(CpuOf(k)) + "\r\n";
    QCOMPARE(history.count("\r\n"), std::min(samples, 120));
    const QString body = "\r\n" + headline + "\r\n\r\n" + occurred +
                         QString::fromStdString(DateTimeToText(clock.Now())) + "\r\nTime\tCPU %\r\n" +
                         history + "\r\n\r\n" + QString::fromStdString(Processes.GetProcessTable()) +
                         "\r\n"; // the line end after the body's one entry
    // 51 blocks 52 and waits for nobody: its status says so; the rest is the table.
    QString table = body;
    table.replace(QStringLiteral("\r\n51\tActive\t"), QStringLiteral("\r\n51\tActive, lead blocker of 1\t"));
    QVERIFY(table != body);
    QCOMPARE(QString::fromUtf8(mail.RawBody()), table);
}

void TestEmailAlert::nothingSent_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("deleted"); // else saved as 0

    for (const auto& [kind, k] : {std::pair(Disconnect, "disconnect"), std::pair(HighCpu, "high CPU"),
                                  std::pair(SlowResponse, "slow response")}) {
        QTest::addRow("%s: e-mail alerts off", k) << int(kind) << RootKey << EmailAlerts << false;
        QTest::addRow("%s: no recipient", k) << int(kind) << AlertsKey << AlertEmails << true;
        QTest::addRow("%s: no SMTP host", k) << int(kind) << AlertsKey << SMTPHost << true;
        QTest::addRow("%s: no sender", k) << int(kind) << AlertsKey << SMTPSender << true;
        QTest::addRow("%s: no settings key", k) << int(kind) << RootKey << "" << true;
    }
    QTest::newRow("disconnect alert switched off")
        << int(Disconnect) << AlertsKey << ServerDisconnect << false;
    QTest::newRow("disconnect alert never saved") << int(Disconnect) << AlertsKey << ServerDisconnect << true;
}

// What is not sent cannot be seen arriving: an alert that does go out afterwards is the
// only mail the server gets, and nothing was reported as failed.
void TestEmailAlert::nothingSent()
{
    QFETCH(int, kind);
    QFETCH(QString, key);
    QFETCH(QString, name);
    QFETCH(bool, deleted);

    TRegistry registry(TRegistryRoot::LocalMachine);
    if (name.isEmpty()) {
        QVERIFY(registry.DeleteKey(key));
    } else {
        QVERIFY(registry.OpenKey(key, false));
        QVERIFY(deleted ? registry.DeleteValue(name) : registry.WriteInteger(name, 0));
    }
    TMockClock clock(EncodeDateTime(Start.date(), Start.time()));
    const TTorvaneServerPerformance performance(clock);
    TAlertMailer mailer;
    QSignalSpy failed(&mailer, &TAlertMailer::MailFailed);

    SendAlert(TKind(kind), TEmailAlert(Processes, performance, "db1", clock), mailer);
    SaveMailSettings();
    TEmailAlert(Processes, performance, "sentinel", clock).SendHighCpuEmail(mailer);

    QTRY_COMPARE(Server->Mails().size(), 1);
    QCOMPARE(Server->TakeMails().first().Subject,
             QStringLiteral("Torvane has detected high CPU usage on sentinel"));
    QCOMPARE(failed.size(), 0);
}

QTEST_GUILESS_MAIN(TestEmailAlert)
#include "tst_emailalert.moc"
