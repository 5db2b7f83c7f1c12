// The torvane program's use of the network search and of the saved logons, run as a
// script runs it: --list-servers against the sandbox's server browser on loopback, and
// --server without credentials logging on with what the logon dialog saved.

#include "settings/Savedservers.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Settingsfixture.h"

#include <QProcess>
#include <QtTest>
#include <QUdpSocket>

class TestLogonCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void listServers_data();
    void listServers();
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
