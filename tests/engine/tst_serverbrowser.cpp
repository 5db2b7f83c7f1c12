// Finding servers: the driver browse call's "Server={...}" answer, the resolution
// protocol's answers, and a search against the sandbox's server browser on loopback
// (never a broadcast).

#include "engine/Serverbrowser.h"
#include "tests/support/Sandboxfixture.h"

#include <QtTest>
#include <QUdpSocket>

namespace {

using TNames = std::vector<std::string>;

QByteArray Datagram(const QByteArray& data, int lengthField)
{
    QByteArray datagram(1, '\x05');
    datagram.append(static_cast<char>(lengthField & 0xff));
    datagram.append(static_cast<char>(lengthField >> 8));
    return datagram + data;
}

std::span<const std::uint8_t> Bytes(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

} // namespace

Q_DECLARE_METATYPE(TNames)

class TestServerBrowser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void browseConnectAnswer_data();
    void browseConnectAnswer();
    void resolutionAnswer_data();
    void resolutionAnswer();
    void findsTheSandboxesInstances_data();
    void findsTheSandboxesInstances();
    void searchesThatFindNothing_data();
    void searchesThatFindNothing();
    void stopEndsTheSearch();
};

void TestServerBrowser::browseConnectAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<TNames>("names");

    const QByteArray tail = ";UID:Login ID=?;PWD:Password=?";
    QTest::newRow("two names, text after the brace ignored")
        << "SERVER:Server={A,B\\C}" + tail << TNames{"A", "B\\C"};
    QTest::newRow("no server") << "SERVER:Server={}" + tail << TNames{};
    QTest::newRow("as written: blanks and repeats kept")
        << "Server={ a ,a,A}" + tail << TNames{" a ", "a", "A"};
    QTest::newRow("a name's first character is always taken")
        << "Server={A,,B,}}" + tail << TNames{"A", ",B", "}"};
    QTest::newRow("the first list only") << "Server={A}Server={B}" + tail << TNames{"A"};
    QTest::newRow("no closing brace: to the end")
        << QByteArray("Server={ABCDEFG,HIJ") << TNames{"ABCDEFG", "HIJ"};
    QTest::newRow("a comma at the end starts no name")
        << QByteArray("Server={ABCDEFGH,") << TNames{"ABCDEFGH"};
    QTest::newRow("15 bytes are too short") << QByteArray("Server={A,B};xx") << TNames{};
    QTest::newRow("16 bytes are enough") << QByteArray("Server={A,B};xxx") << TNames{"A", "B"};
    QTest::newRow("Server={ too near the end") << QByteArray("0123456789Server={AB}") << TNames{};
    QTest::newRow("Server={ just near enough") << QByteArray("01Server={AB}xxxx") << TNames{"AB"};
    QTest::newRow("exact case only") << "SERVER={A,B}" + tail << TNames{};
    QTest::newRow("the answer ends at its first zero byte")
        << QByteArray("Server={A,B\0C}", 14) + tail << TNames{};
    QTest::newRow("empty") << QByteArray() << TNames{};
}

void TestServerBrowser::browseConnectAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(TNames, names);
    QCOMPARE(ParseBrowseConnectAnswer(std::string_view(answer.constData(), answer.size())), names);
}

void TestServerBrowser::resolutionAnswer_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<TNames>("names");

    const QByteArray two =
        "ServerName;DB1;InstanceName;MSSQLSERVER;IsClustered;No;Version;16.0.1000.6;tcp;1433;;"
        "ServerName;DB1;InstanceName;SALES;IsClustered;No;Version;16.0.1000.6;tcp;50123;;";
    QTest::newRow("default and named instance") << Datagram(two, two.size()) << TNames{"DB1", "DB1\\SALES"};
    QTest::newRow("length field larger than the datagram") << Datagram(two, two.size() + 1) << TNames{};
    QTest::newRow("length field smaller than the datagram") << Datagram(two, two.size() - 1) << TNames{};
    QTest::newRow("not a server response")
        << QByteArray("\x04" + Datagram(two, two.size()).mid(1)) << TNames{};
    QTest::newRow("too short for a length") << QByteArray("\x05\x00", 2) << TNames{};
    QTest::newRow("empty answer") << Datagram({}, 0) << TNames{};

    const QByteArray incomplete =
        "ServerName;DB2;IsClustered;No;;InstanceName;X;;ServerName;db3;instancename;mssqlserver;;";
    QTest::newRow("a record without a name is skipped")
        << Datagram(incomplete, incomplete.size()) << TNames{"db3"};
    const QByteArray latin1 = "ServerName;H\xc9LO;InstanceName;MSSQLSERVER;;";
    QTest::newRow("not UTF-8: Latin-1") << Datagram(latin1, latin1.size()) << TNames{"H\xc3\x89LO"};
}

void TestServerBrowser::resolutionAnswer()
{
    QFETCH(QByteArray, datagram);
    QFETCH(TNames, names);
    QCOMPARE(ParseResolutionAnswer(Bytes(datagram)), names);
}

void TestServerBrowser::findsTheSandboxesInstances_data()
{
    QTest::addColumn<bool>("malformedFirst");
    QTest::newRow("good answer") << false;
    QTest::newRow("malformed answer first") << true;
}

void TestServerBrowser::findsTheSandboxesInstances()
{
    QFETCH(bool, malformedFirst);
    TSandboxFixture sandbox;
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    sandbox.Server().SetBrowseMalformed(malformedFirst);

    // FreeTDS has no browse call: the driver manager refuses it and the search goes on.
    TServerBrowser::TOptions options;
    options.Driver = "FreeTDS";
    options.Address = "127.0.0.1:" + std::to_string(sandbox.Server().BrowsePort());
    options.CollectTime = std::chrono::milliseconds(500);
    const TBrowseResult result = TServerBrowser(options).BrowseServers();
    QCOMPARE(result.Error, std::string());
    QCOMPARE(result.Names, sandbox.Server().BrowseServerNames());
}

void TestServerBrowser::searchesThatFindNothing_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("error"); // how it begins

    // A port that takes the request and never answers.
    QTest::newRow("quiet") << "127.0.0.1:QUIET"
                           << "";
    QTest::newRow("no port number") << "127.0.0.1:x"
                                    << "TORVANE_BROWSE_ADDRESS must be host:port, not '127.0.0.1:x'";
    QTest::newRow("port out of range") << "[::1]:65536"
                                       << "TORVANE_BROWSE_ADDRESS must be host:port, not '[::1]:65536'";
    QTest::newRow("no host") << ":1434"
                             << "TORVANE_BROWSE_ADDRESS must be host:port, not ':1434'";
    QTest::newRow("unknown host") << "no-such-host.invalid:1434"
                                  << "TORVANE_BROWSE_ADDRESS: no-such-host.invalid: ";
}

void TestServerBrowser::searchesThatFindNothing()
{
    QFETCH(QString, address);
    QFETCH(QString, error);
    QUdpSocket quiet;
    QVERIFY(quiet.bind(QHostAddress::LocalHost, 0));
    address.replace("QUIET", QString::number(quiet.localPort()));

    TServerBrowser::TOptions options;
    options.Address = address.toStdString();
    options.CollectTime = std::chrono::milliseconds(300);
    const TBrowseResult result = TServerBrowser(options).BrowseServers();
    QCOMPARE(result.Names, TNames{});
    if (error.isEmpty()) {
        QCOMPARE(result.Error, std::string());
        QVERIFY(quiet.hasPendingDatagrams());
    } else {
        // The resolver's own words end the message.
        QVERIFY2(QString::fromStdString(result.Error).startsWith(error), result.Error.c_str());
    }
}

void TestServerBrowser::stopEndsTheSearch()
{
    TSandboxFixture sandbox;
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    TServerBrowser::TOptions options;
    options.Address = "127.0.0.1:" + std::to_string(sandbox.Server().BrowsePort());
    options.CollectTime = std::chrono::hours(1);
    std::stop_source stop;
    stop.request_stop();
    QCOMPARE(TServerBrowser(options).BrowseServers(stop.get_token()).Names, TNames{});
}

QTEST_GUILESS_MAIN(TestServerBrowser)
#include "tst_serverbrowser.moc"
