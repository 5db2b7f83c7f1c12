// The SMTP client against a real mail server (aiosmtpd) and a scripted one: the
// dialogue, the replies of several lines, the message as it arrives, and the failures
// with their kinds and texts.

#include "alerts/Quorsmtp.h"
#include "alerts/Smtperror.h"
#include "tests/support/Scriptedsmtpserver.h"
#include "tests/support/Smtpserverfixture.h"

#include <QSysInfo>
#include <QtTest>

#include <cerrno>
#include <functional>

namespace {
// Runs an operation and tells what it raised: "socket: text", "plain: text" or "".
QString Failure(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const ESmtpSocketError& error) {
        return QStringLiteral("socket: ") + error.Text();
    } catch (const ESmtpError& error) {
        return QStringLiteral("plain: ") + error.Text();
    }
    return {};
}

void FillMessage(TQuorSMTP& client, const QString& subject, const QStringList& body)
{
    client.PostMessage.FromAddress = QStringLiteral("torvane@example.com");
    client.PostMessage.FromName = QStringLiteral("Torvane Alert");
    client.PostMessage.ToAddress = QStringList{QStringLiteral("DBA <dba@example.com>")};
    client.PostMessage.Subject = subject;
    client.PostMessage.Body = body;
}

using TStrings = std::vector<std::string>;
using TReplies = std::map<std::string, std::string>;
} // namespace

Q_DECLARE_METATYPE(TStrings)
Q_DECLARE_METATYPE(TReplies)

class TestQuorSmtp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connecting_data();
    void connecting();
    void recipientRefusedFailsAtData();
    void bodyLinesAreDotStuffed();
    void serverClosingBeforeQuit();
    void hostileServer_data();
    void hostileServer();
    void failuresWithoutServer_data();
    void failuresWithoutServer();
    void recipientAddress_data();
    void recipientAddress();
    void realServer_data();
    void realServer();
    void greetsWithMachineNameWithoutUserId();
};

void TestQuorSmtp::connecting_data()
{
    QTest::addColumn<QString>("greeting");
    QTest::addColumn<TReplies>("replies"); // over the scripted server's own
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QByteArray>("replyAfterConnect");
    QTest::addColumn<bool>("closedByClient");

    QTest::newRow("greeting of several lines is read to its last line")
        << "220-mail.example.com\r\n220-welcome\r\n220 ready\r\n"
        << TReplies{} << "" << QByteArray("250 scripted\r\n") << false;
    QTest::newRow("answer to HELO of several lines is read to its last line")
        << "220 ready\r\n"
        << TReplies{{"HELO", "250-mail.example.com\r\n250-SIZE 10240\r\n250 HELP\r\n"}} << ""
        << QByteArray("250 HELP\r\n") << false;
    QTest::newRow("HELO refused with 502")
        << "220 ready\r\n"
        << TReplies{{"HELO", "502 5.5.1 not here\r\n"}} << "plain: Authentication failed"
        << QByteArray("502 5.5.1 not here\r\n") << true;
    QTest::newRow("greeting refusing service")
        << "554 5.3.2 too busy\r\n"
        << TReplies{} << "plain: 554 5.3.2 too busy" << QByteArray("554 5.3.2 too busy\r\n") << true;
    QTest::newRow("server that never answers")
        << "" << TReplies{{"HELO", ""}} << "socket: 110:Connection timed out" << QByteArray() << true;
}

// Connect, and then a whole message: a reply read too early or too late would shift
// every later reply by one line.
void TestQuorSmtp::connecting()
{
    QFETCH(QString, greeting);
    QFETCH(TReplies, replies);
    QFETCH(QString, failure);
    QFETCH(QByteArray, replyAfterConnect);
    QFETCH(bool, closedByClient);

    TScriptedSmtpServer server;
    server.Greeting = greeting.toStdString();
    for (const auto& [verb, reply] : replies)
        server.Replies[verb] = reply;
    QVERIFY(server.Start());
    TQuorSMTP client;
    client.Host = server.Host();
    client.UserID = QStringLiteral("tester");
    client.TimeOut = 300;

    QCOMPARE(Failure([&] { client.Connect(); }), failure);
    QCOMPARE(client.ReplyText(), replyAfterConnect);
    QCOMPARE(client.Connected(), failure.isEmpty());
    if (failure.isEmpty()) {
        FillMessage(client, QStringLiteral("Hello"), {QStringLiteral("one line")});
        QCOMPARE(Failure([&] { client.Send(); }), QString());
        QCOMPARE(client.ReplyText(), QByteArray("250 queued\r\n"));
        QCOMPARE(Failure([&] { client.Disconnect(); }), QString());
        QCOMPARE(client.ReplyText(), QByteArray("221 bye\r\n"));
        QCOMPARE(server.Commands(), (TStrings{"HELO tester", "RSET", "MAIL FROM:<torvane@example.com>",
                                              "RCPT TO:<dba@example.com>", "DATA", ".", "QUIT"}));
    }
    QCOMPARE(server.ClosedByClient(5000), closedByClient);
    QCOMPARE(client.Connected(), false);
}

void TestQuorSmtp::recipientRefusedFailsAtData()
{
    TScriptedSmtpServer server;
    server.Replies["RCPT"] = "550 5.1.1 no such user\r\n";
    server.Replies["DATA"] = "554 5.5.1 no valid recipients\r\n";
    QVERIFY(server.Start());
    TQuorSMTP client;
    // By name: the lookup may give ::1 before 127.0.0.1, where alone the server listens.
    client.Host = server.Host().replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    client.UserID = QStringLiteral("tester");
    client.Connect();
    FillMessage(client, QStringLiteral("Hello"), {QStringLiteral("text")});

    QCOMPARE(Failure([&] { client.Send(); }), QStringLiteral("plain: 554 5.5.1 no valid recipients"));
    QVERIFY(client.Connected()); // a refused message leaves the connection open
    QCOMPARE(client.PostMessage.ToAddress.size(), 1);
    QVERIFY(server.DataLines().empty());
}

// A line of "." alone would end the data early and make the rest commands of their own.
void TestQuorSmtp::bodyLinesAreDotStuffed()
{
    TScriptedSmtpServer server;
    QVERIFY(server.Start());
    TQuorSMTP client;
    client.Host = server.Host();
    client.UserID = QStringLiteral("tester");
    client.Connect();
    FillMessage(
        client, QStringLiteral("Dots"),
        {QStringLiteral(".first"), QStringLiteral("middle\r\n.\r\nQUIT"), QStringLiteral("bare\n.lf")});
    client.Send();
    client.Disconnect();

    const TStrings data = server.DataLines();
    const TStrings body(std::find(data.begin(), data.end(), std::string()) + 2, data.end());
    QCOMPARE(body, (TStrings{"..first", "middle", "..", "QUIT", "bare", "..lf"}));
    QCOMPARE(server.Commands().back(), "QUIT");
    QVERIFY(client.PostMessage.ToAddress.isEmpty()); // recipients are cleared, the body is kept
    QCOMPARE(client.PostMessage.Body.size(), 3);
}

void TestQuorSmtp::serverClosingBeforeQuit()
{
    TScriptedSmtpServer server;
    server.CloseAfter = ".";
    QVERIFY(server.Start());
    TQuorSMTP client;
    client.Host = server.Host();
    client.UserID = QStringLiteral("tester");
    client.Connect();
    FillMessage(client, QStringLiteral("Hello"), {QStringLiteral("text")});
    client.Send();
    QCOMPARE(server.ClosedByClient(5000), false);

    QCOMPARE(client.Connected(), false);
    QCOMPARE(Failure([&] { client.Disconnect(); }),
             QStringLiteral("socket: 107:Transport endpoint is not connected"));
}

void TestQuorSmtp::hostileServer_data()
{
    QTest::addColumn<QString>("greeting");
    QTest::addColumn<TReplies>("replies"); // over the scripted server's own
    QTest::addColumn<QString>("closeAfter");
    QTest::addColumn<QString>("dripVerb");
    QTest::addColumn<QString>("failure"); // of Connect, else of Send; empty: sent
    QTest::addColumn<bool>("leftOpen");   // after the failure

    const QString ready = QStringLiteral("220 ready\r\n");
    const std::string longText(5000, 'x');
    const std::string hugeText(70000, 'x');
    QTest::newRow("closed before the reply to the end of data")
        << ready << TReplies{{".", ""}} << "." << ""
        << "socket: The mail server closed the connection without a reply" << false;
    QTest::newRow("closed in the middle of a reply line")
        << ready << TReplies{{".", "25"}} << "." << ""
        << "socket: The mail server closed the connection without a reply" << false;
    QTest::newRow("reply to the end of data without a code")
        << ready << TReplies{{".", "OK queued\r\n"}} << "QUIT" << ""
        << "plain: The mail server's reply is not SMTP: OK queued" << false;
    QTest::newRow("reply to MAIL with a code of two digits")
        << ready << TReplies{{"MAIL", "25 ok\r\n"}} << "QUIT" << ""
        << "plain: The mail server's reply is not SMTP: 25 ok" << false;
    QTest::newRow("greeting without a code")
        << "hello\x1b[2J\r\n" << TReplies{} << "QUIT" << ""
        << "plain: The mail server's reply is not SMTP: hello?[2J" << false;
    QTest::newRow("554 to the end of data") << ready << TReplies{{".", "554 5.7.1 rejected as spam\r\n"}} << "QUIT"
                                            << "" << "plain: 554 5.7.1 rejected as spam" << true;
    QTest::newRow("354 to the end of data") << ready << TReplies{{".", "354 more\r\n"}} << "QUIT" << ""
                                            << "plain: 354 more" << true;
    QTest::newRow("reply line over 4,096 bytes is one reply")
        << ready << TReplies{{"MAIL", "250 " + longText + "\r\n"}, {".", "250-" + longText + "\r\n250 queued\r\n"}}
        << "QUIT" << "" << "" << true;
    QTest::newRow("reply line over 64 KB")
        << ready << TReplies{{"RSET", "250 " + hugeText + "\r\n"}} << "QUIT" << ""
        << "plain: The mail server's reply is too long" << false;
    std::string manyLines;
    for (int i = 0; i < 20; ++i)
        manyLines += "250-" + longText + "\r\n";
    QTest::newRow("reply of many lines over 64 KB")
        << ready << TReplies{{".", manyLines + "250 queued\r\n"}} << "QUIT" << ""
        << "plain: The mail server's reply is too long" << false;
    QTest::newRow("replies of several lines at every step")
        << "220-mail.example.com\r\n220 ready\r\n"
        << TReplies{{"HELO", "250-mail.example.com\r\n250-SIZE 10240\r\n250 HELP\r\n"},
                    {"RSET", "250-reset\r\n250 done\r\n"},
                    {"MAIL", "250-sender\r\n250 ok\r\n"},
                    {"RCPT", "250-recipient\r\n250 ok\r\n"},
                    {"DATA", "354-go\r\n354 ahead\r\n"},
                    {".", "250-taken\r\n250 queued\r\n"}}
        << "QUIT" << "" << "" << true;
    QTest::newRow("one continuation line per second after HELO")
        << ready << TReplies{} << "QUIT" << "HELO"
        << "socket: 110:Connection timed out" << false;
    QTest::newRow("one continuation line per second after the end of data")
        << ready << TReplies{} << "QUIT" << "."
        << "socket: 110:Connection timed out" << false;
}

// Whatever the server does, the message counts as sent only after a whole 250 reply to
// ".", and a dialogue that is out of step goes no further.
void TestQuorSmtp::hostileServer()
{
    QFETCH(QString, greeting);
    QFETCH(TReplies, replies);
    QFETCH(QString, closeAfter);
    QFETCH(QString, dripVerb);
    QFETCH(QString, failure);
    QFETCH(bool, leftOpen);

    TScriptedSmtpServer server;
    server.Greeting = greeting.toStdString();
    for (const auto& [verb, reply] : replies)
        server.Replies[verb] = reply;
    server.CloseAfter = closeAfter.toStdString();
    server.DripVerb = dripVerb.toStdString();
    QVERIFY(server.Start());
    TQuorSMTP client;
    client.Host = server.Host();
    client.UserID = QStringLiteral("tester");
    client.TimeOut = 2500; // every reply as a whole: more than two lines of the drip

    QString outcome = Failure([&] { client.Connect(); });
    if (outcome.isEmpty()) {
        FillMessage(client, QStringLiteral("Hello"), {QStringLiteral("one line")});
        outcome = Failure([&] { client.Send(); });
    }
    QCOMPARE(outcome, failure);
    QCOMPARE(client.Connected(), leftOpen);
    if (failure.isEmpty()) {
        QCOMPARE(client.ReplyText(), QByteArray("250 queued\r\n"));
        QCOMPARE(Failure([&] { client.Disconnect(); }), QString());
        QCOMPARE(server.Commands(), (TStrings{"HELO tester", "RSET", "MAIL FROM:<torvane@example.com>",
                                              "RCPT TO:<dba@example.com>", "DATA", ".", "QUIT"}));
        QCOMPARE(server.DataLines().back(), "one line");
    }
}

void TestQuorSmtp::failuresWithoutServer_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("failure");

    QTest::newRow("connection refused") << ClosedPortHost() << "socket: Connection Failed";
    QTest::newRow("name without address") << "no-such-host.invalid"
                                          << "socket: Null Remote Address";
    QTest::newRow("port out of range")
        << "127.0.0.1:70000"
        << "socket: The SMTP host \"127.0.0.1:70000\" names port \"70000\": a port is a number from 1 to 65535";
    QTest::newRow("port zero") << "[::1]:0"
                               << "socket: The SMTP host \"[::1]:0\" names port \"0\": a port is a number from 1 "
                                  "to 65535";
    QTest::newRow("port not a number")
        << "localhost:smtp"
        << "socket: The SMTP host \"localhost:smtp\" names port \"smtp\": a port is a number from 1 to 65535";
    QTest::newRow("colon without a port") << "mail.example.com:"
                                          << "socket: The SMTP host \"mail.example.com:\" names no port after its "
                                             "colon";
    QTest::newRow("bracketed address with a colon and no port")
        << "[::1]:"
        << "socket: The SMTP host \"[::1]:\" names no port after its colon";
}

void TestQuorSmtp::failuresWithoutServer()
{
    QFETCH(QString, host);
    QFETCH(QString, failure);

    TQuorSMTP client;
    client.Host = host;
    client.UserID = QStringLiteral("tester");
    QCOMPARE(Failure([&] { client.Connect(); }), failure);
    QVERIFY(!client.Connected());
    QCOMPARE(Failure([&] { client.Send(); }), QStringLiteral("plain: Not Connected"));
    QCOMPARE(Failure([&] { client.Disconnect(); }),
             QStringLiteral("socket: 107:Transport endpoint is not connected"));
    QCOMPARE(ESmtpSocketError::FromCode(ECONNREFUSED).Text(), QStringLiteral("111:Connection refused"));
    QCOMPARE(ESmtpSocketError::FromCode(100000).Text(), QStringLiteral("Unknown Error No. 100000"));
}

void TestQuorSmtp::recipientAddress_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("address");

    QTest::newRow("bare address") << "dba@example.com"
                                  << "dba@example.com";
    QTest::newRow("display name and address") << "The DBA <dba@example.com>"
                                              << "dba@example.com";
    QTest::newRow("unclosed angle bracket") << "DBA <dba@example.com"
                                            << "dba@example.com";
    QTest::newRow("after a colon") << "smtp:dba@example.com"
                                   << "dba@example.com";
    QTest::newRow("between colons") << "smtp:dba@example.com:x"
                                    << "dba@example.com";
}

void TestQuorSmtp::recipientAddress()
{
    QFETCH(QString, entry);
    QFETCH(QString, address);
    QCOMPARE(RecipientAddress(entry), address);
}

void TestQuorSmtp::realServer_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QStringList>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QList<QByteArray>>("moreHeaders");

    QTest::newRow("ASCII") << "Torvane has detected high CPU usage on db1" << QStringList{"first", ".second"}
                           << QByteArray("Content-Type: text/plain; charset=us-ascii") << QList<QByteArray>{};
    QTest::newRow("beyond ASCII")
        << QString::fromUtf8(
               "Torvane has disconnected from the database server Ärzte-Datenbank-Ü-€-日本語-Größe")
        << QStringList{QString::fromUtf8("Käse\r\n€ 5")}
        << QByteArray("Content-Type: text/plain; charset=utf-8")
        << QList<QByteArray>{"Content-Transfer-Encoding: 8bit"};
}

void TestQuorSmtp::realServer()
{
    QFETCH(QString, subject);
    QFETCH(QStringList, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QList<QByteArray>, moreHeaders);

    TSmtpServerFixture server;
    QVERIFY2(server.Started(), qPrintable(server.Error()));
    TQuorSMTP client;
    client.Host = server.Host();
    client.UserID = QStringLiteral("torvane-tester");
    client.Connect();
    FillMessage(client, subject, body);
    client.PostMessage.ToAddress << QStringLiteral("ops@example.com");
    client.Send();
    client.Disconnect();

    QTRY_COMPARE(server.Mails().size(), 1);
    const TReceivedMail& mail = server.Mails().first();
    QCOMPARE(mail.Helo, QStringLiteral("torvane-tester"));
    QCOMPARE(mail.From, QStringLiteral("torvane@example.com"));
    QCOMPARE(mail.To, (QStringList{"dba@example.com", "ops@example.com"}));
    QCOMPARE(mail.Subject, subject);
    QCOMPARE(mail.Body, QStringLiteral("\r\n") + body.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    QVERIFY(mail.DateValid);

    const QList<QByteArray> headers = mail.HeaderLines();
    QCOMPARE(headers.first(), QByteArray("From: Torvane Alert<torvane@example.com>"));
    QCOMPARE(headers[1], QByteArray("To: DBA <dba@example.com>,ops@example.com"));
    QVERIFY(headers[2].startsWith("Subject: "));
    const auto date = std::find_if(headers.begin(), headers.end(),
                                   [](const QByteArray& h) { return h.startsWith("Date: "); }) -
                      headers.begin();
    QVERIFY(date > 2 && date < headers.size() - 1);
    QVERIFY(headers[date + 1].startsWith("Message-ID: <"));
    QVERIFY(headers[date + 1].endsWith("@example.com>"));
    QCOMPARE(headers.mid(date + 2), QList<QByteArray>({"Mime-Version: 1.0", contentType}) + moreHeaders);
    QVERIFY(mail.RawBody().startsWith("\r\n"));
}

// A bare HELO is refused by real servers: without a user id the client names its machine.
void TestQuorSmtp::greetsWithMachineNameWithoutUserId()
{
    TSmtpServerFixture server;
    QVERIFY2(server.Started(), qPrintable(server.Error()));
    TQuorSMTP client;
    client.Host = server.Host();
    client.Connect();
    FillMessage(client, QStringLiteral("Hello"), {QStringLiteral("text")});
    client.Send();
    client.Disconnect();

    QTRY_COMPARE(server.Mails().size(), 1);
    QCOMPARE(server.Mails().first().Helo, QSysInfo::machineHostName());
}

QTEST_GUILESS_MAIN(TestQuorSmtp)
#include "tst_quorsmtp.moc"
