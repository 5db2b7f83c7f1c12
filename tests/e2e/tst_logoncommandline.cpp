// The torvane program's use of the network search and of the saved logons, run as a
// script runs it: --list-servers against the sandbox's server browser on loopback, and
// --server without credentials logging on with what the logon dialog saved.

#include "settings/Savedservers.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Settingsfixture.h"

#include <QProcess>
#include <QScopeGuard>
#include <QtTest>
#include <QUdpSocket>

#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

class TestLogonCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void listServers_data();
    void listServers();
    void hostileNamesStayOneLineEach();
    void privateFreeTdsFolderGoesOnEveryExit_data();
    void privateFreeTdsFolderGoesOnEveryExit();
    void savedLogon_data();
    void savedLogon();

private:
    // Runs torvane to its end; false when it did not end in time.
    bool Run(const QStringList& arguments, const QProcessEnvironment& environment, int& exitCode,
             QString& output, QString& error) const;

    std::unique_ptr<TSandboxFixture> FSandbox;
};

void TestLogonCommandLine::initTestCase()
{
    FSandbox = std::make_unique<TSandboxFixture>();
    QVERIFY2(FSandbox->Started(), FSandbox->Error().c_str());
}

bool TestLogonCommandLine::Run(const QStringList& arguments, const QProcessEnvironment& environment,
                               int& exitCode, QString& output, QString& error) const
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TORVANE_EXECUTABLE), arguments);
    if (!program.waitForFinished(60000)) {
        program.kill();
        program.waitForFinished();
        return false;
    }
    exitCode = program.exitCode();
    output = QString::fromUtf8(program.readAllStandardOutput());
    error = QString::fromUtf8(program.readAllStandardError());
    return true;
}

void TestLogonCommandLine::listServers_data()
{
    QTest::addColumn<QString>("address"); // BROWSE and QUIET stand for the ports
    QTest::addColumn<bool>("malformedFirst");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    QTest::newRow("the sandbox's instances") << "127.0.0.1:BROWSE" << false << true << 0 << "";
    QTest::newRow("a malformed answer is passed over") << "127.0.0.1:BROWSE" << true << true << 0 << "";
    QTest::newRow("nothing found prints nothing") << "127.0.0.1:QUIET" << false << false << 0 << "";
    QTest::newRow("a port that is not one")
        << "localhost:http" << false << false << 1
        << "TORVANE_BROWSE_ADDRESS must be host:port, not 'localhost:http'\n";
}

void TestLogonCommandLine::listServers()
{
    QFETCH(QString, address);
    QFETCH(bool, malformedFirst);
    QFETCH(bool, found);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QUdpSocket quiet;
    QVERIFY(quiet.bind(QHostAddress::LocalHost, 0));
    address.replace("BROWSE", QString::number(FSandbox->Server().BrowsePort()));
    address.replace("QUIET", QString::number(quiet.localPort()));
    FSandbox->Server().SetBrowseMalformed(malformedFirst);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TORVANE_BROWSE_ADDRESS", address);
    int code = -1;
    QString output;
    QString errors;
    QVERIFY(Run({"--list-servers"}, environment, code, output, errors));
    QString expected;
    if (found) {
        for (const std::string& name : FSandbox->Server().BrowseServerNames())
            expected += QString::fromStdString(name) + '\n';
    }
    QCOMPARE(output, expected);
    QCOMPARE(errors, error);
    QCOMPARE(code, exitCode);
}

// A responder on the network may name its server anything: every name stays one line,
// its control characters escaped, and a name found again (in any case) is listed once.
void TestLogonCommandLine::hostileNamesStayOneLineEach()
{
    const int responder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(responder >= 0);
    const auto closeResponder = qScopeGuard([&] { ::close(responder); });
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QCOMPARE(::bind(responder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    QCOMPARE(::getsockname(responder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::string records = "ServerName;evil\r\nfake-server;InstanceName;MSSQLSERVER;tcp;1433;;"
                          "ServerName;bell\x07\x1b[31mred;InstanceName;I1;;"
                          "ServerName;c1\xc2\x9b" "2J;InstanceName;MSSQLSERVER;;";
    for (int i = 0; i < 300; ++i)
        records += "ServerName;DUP;InstanceName;X;;ServerName;dup;InstanceName;x;;";
    std::string datagram(1, '\x05'); // the answer, its length and its records
    datagram += static_cast<char>(records.size() & 0xff);
    datagram += static_cast<char>(records.size() >> 8);
    datagram += records;
    std::thread answer([&] {
        pollfd waiting{responder, POLLIN, 0};
        if (::poll(&waiting, 1, 30000) != 1)
            return;
        char request[16];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        if (::recvfrom(responder, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLength) > 0)
            ::sendto(responder, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    });
    const auto joinAnswer = qScopeGuard([&] { answer.join(); });

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TORVANE_BROWSE_ADDRESS", QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port)));
    int code = -1;
    QString output;
    QString errors;
    QVERIFY(Run({"--list-servers"}, environment, code, output, errors));
    QCOMPARE(output, QString::fromUtf8("evil\\r\\nfake-server\n"
                                       "bell\\x07\\x1b[31mred\\I1\n"
                                       "c1\\u009b2J\n"
                                       "DUP\\X\n"));
    QCOMPARE(errors, QString());
    QCOMPARE(code, 0);
}

void TestLogonCommandLine::privateFreeTdsFolderGoesOnEveryExit_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("former"); // what FREETDSCONF names: none, small, big, fifo, /dev/zero
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("warned");

    QTest::newRow("--help") << QStringList{"--help"} << "none" << 0 << false;
    QTest::newRow("--help-all") << QStringList{"--help-all"} << "none" << 0 << false;
    QTest::newRow("unknown option") << QStringList{"--no-such-option"} << "none" << 1 << false;
    QTest::newRow("missing value") << QStringList{"--headless", "--server"} << "none" << 1 << false;
    QTest::newRow("--version with a small freetds.conf") << QStringList{"--version"} << "small" << 0 << false;
    QTest::newRow("a freetds.conf over 1 MB") << QStringList{"--version"} << "big" << 0 << true;
    QTest::newRow("a FIFO") << QStringList{"--version"} << "fifo" << 0 << true;
    QTest::newRow("a device") << QStringList{"--version"} << "/dev/zero" << 0 << true;
}

// The program keeps its freetds.conf in a private temporary folder while it runs; every
// way out takes it away, and only a plain file of a sane size is copied into it.
void TestLogonCommandLine::privateFreeTdsFolderGoesOnEveryExit()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, former);
    QFETCH(int, exitCode);
    QFETCH(bool, warned);
    QTemporaryDir temporary;
    QTemporaryDir formerFolder;
    QVERIFY(temporary.isValid() && formerFolder.isValid());
    QString formerPath = former;
    if (former == "small" || former == "big") {
        formerPath = formerFolder.filePath("freetds.conf");
        QFile file(formerPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(former == "small" ? QByteArray("[global]\n") : QByteArray(2 * 1024 * 1024, '#'));
    } else if (former == "fifo") {
        formerPath = formerFolder.filePath("freetds.conf");
        QCOMPARE(::mkfifo(QFile::encodeName(formerPath).constData(), 0600), 0);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temporary.path());
    environment.insert("XDG_RUNTIME_DIR", formerFolder.path()); // Qt's own, not the program's
    environment.remove("FREETDSCONF");
    if (former != "none")
        environment.insert("FREETDSCONF", formerPath);
    int code = -1;
    QString output;
    QString errors;
    QVERIFY(Run(arguments, environment, code, output, errors));
    QCOMPARE(code, exitCode);
    QCOMPARE(errors.contains("FREETDSCONF names"), warned);
    QCOMPARE(QDir(temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

void TestLogonCommandLine::savedLogon_data()
{
    QTest::addColumn<bool>("saved");        // a logon saved for the server
    QTest::addColumn<bool>("savePassword"); // with its password
    QTest::addColumn<QString>("environmentPassword");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // how standard error begins

    QTest::newRow("saved login and password") << true << true << "" << 0 << "";
    QTest::newRow("saved login, password from the environment") << true << false << "torvane" << 0 << "";
    QTest::newRow("saved login, no password anywhere")
        << true << false << "" << 1 << "Could not connect to SERVER: Login failed";
    QTest::newRow("nothing saved for the server")
        << false << false << "torvane" << 2 << "No logon is saved for the server SERVER: give --user NAME";
}

void TestLogonCommandLine::savedLogon()
{
    QFETCH(bool, saved);
    QFETCH(bool, savePassword);
    QFETCH(QString, environmentPassword);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    const TSettingsFixture settings;
    const QString server = QString::fromStdString(FSandbox->ServerName());
    if (saved)
        QVERIFY(TSavedServers().SaveLogon(server, false, TSandboxFixture::Login, TSandboxFixture::Password,
                                          savePassword));
    error.replace("SERVER", server);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TORVANE_PASSWORD", environmentPassword);
    environment.insert("TORVANE_LOGIN_TIMEOUT", "5");
    int code = -1;
    QString output;
    QString errors;
    QVERIFY(Run({"--headless", "--server", server, "--refreshes", "1", "--show", "stats"}, environment, code,
                output, errors));
    QCOMPARE(code, exitCode);
    if (error.isEmpty())
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
    else
        QVERIFY2(errors.startsWith(error), qPrintable(errors));
    QCOMPARE(output.isEmpty(), exitCode != 0);
}

QTEST_GUILESS_MAIN(TestLogonCommandLine)
#include "tst_logoncommandline.moc"
