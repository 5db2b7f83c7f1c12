// The alert mailer: alerts wait their turn behind the one being sent, every failed alert
// is reported once with its reason, the queue keeps its bound, and the client is left
// disconnected after every alert.

#include "alerts/Alertmailer.h"
#include "tests/support/Scriptedsmtpserver.h"
#include "tests/support/Smtpserverfixture.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
TAlertMail Mail(const QString& host, const QString& subject)
{
    return TAlertMail{.Host = host,
                      .UserId = QStringLiteral("torvane-tester"),
                      .Sender = QStringLiteral("torvane@example.com"),
                      .Recipient = QStringLiteral("dba@example.com"),
                      .Subject = subject,
                      .Body = QStringLiteral("Body of ") + subject,
                      .Description = QStringLiteral("Disconnect alert for ") + subject};
}

} // namespace

class TestAlertMailer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void alertsWaitTheirTurn();
    void failedAlertIsReportedOnce_data();
    void failedAlertIsReportedOnce();
    void queueKeepsItsBound();
    void stuckMailServerHoldsNoOtherAlert();
    void mailIsBoundedAsAWhole();
};

void TestAlertMailer::alertsWaitTheirTurn()
{
    TSmtpServerFixture server;
    QVERIFY2(server.Started(), qPrintable(server.Error()));
    TAlertMailer mailer;
    QSignalSpy sent(&mailer, &TAlertMailer::MailSent);
    QSignalSpy failed(&mailer, &TAlertMailer::MailFailed);

    for (const char* subject : {"db1", "db2", "db3"})
        mailer.Send(Mail(server.Host(), QString::fromLatin1(subject)));
    QCOMPARE(mailer.Pending(), 3);

    QTRY_COMPARE(sent.size(), 3);
    QStringList subjects;
    for (const TReceivedMail& mail : server.Mails())
        subjects << mail.Subject;
    QCOMPARE(subjects, (QStringList{"db1", "db2", "db3"}));
    QCOMPARE(sent.at(2).at(0).toString(), QStringLiteral("Disconnect alert for db3 sent to dba@example.com"));
    QCOMPARE(failed.size(), 0);
    QCOMPARE(mailer.Pending(), 0);
}

void TestAlertMailer::failedAlertIsReportedOnce_data()
{
    QTest::addColumn<QString>("kind"); // of mail server
    QTest::addColumn<QString>("line");

    QTest::newRow("connection refused") << "closed port"
                                        << "Disconnect alert for db1 not sent: Connection Failed";
    QTest::newRow("HELO refused") << "refusing HELO"
                                  << "Disconnect alert for db1 not sent: Authentication failed";
    QTest::newRow("recipient refused") << "refusing the recipient"
                                       << "Disconnect alert for db1 not sent: 554 5.5.1 no valid recipients";
    QTest::newRow("server that never answers")
        << "silent"
        << "Disconnect alert for db1 not sent: 110:Connection timed out";
    QTest::newRow("554 to the end of data") << "refusing the message"
                                            << "Disconnect alert for db1 not sent: 554 5.7.1 rejected as spam";
    QTest::newRow("closed before the reply to the end of data")
        << "closing at the end of data"
        << "Disconnect alert for db1 not sent: The mail server closed the connection without a reply";
    QTest::newRow("host naming no port") << "no port"
                                         << "Disconnect alert for db1 not sent: The SMTP host \"localhost:\" names "
                                            "no port after its colon";
}

void TestAlertMailer::failedAlertIsReportedOnce()
{
    QFETCH(QString, kind);
    QFETCH(QString, line);

    TSmtpServerFixture good;
    QVERIFY2(good.Started(), qPrintable(good.Error()));
    TSmtpServerFixture refusing(QStringLiteral("torvane-tester"));
    TScriptedSmtpServer scripted;
    if (kind == "silent") {
        scripted.Greeting.clear();
    } else if (kind == "refusing the message") {
        scripted.Replies["."] = "554 5.7.1 rejected as spam\r\n";
    } else if (kind == "closing at the end of data") {
        scripted.Replies["."].clear();
        scripted.CloseAfter = ".";
    } else {
        scripted.Replies["RCPT"] = "550 5.1.1 no such user\r\n";
        scripted.Replies["DATA"] = "554 5.5.1 no valid recipients\r\n";
    }
    QVERIFY(scripted.Start());
    const QString host = kind == "closed port"     ? ClosedPortHost()
                         : kind == "refusing HELO" ? refusing.Host()
                         : kind == "no port"       ? QStringLiteral("localhost:")
                                                   : scripted.Host();

    TAlertMailer mailer(500);
    QSignalSpy sent(&mailer, &TAlertMailer::MailSent);
    QSignalSpy failed(&mailer, &TAlertMailer::MailFailed);
    mailer.Send(Mail(host, QStringLiteral("db1")));
    mailer.Send(Mail(good.Host(), QStringLiteral("db2"))); // the next alert goes on

    QTRY_COMPARE(sent.size(), 1);
    QTRY_COMPARE(failed.size(), 1);
    QCOMPARE(failed.first().first().toString(), line);
    QCOMPARE(good.Mails().size(), 1);
    if (kind == "refusing the recipient")
        QCOMPARE(scripted.Commands().back(), "QUIT"); // left disconnected
}

void TestAlertMailer::queueKeepsItsBound()
{
    TScriptedSmtpServer silent;
    silent.Greeting.clear();
    QVERIFY(silent.Start());
    TAlertMailer mailer;
    QSignalSpy failed(&mailer, &TAlertMailer::MailFailed);

    mailer.Send(Mail(silent.Host(), QStringLiteral("being sent")));
    QVERIFY(silent.WaitForConnection(10000));
    for (int i = 0; i < TAlertMailer::QueueBound; ++i)
        mailer.Send(Mail(silent.Host(), QStringLiteral("waiting %1").arg(i)));
    QCOMPARE(failed.size(), 0);

    mailer.Send(Mail(silent.Host(), QStringLiteral("one too many")));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(
        failed.first().first().toString(),
        QStringLiteral("Disconnect alert for one too many not sent: 32 alert mails are already waiting"));
}

// A mail server that keeps a mail for as long as the bounds allow holds up only the
// alerts for it: the settings may meanwhile name a mail server that works.
void TestAlertMailer::stuckMailServerHoldsNoOtherAlert()
{
    TScriptedSmtpServer stuck;
    stuck.DripVerb = "HELO";
    QVERIFY(stuck.Start());
    TSmtpServerFixture good;
    QVERIFY2(good.Started(), qPrintable(good.Error()));
    TAlertMailer mailer;
    QSignalSpy sent(&mailer, &TAlertMailer::MailSent);
    QSignalSpy failed(&mailer, &TAlertMailer::MailFailed);

    mailer.Send(Mail(stuck.Host(), QStringLiteral("db1")));
    QVERIFY(stuck.WaitForConnection(10000));
    mailer.Send(Mail(stuck.Host(), QStringLiteral("db2")));
    for (const char* subject : {"db3", "db4"})
        mailer.Send(Mail(good.Host(), QString::fromLatin1(subject)));

    QTRY_COMPARE(sent.size(), 2);
    QCOMPARE(sent.at(1).at(0).toString(), QStringLiteral("Disconnect alert for db4 sent to dba@example.com"));
    QCOMPARE(good.Mails().size(), 2);
    QCOMPARE(failed.size(), 0);
    QCOMPARE(mailer.Pending(), 2); // still held by the stuck server
}

// Every reply within its bound, but the dialogue as a whole takes too long.
void TestAlertMailer::mailIsBoundedAsAWhole()
{
    TScriptedSmtpServer slow;
    slow.DripVerb = "DATA";
    slow.DripIntervalMs = 100;
    QVERIFY(slow.Start());
    TAlertMailer mailer(60000, 1500);
    QSignalSpy failed(&mailer, &TAlertMailer::MailFailed);

    mailer.Send(Mail(slow.Host(), QStringLiteral("db1")));
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 20000);
    QCOMPARE(failed.first().first().toString(),
             QStringLiteral("Disconnect alert for db1 not sent: 110:Connection timed out"));
}

QTEST_GUILESS_MAIN(TestAlertMailer)
#include "tst_alertmailer.moc"
