// The torvane program's one-shot commands run as a script would run them, against the
// sandbox server through the real ODBC driver: what they print, how they exit, and
// what they leave in the server's process table.

#include "engine/Commonfuncs.h"
#include "engine/Dbaccess.h"
#include "engine/Torvanethread.h"
#include "tests/support/Sandboxfixture.h"

#include <QDateTime>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <set>

namespace {

// A still server: nobody logs on or off by itself. Spid 4 is a system process in Sales.
// Quotes are written \u0027: moc reads a lone quote in a raw string as a character literal.
const char* const Scenario = R"json({
  "accounts": [
    {"login": "sa", "password": "torvane", "databases": "*", "sysadmin": true},
    {"login": "viewer", "password": "viewer", "databases": ["master", "Sales"]}
  ],
  "databases": [{"id": 1, "name": "master"}, {"id": 5, "name": "Sales"}, {"id": 8, "name": "O\u0027Brien"}],
  "rates": {"logon": 0, "logoff": 0, "block": 0, "unblock": 0, "workers": 0},
  "processes": [
    {"spid": 1, "system": true, "login": "sa", "host": "", "cmd": "LAZY WRITER", "status": "background"},
    {"spid": 4, "system": true, "login": "sa", "host": "", "cmd": "TASK MANAGER", "database": "Sales"},
    {"spid": 51, "login": "sa", "host": "WS01", "database": "master", "statement": "select * from sysdatabases"},
    {"spid": 52, "login": "appuser", "host": "APP01", "database": "Sales", "running": true,
     "statement": "SELECT COUNT(*) FROM dbo.Orders"},
    {"spid": 53, "login": "appuser", "host": "", "database": "Sales", "running": true, "object": "usp_ClearStock",
     "statement": "CREATE PROCEDURE dbo.usp_ClearStock AS\r\nBEGIN TRAN\r\nUPDATE dbo.Stock SET Qty = 0\r\nCOMMIT",
     "current": "UPDATE dbo.Stock SET Qty = 0"},
    {"spid": 54, "login": "O\u0027Brien", "host": "", "database": "O\u0027Brien", "statement": "SELECT 1"},
    {"spid": 55, "login": "CORP\\ann", "host": "WS07", "nt_domain": "CORP", "nt_username": "ann",
     "database": "master", "statement": "SELECT 2"}
  ]
})json";

using TSpidSet = std::set<int>;

// The server's own processes; the program's connection may still be closing.
TSpidSet Spids(const sandbox::TSandboxSimulation& simulation)
{
    TSpidSet spids;
    for (const sandbox::ProcessInfo& process : simulation.Processes())
        if (!process.client)
            spids.insert(process.spid);
    return spids;
}

} // namespace

Q_DECLARE_METATYPE(TSpidSet)

class TestOneShotCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void command_data();
    void command();
};

void TestOneShotCommands::command_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password"); // given in TORVANE_PASSWORD
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");
    QTest::addColumn<TSpidSet>("killed");
    QTest::addColumn<bool>("offsetColumn"); // the server has SQL Server 2000 SP 3's stmt_start

    const QString sa = QStringLiteral("sa");
    const QString pw = QStringLiteral("torvane");
    QTest::newRow("kill a process") << sa << pw << QStringList{"--kill-process", "52"} << 0 << "1\n" << ""
                                    << TSpidSet{52} << true;
    QTest::newRow("kill a system process") << sa << pw << QStringList{"--kill-process", "4"} << 0 << "-2\n" << ""
                                           << TSpidSet{} << true;
    QTest::newRow("kill a database's processes")
        << sa << pw << QStringList{"--kill-database", "Sales"} << 0 << "" << "" << TSpidSet{52, 53} << true;
    QTest::newRow("kill a database with a quote")
        << sa << pw << QStringList{"--kill-database", "O'Brien"} << 0 << "" << "" << TSpidSet{54} << true;
    QTest::newRow("kill a user with an empty host")
        << sa << pw << QStringList{"--kill-user", "appuser"} << 0 << "" << "" << TSpidSet{53} << true;
    QTest::newRow("kill a user on one host")
        << sa << pw << QStringList{"--kill-user", "appuser", "--host", "APP01"} << 0 << "" << "" << TSpidSet{52} << true;
    QTest::newRow("kill a windows user")
        << sa << pw << QStringList{"--kill-user", "CORP\\ann", "--nt-domain", "CORP", "--nt-user", "ann", "--host", "WS07"}
        << 0 << "" << "" << TSpidSet{55} << true;
    QTest::newRow("kill a login with a quote")
        << sa << pw << QStringList{"--kill-user", "O'Brien"} << 0 << "" << "" << TSpidSet{54} << true;
    QTest::newRow("input buffer by default")
        << sa << pw << QStringList{"--sql-text", "51"} << 0 << "Language Event\nselect * from sysdatabases\n" << ""
        << TSpidSet{} << true;
    QTest::newRow("running statement")
        << sa << pw << QStringList{"--sql-text", "53", "--source", "statement"} << 0
        << "usp_ClearStock [pos 53:79]\nUPDATE dbo.Stock SET Qty = 0\n" << "" << TSpidSet{} << true;
    QTest::newRow("idle statement")
        << sa << pw << QStringList{"--sql-text", "51", "--source", "statement"} << 0 << "<NONE>\n<NONE>\n" << ""
        << TSpidSet{} << true;
    QTest::newRow("vanished process")
        << sa << pw << QStringList{"--sql-text", "99", "--source", "inputbuffer"} << 0 << "NONE\n<No SQL Found>\n" << ""
        << TSpidSet{} << true;
    QTest::newRow("statement before SP 3")
        << sa << pw << QStringList{"--sql-text", "53", "--source", "statement"} << 0
        << "?\nThis feature requires SQL Server 2000 SP 3 or greater\n" << "" << TSpidSet{} << false;
    QTest::newRow("kill without the right")
        << "viewer" << "viewer" << QStringList{"--kill-process", "52"} << 1 << ""
        << "User does not have permission to use the KILL statement.\n" << TSpidSet{} << true;
    QTest::newRow("database kill without the right")
        << "viewer" << "viewer" << QStringList{"--kill-database", "Sales"} << 1 << ""
        << "User does not have permission to use the KILL statement.\n" << TSpidSet{} << true;
    QTest::newRow("wrong password")
        << sa << "wrong" << QStringList{"--kill-database", "Sales"} << 1 << ""
        << "Could not connect to SERVER: Login failed for user 'sa'.\n"
        << TSpidSet{} << true;
    QTest::newRow("bad process id")
        << sa << pw << QStringList{"--kill-process", "52x"} << 2 << ""
        << "--kill-process takes a process id (SPID) from 1 to 32767.\n" << TSpidSet{} << true;
    QTest::newRow("bad source")
        << sa << pw << QStringList{"--sql-text", "52", "--source", "memory"} << 2 << ""
        << "--source takes inputbuffer or statement.\n" << TSpidSet{} << true;
    // LOGON stands for the time process 52 logged on (yyyy-MM-dd hh:mm:ss), SHOWN for the
    // same as the program shows times.
    QTest::newRow("kill the process that logged on then")
        << sa << pw << QStringList{"--kill-process", "52", "--login-time", "LOGON"} << 0 << "1\n" << ""
        << TSpidSet{52} << true;
    QTest::newRow("kill when the spid went to another logon")
        << sa << pw << QStringList{"--kill-process", "52", "--login-time", "2001-02-03 04:05:06"} << 1 << ""
        << "Process 52 is no longer the one shown (it logged on again at SHOWN); nothing was killed.\n" << TSpidSet{}
        << true;
    QTest::newRow("login time not a time")
        << sa << pw << QStringList{"--kill-process", "52", "--login-time", "yesterday"} << 2 << ""
        << "--login-time takes the time the process logged on, as yyyy-MM-dd hh:mm:ss or as the process list shows "
           "it.\n"
        << TSpidSet{} << true;
    QTest::newRow("login time without kill-process")
        << sa << pw << QStringList{"--kill-database", "Sales", "--login-time", "2001-02-03 04:05:06"} << 2 << ""
        << "--login-time goes with --kill-process.\n" << TSpidSet{} << true;
    QTest::newRow("host without kill-user")
        << sa << pw << QStringList{"--kill-database", "Sales", "--host", "APP01"} << 2 << ""
        << "--nt-domain, --nt-user and --host go with --kill-user.\n" << TSpidSet{} << true;
}

void TestOneShotCommands::command()
{
    QFETCH(QString, login);
    QFETCH(QString, password);
    QFETCH(QStringList, arguments);
    QFETCH(TSpidSet, killed);
    QFETCH(QString, error);
    QFETCH(bool, offsetColumn);
    TSandboxFixture sandbox(Scenario);
    QVERIFY2(sandbox.Started(), sandbox.Error().c_str());
    sandbox.Simulation().SetStatementOffsetColumn(offsetColumn);
    TSpidSet expected = Spids(sandbox.Simulation());
    for (const int spid : killed)
        expected.erase(spid);

    if (arguments.contains("LOGON") || error.contains("SHOWN")) {
        TDbConnection connection;
        connection.SetConnectionString(
            TTorvaneThread::BuildConnectionString(sandbox.ServerName(), false, "sa", "torvane"));
        connection.Open();
        TDbQuery query(connection);
        query.SetCommandText("select login_time from sysprocesses where spid = 52 and ecid = 0");
        query.Open();
        const TDateTime logon = query.AsDateTime("login_time");
        arguments.replaceInStrings("LOGON", QDateTime(DateOf(logon), TimeOf(logon)).toString("yyyy-MM-dd HH:mm:ss"));
        error.replace("SHOWN", QString::fromStdString(DateTimeToText(logon)));
    }

    QProcess torvane;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TORVANE_PASSWORD"), password);
    torvane.setProcessEnvironment(environment);
    torvane.start(QStringLiteral(TORVANE_EXECUTABLE),
                  QStringList{"--server", QString::fromStdString(sandbox.ServerName()), "--user", login} + arguments);
    QVERIFY(torvane.waitForFinished(60000));
    QCOMPARE(torvane.exitStatus(), QProcess::NormalExit);
    // SERVER in an expected message stands for the sandbox's name.
    QCOMPARE(QString::fromUtf8(torvane.readAllStandardError()),
             QString(error).replace(QStringLiteral("SERVER"), QString::fromStdString(sandbox.ServerName())));
    QTEST(QString::fromUtf8(torvane.readAllStandardOutput()), "output");
    QTEST(torvane.exitCode(), "exitCode");
    QCOMPARE(Spids(sandbox.Simulation()), expected);
}

QTEST_GUILESS_MAIN(TestOneShotCommands)
#include "tst_oneshotcommands.moc"
