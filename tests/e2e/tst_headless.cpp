// torvane --headless as a script runs it, against a sandbox server in this process.

#include "tests/support/Sandboxfixture.h"
#include "tests/support/Testscenario.h"

#include <QTcpServer>
#include <QtTest>

#include <algorithm>
#include <csignal>

#include <sys/resource.h>

class TestHeadless : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void runs_data();
    void runs();
    void severalServers();
    void blockingTreeAndFilter_data();
    void blockingTreeAndFilter();
    void lostServerIsReportedAndReconnected();
    void interruptStopsCleanly();
    void stopWhileTheProbeWaits_data();
    void stopWhileTheProbeWaits();
    void controlCharactersStayInTheirCell_data();
    void controlCharactersStayInTheirCell();
    void passwordAndMemoryStayPrivate_data();
    void passwordAndMemoryStayPrivate();

private:
    void StartMonitor(QProcess& process, const QStringList& arguments, const QString& password = "torvane",
                      const QString& queryTimeout = QStringLiteral("3"),
                      const QStringList& environment = {}) const;

    QTemporaryDir Settings;
    std::unique_ptr<TSandboxFixture> Sandbox;
};

void TestHeadless::initTestCase()
{
    Sandbox = std::make_unique<TSandboxFixture>(QuietScenarioJson);
    QVERIFY2(Sandbox->Started(), Sandbox->Error().c_str());
}

void TestHeadless::StartMonitor(QProcess& process, const QStringList& arguments, const QString& password,
                                const QString& queryTimeout, const QStringList& extraEnvironment) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& setting : extraEnvironment)
        environment.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    environment.insert(QStringLiteral("TORVANE_PASSWORD"), password);
    environment.insert(QStringLiteral("TORVANE_HKLM_FILE"), Settings.filePath(QStringLiteral("machine.reg")));
    environment.insert(QStringLiteral("TORVANE_HKCU_FILE"), Settings.filePath(QStringLiteral("user.reg")));
    environment.insert(QStringLiteral("TORVANE_QUERY_TIMEOUT"), queryTimeout);
    environment.insert(QStringLiteral("TORVANE_LOGIN_TIMEOUT"), QStringLiteral("3"));
    environment.remove(QStringLiteral("TORVANE_ODBC_DRIVER"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TORVANE_EXECUTABLE),
                  QStringList{QStringLiteral("--headless"), QStringLiteral("--server"),
                              QString::fromStdString(Sandbox->ServerName())}
                      + arguments);
}

void TestHeadless::runs_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("tableHeader"); // each table's first line
    QTest::addColumn<int>("tables");
    QTest::addColumn<QString>("error"); // a line standard error must hold

    QTest::newRow("three refreshes of the processes")
        << QStringList{"--user", "sa", "--refreshes", "3", "--show", "processes", "--interval", "1"} << "torvane" << 0
        << "\tSPID\tLogin\tDatabase\tCommand\tProgram\tBlocked\tLogin Time\tLast Batch\tCPU Usage\tMemory Usage"
           "\tPhysical IO\tWait time\tOpen Trans\tThreads\tHost Process"
        << 3 << "";
    QTest::newRow("users") << QStringList{"--user", "sa", "--refreshes", "2", "--show", "users", "--interval", "1"}
                           << "torvane" << 0
                           << "\tCurrent Users\tHost\t#Procs\tLatest Activity\tCPU Usage\tMemory Usage\tPhysical IO"
                              "\tLocked\tNT Login Name\tNet Library\tNet Address"
                           << 2 << "";
    QTest::newRow("stats") << QStringList{"--user", "sa", "--refreshes", "2", "--show", "stats", "--interval", "1"}
                           << "torvane" << 0
                           << "Timestamp\tCPU\tResponse\tUsers\tSessions\tNetworkSent\tNetworkReceived"
                              "\tNetworkErrored\tDiskRead\tDiskWrite\tDiskError"
                           << 2 << "";
    QTest::newRow("password with every awkward character")
        << QStringList{"--user", OddPasswordLogin, "--refreshes", "1", "--show", "databases"} << OddPassword << 0
        << "\tDatabase\t#Procs\tLatest Activity\tCPU Usage\tMemory Usage\tPhysical IO\tLocked" << 1 << "";
    QTest::newRow("wrong password") << QStringList{"--user", "sa", "--refreshes", "1"} << "wrong" << 1 << "" << 0
                                    << "Could not connect to " + QString::fromStdString(Sandbox->ServerName())
                                           + ": Login failed for user 'sa'.";
    QTest::newRow("filter without a table it applies to")
        << QStringList{"--user", "sa", "--show", "stats", "--filter", "x"} << "torvane" << 2 << "" << 0
        << "--filter goes with --show users, databases or processes.";
    QTest::newRow("interval out of range") << QStringList{"--user", "sa", "--interval", "0"} << "torvane" << 2 << ""
                                           << 0 << "--interval takes a whole number from 1 to 100.";
    // Without credentials the server's saved logon is used; none is saved here.
    QTest::newRow("no way to log on") << QStringList{"--refreshes", "1"} << "torvane" << 2 << "" << 0
                                      << "No logon is saved for the server " + QString::fromStdString(Sandbox->ServerName())
                                             + ": give --user NAME (password in TORVANE_PASSWORD) or --windows-auth.";
    const QString server = QString::fromStdString(Sandbox->ServerName());
    QTest::newRow("two ways to log on")
        << QStringList{"--user", "sa", "--windows-auth"} << "torvane" << 2 << "" << 0
        << QStringLiteral("Give the server %1 either --user NAME (password in TORVANE_PASSWORD) or --windows-auth.")
               .arg(server);
    QTest::newRow("the same server twice")
        << QStringList{"--user", "sa", "--server", " " + server + " ", "--user", "sa"} << "torvane" << 2 << "" << 0
        << QStringLiteral("The server  %1  is named more than once.").arg(server);
    QStringList tooMany{"--user", "sa"};
    for (int i = 1; i <= 25; ++i)
        tooMany << "--server" << QStringLiteral("db%1").arg(i) << "--user" << "sa";
    QTest::newRow("26 servers") << tooMany << "torvane" << 2 << "" << 0
                                << "At most 25 servers can be monitored at once.";
    QTest::newRow("metrics address without a port")
        << QStringList{"--user", "sa", "--metrics-listen", "127.0.0.1"} << "torvane" << 2 << "" << 0
        << "--metrics-listen takes HOST:PORT: an IPv4 address or host name, and a port from 0 to 65535 (0 picks a "
           "free one).";
    QTest::newRow("metrics on every interface")
        << QStringList{"--user", "sa", "--refreshes", "1", "--show", "stats", "--metrics-listen", "0.0.0.0:0"}
        << "torvane" << 0 << "" << 0
        << "Warning: the metrics are served on every network interface of this machine, to anyone who can reach "
           "it, without authentication.";
    QTest::newRow("metrics port in use")
        << QStringList{"--user", "sa", "--metrics-listen", QStringLiteral("127.0.0.1:%1").arg(Sandbox->Port())}
        << "torvane" << 1 << "" << 0
        << QStringLiteral("Cannot serve metrics on 127.0.0.1:%1: the port is in use or the host is not an IPv4 "
                          "address of this machine.")
               .arg(Sandbox->Port());
}

void TestHeadless::runs()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, password);
    QFETCH(int, exitCode);
    QFETCH(QString, tableHeader);
    QFETCH(int, tables);
    QFETCH(QString, error);

    QProcess monitor;
    StartMonitor(monitor, arguments, password);
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 60000);
    const QStringList out = QString::fromUtf8(monitor.readAllStandardOutput()).split(QLatin1Char('\n'));
    const QStringList err = QString::fromUtf8(monitor.readAllStandardError()).split(QLatin1Char('\n'));
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QVERIFY2(monitor.exitCode() == exitCode, qPrintable(err.join(QLatin1Char('\n'))));
    if (!error.isEmpty())
        QVERIFY2(err.contains(error), qPrintable(err.join(QLatin1Char('\n'))));
    QCOMPARE(tableHeader.isEmpty() ? 0 : out.count(tableHeader), tables);
}

void TestHeadless::blockingTreeAndFilter_data()
{
    QTest::addColumn<QStringList>("arguments");
    // The first lines, from the table's caption on; a leading "?" stands for a state
    // letter, "{n}" for a number that moves (a wait time).
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("blocking chains: the lead blocker, then who waits for it")
        << QStringList{"--show", "blocking"}
        << QStringList{"SPID\tWaiting\tWait time\tWait type\tWait resource\tLogin",
                       "54 lead blocker\t1\t\tWRITELOG\t\tAPPUSER",
                       "  55\t\t{n}\tLCK_M_X\tKEY: 6:72057594038321152 (8194443284a0)\tappuser", ""};
    QTest::newRow("processes whose program contains the text, any case")
        << QStringList{"--show", "processes", "--filter", "STOCKservice"}
        << QStringList{"\tSPID\tLogin\tDatabase\tCommand\tProgram\tBlocked\tLogin Time\tLast Batch\tCPU Usage"
                       "\tMemory Usage\tPhysical IO\tWait time\tOpen Trans\tThreads\tHost Process",
                       "?\t54\tAPPUSER\tInventory\tUPDATE\tStockService\t0",
                       "L\t55\tappuser\tInventory\tUPDATE\tStockService\t54", ""};
    QTest::newRow("users whose host contains the text, folded beyond ASCII")
        << QStringList{"--show", "users", "--filter", "müller-nb"}
        << QStringList{"\tCurrent Users\tHost\t#Procs\tLatest Activity\tCPU Usage\tMemory Usage\tPhysical IO"
                       "\tLocked\tNT Login Name\tNet Library\tNet Address",
                       "?\tCORP\\jmüller\tMÜLLER-NB", ""};
}

void TestHeadless::blockingTreeAndFilter()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, lines);
    QProcess monitor;
    StartMonitor(monitor, QStringList{"--user", "sa", "--refreshes", "1"} + arguments);
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 60000);
    const QStringList out = QString::fromUtf8(monitor.readAllStandardOutput()).split(QLatin1Char('\n'));
    QVERIFY2(monitor.exitCode() == 0, monitor.readAllStandardError().constData());
    QVERIFY2(out.size() >= lines.size(), qPrintable(out.join(QLatin1Char('\n'))));
    // Rows are compared up to the length expected: counters and times move.
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QStringList parts;
        for (const QString& part : lines[i].split(QStringLiteral("{n}")))
            parts << QRegularExpression::escape(part);
        QString pattern = parts.join(QStringLiteral("\\d+"));
        if (pattern.startsWith(QStringLiteral("\\?")))
            pattern = QStringLiteral("[A-Z]") + pattern.mid(2);
        const QRegularExpression line(QStringLiteral("^") + pattern +
                                      (lines[i].isEmpty() ? QStringLiteral("$") : QString()));
        QVERIFY2(line.match(out[i]).hasMatch(), qPrintable(out[i] + QStringLiteral(" / ") + pattern));
    }
}

void TestHeadless::severalServers()
{
    // Each table is headed by its server; a server that cannot be reached is reported
    // once, tried again, and holds back neither the others nor the end.
    const TSandboxFixture second(QuietScenarioJson);
    QVERIFY2(second.Started(), second.Error().c_str());
    quint16 deadPort = 0;
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        deadPort = closed.serverPort();
    }
    const QString first = QString::fromStdString(Sandbox->ServerName());
    const QString dead = QStringLiteral("127.0.0.1,%1").arg(deadPort);
    QProcess monitor;
    StartMonitor(monitor, {"--user", "sa", "--server", QString::fromStdString(second.ServerName()), "--user",
                           "sa", "--server", dead, "--user", "sa", "--refreshes", "3", "--show", "stats",
                           "--interval", "1"});
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 60000);
    const QStringList out = QString::fromUtf8(monitor.readAllStandardOutput()).split(QLatin1Char('\n'));
    const QStringList err = QString::fromUtf8(monitor.readAllStandardError()).split(QLatin1Char('\n'));
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QVERIFY2(monitor.exitCode() == 1, qPrintable(err.join(QLatin1Char('\n'))));
    for (const QString& server : {first, QString::fromStdString(second.ServerName())}) {
        const qsizetype heading = out.indexOf(QLatin1Char('[') + server + QLatin1Char(']'));
        QVERIFY2(heading >= 0, qPrintable(server));
        QVERIFY(out.value(heading + 1).startsWith(QStringLiteral("Timestamp\tCPU")));
        QCOMPARE(out.count(QLatin1Char('[') + server + QLatin1Char(']')), 3);
    }
    QCOMPARE(out.count(QLatin1Char('[') + dead + QLatin1Char(']')), 0);
    const auto aboutDead = [&](const QString& line) {
        return line.startsWith(QLatin1Char('[') + dead + "] ");
    };
    QCOMPARE(std::count_if(err.begin(), err.end(), aboutDead), 1);
}

void TestHeadless::lostServerIsReportedAndReconnected()
{
    QProcess monitor;
    StartMonitor(monitor, {"--user", "sa", "--show", "stats", "--interval", "1"});
    QString out;
    QString err;
    const auto readOutput = [&] {
        out += QString::fromUtf8(monitor.readAllStandardOutput());
        err += QString::fromUtf8(monitor.readAllStandardError());
    };
    QTRY_VERIFY_WITH_TIMEOUT((readOutput(), out.contains(QStringLiteral("Timestamp"))), 30000);
    Sandbox->Server().Hang(0);
    QTRY_VERIFY_WITH_TIMEOUT((readOutput(), err.contains(QStringLiteral("Disconnected "))), 30000);
    QCOMPARE(err.count(QStringLiteral("Disconnected ")), 1);
    Sandbox->Server().Resume();
    QTRY_VERIFY_WITH_TIMEOUT((readOutput(), err.contains(QStringLiteral("Reconnected "))), 30000);
    // It refreshes on after reconnecting.
    const int tablesBefore = out.count(QStringLiteral("Timestamp"));
    QTRY_VERIFY_WITH_TIMEOUT((readOutput(), out.count(QStringLiteral("Timestamp")) > tablesBefore), 30000);
    monitor.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 30000);
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), 0);
}

void TestHeadless::interruptStopsCleanly()
{
    QProcess monitor;
    StartMonitor(monitor, {"--user", "sa", "--show", "processes", "--interval", "1"});
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(monitor.readAllStandardOutput()), out.contains("\tSPID\t")),
                             30000);
    ::kill(static_cast<pid_t>(monitor.processId()), SIGINT);
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 30000);
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), 0);
}

void TestHeadless::stopWhileTheProbeWaits_data()
{
    QTest::addColumn<int>("signals");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("one signal: a clean stop") << 1 << 0;
    QTest::newRow("a second signal: at once") << 2 << 130;
}

void TestHeadless::stopWhileTheProbeWaits()
{
    // The monitor thread is blocked inside the driver waiting for a probe the server
    // holds back, with the usual 30-second query time-out: a signal still ends the
    // program long before that (the thread is abandoned), and a second one at once.
    QFETCH(int, signals);
    QFETCH(int, exitCode);
    QProcess monitor;
    StartMonitor(monitor, {"--user", "sa", "--show", "stats", "--interval", "1"}, "torvane", "30");
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(monitor.readAllStandardOutput()), out.contains("Timestamp")),
                             30000);
    const int probes = Sandbox->BatchCount("SELECT 1");
    Sandbox->Simulation().SetProbeDelayMs(120000);
    const auto answer = qScopeGuard([this] { Sandbox->Simulation().SetProbeDelayMs(0); });
    QTRY_VERIFY_WITH_TIMEOUT(Sandbox->BatchCount("SELECT 1") > probes, 30000);
    QElapsedTimer stopping;
    stopping.start();
    for (int i = 0; i < signals; ++i) {
        // A signal that is still pending takes up a second one of its kind: wait until
        // the first has been read.
        if (i > 0)
            QTest::qWait(300);
        ::kill(static_cast<pid_t>(monitor.processId()), SIGTERM);
    }
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 30000);
    // Far below the query time-out the program would otherwise wait for.
    QVERIFY2(stopping.elapsed() < 10000, QByteArray::number(stopping.elapsed()).constData());
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), exitCode);
}

void TestHeadless::controlCharactersStayInTheirCell_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("cell"); // what the client's names show as

    QTest::newRow("processes") << "processes"
                               << "evil prog  99 sa fake x y";
    QTest::newRow("users") << "users"
                           << "ctl user";
}

void TestHeadless::controlCharactersStayInTheirCell()
{
    QFETCH(QString, table);
    QFETCH(QString, cell);

    // Names a client chose, with a tab, a line break, C0 and C1 controls and a line separator.
    sandbox::ProcessSpec spec;
    spec.login = "ctl\x01user";
    spec.hostName = std::string("HOST\x1b[2J");
    spec.programName = "evil\tprog\r\n99\tsa\tfake\xc2\x85x\xe2\x80\xa8y";
    const int spid = Sandbox->Simulation().AddProcess(spec);
    QVERIFY(spid > 0);
    const auto remove = qScopeGuard([&] { Sandbox->Simulation().RemoveProcess(spid); });

    QProcess monitor;
    StartMonitor(monitor, {"--user", "sa", "--refreshes", "1", "--show", table});
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 60000);
    QCOMPARE(monitor.exitCode(), 0);
    // Tables are followed by an empty line.
    const QStringList lines =
        QString::fromUtf8(monitor.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const qsizetype fields = lines.first().count(QLatin1Char('\t'));
    QStringList rows;
    for (const QString& line : lines) {
        QVERIFY2(line.count(QLatin1Char('\t')) == fields, qPrintable(line));
        if (line.split(QLatin1Char('\t')).contains(cell))
            rows.append(line);
    }
    QCOMPARE(rows.size(), 1);
    QVERIFY2(rows.first().contains("HOST [2J") || table != "users", qPrintable(rows.first()));
}

void TestHeadless::passwordAndMemoryStayPrivate_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<bool>("coreDumps");

    QTest::newRow("core dumps off") << QStringList() << false;
    QTest::newRow("core dumps asked for") << QStringList("TORVANE_CORE_DUMPS=1") << true;
}

void TestHeadless::passwordAndMemoryStayPrivate()
{
    QFETCH(QStringList, environment);
    QFETCH(bool, coreDumps);

    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_CORE, &limit), 0);
    if (coreDumps && limit.rlim_max == 0)
        QSKIP("This system allows no core dumps to begin with");
    QProcess monitor;
    // Started with core dumps allowed as far as the system lets a program have them.
    monitor.setChildProcessModifier([max = limit.rlim_max] {
        const rlimit allowed{max, max};
        ::setrlimit(RLIMIT_CORE, &allowed);
    });
    const QByteArray password = OddPassword;
    StartMonitor(monitor, {"--user", OddPasswordLogin, "--show", "stats", "--interval", "1"}, password,
                 QStringLiteral("3"), environment);
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT(
        (out += QString::fromUtf8(monitor.readAllStandardOutput()), out.contains("Timestamp")), 30000);
    const QString proc = QStringLiteral("/proc/%1/").arg(monitor.processId());
    QFile environ(proc + "environ");
    // A process that is not dumpable shows its environment to root alone.
    QVERIFY(environ.open(QIODevice::ReadOnly) || !coreDumps);
    const QByteArray variables = environ.readAll();
    QFile limits(proc + "limits");
    QVERIFY(limits.open(QIODevice::ReadOnly));
    const QString coreLine = QString::fromUtf8(limits.readAll())
                                 .split(QLatin1Char('\n'))
                                 .filter(QStringLiteral("Max core file size"))
                                 .value(0);
    monitor.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 30000);

    // Logged on with it, yet neither the variable nor its value is left in the environment.
    QVERIFY(!variables.contains(password));
    const QStringList figures = coreLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY2(figures.size() >= 6, qPrintable(coreLine));
    const QString expected =
        limit.rlim_max == RLIM_INFINITY ? QStringLiteral("unlimited") : QString::number(limit.rlim_max);
    QCOMPARE(figures[4], coreDumps ? expected : QStringLiteral("0"));
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
