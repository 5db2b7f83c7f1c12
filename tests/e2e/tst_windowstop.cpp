// The window program ends on SIGTERM and SIGINT whatever is open: here with the logon
// dialog its first start opens, which runs an event loop of its own.

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestWindowStop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void endsWithTheLogonDialogOpen_data();
    void endsWithTheLogonDialogOpen();
};

void TestWindowStop::endsWithTheLogonDialogOpen_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestWindowStop::endsWithTheLogonDialogOpen()
{
    QFETCH(int, signal);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Settings of its own: no saved server, so the logon dialog opens and waits.
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.insert(QStringLiteral("TORVANE_HKLM_FILE"), home.filePath(QStringLiteral("machine.reg")));
    environment.insert(QStringLiteral("TORVANE_HKCU_FILE"), home.filePath(QStringLiteral("user.reg")));
    QProcess torvane;
    torvane.setProcessEnvironment(environment);
    torvane.start(QStringLiteral(TORVANE_EXECUTABLE), QStringList());
    QVERIFY(torvane.waitForStarted(10000));
    // The window shows and its first activation opens the dialog at once.
    QVERIFY2(!torvane.waitForFinished(2000), torvane.readAllStandardError().constData());

    QElapsedTimer stopping;
    stopping.start();
    ::kill(static_cast<pid_t>(torvane.processId()), signal);
    QVERIFY2(torvane.waitForFinished(2000), "still running 2 s after the signal");
    QVERIFY(stopping.elapsed() < 2000);
    QCOMPARE(torvane.exitStatus(), QProcess::NormalExit);
    QCOMPARE(torvane.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestWindowStop)
#include "tst_windowstop.moc"
