// The program installed into a temporary prefix with cmake --install, as a user or a
// package would have it: the files in their usual places, a valid desktop entry, the
// manual found from the installed program, and the installed programs started: the
// version, the help, the sandbox server, and the window on it (--demo) under Xvfb.

#include "tests/support/Commandrun.h"
#include "ui/Manual.h"

#include <QtTest>

class TestInstall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void files_data();
    void files();
    void desktopEntry();
    void manualFoundFromTheInstalledProgram();
    void version();
    void help();
    void sandboxStarts();
    void demoWindow();

private:
    QTemporaryDir Prefix;
    QString Installed(const QString& path) const { return Prefix.filePath(path); }
};

void TestInstall::initTestCase()
{
    QVERIFY(Prefix.isValid());
    const TCommandResult install = RunCommand(QStringLiteral(TORVANE_CMAKE),
                                              {QStringLiteral("--install"), QStringLiteral(TORVANE_BUILD_DIR),
                                               QStringLiteral("--prefix"), Prefix.path()});
    QVERIFY2(install.Succeeded, QByteArray(install.Output + install.Errors).constData());
}

void TestInstall::files_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    QTest::newRow("program") << "bin/torvane" << true;
    QTest::newRow("sandbox") << "bin/torvane-sandbox" << true;
    QTest::newRow("manual") << "share/torvane/manual.html" << false;
    QTest::newRow("desktop entry") << "share/applications/torvane.desktop" << false;
    QTest::newRow("icon") << "share/icons/hicolor/scalable/apps/torvane.svg" << false;
}

void TestInstall::files()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    const QFileInfo file(Installed(path));

    QVERIFY2(file.isFile(), qPrintable(path));
    QCOMPARE(file.isExecutable(), executable);
}

// Valid for the desktop, and what it starts and shows is installed beside it.
void TestInstall::desktopEntry()
{
    const QString entry = Installed(QStringLiteral("share/applications/torvane.desktop"));
    const TCommandResult validate = RunCommand(QStringLiteral("desktop-file-validate"), {entry});
    QVERIFY2(validate.Succeeded && validate.Output.isEmpty(),
             QByteArray(validate.Output + validate.Errors).constData());

    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QMap<QString, QString> keys;
    // The main group only; the actions after it have keys of the same names.
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n').mid(1)) {
        if (line.startsWith(u'['))
            break;
        if (const qsizetype equals = line.indexOf(u'='); equals > 0)
            keys.insert(line.first(equals), line.sliced(equals + 1));
    }
    QCOMPARE(keys.value(QStringLiteral("Categories")), QStringLiteral("System;Monitor;"));
    QVERIFY(QFileInfo(Installed(u"bin/" + keys.value(QStringLiteral("Exec")).section(u' ', 0, 0)))
                .isExecutable());
    QVERIFY(QFileInfo::exists(
        Installed(u"share/icons/hicolor/scalable/apps/" + keys.value(QStringLiteral("Icon")) + u".svg")));
}

void TestInstall::manualFoundFromTheInstalledProgram()
{
    QCOMPARE(FindManual(Installed(QStringLiteral("bin"))),
             Installed(QStringLiteral("share/torvane/manual.html")));
}

void TestInstall::version()
{
    const TCommandResult version =
        RunCommand(Installed(QStringLiteral("bin/torvane")), {QStringLiteral("--version")});

    QVERIFY2(version.Succeeded, version.Errors.constData());
    QCOMPARE(version.Output, QByteArray("Torvane Version 1.3.0 Build 40\n"));
}

// Every mode on a line of its own, every option on one line.
void TestInstall::help()
{
    const TCommandResult help =
        RunCommand(Installed(QStringLiteral("bin/torvane")), {QStringLiteral("--help")});
    QVERIFY2(help.Succeeded, help.Errors.constData());
    const QStringList lines = QString::fromUtf8(help.Output).split(u'\n');

    const qsizetype modes =
        lines.indexOf(QStringLiteral("Modes (the password of --user comes from TORVANE_PASSWORD):"));
    const qsizetype options = lines.indexOf(QStringLiteral("Options:"));
    QVERIFY(modes > 0 && options > modes);
    const QStringList modeLines = lines.mid(modes + 1, options - modes - 2);
    for (const char* mode : {"--windows-auth)]...", "--demo", "--headless", "--kill-process",
                             "--kill-database", "--kill-user", "--sql-text"})
        QVERIFY2(modeLines.filter(QLatin1StringView(mode)).size() == 1, mode);
    QStringList optionLines = lines.mid(options + 1);
    optionLines.removeAll(QString());
    for (const QString& line : optionLines)
        QVERIFY2(line.startsWith(u"  -"), qPrintable(u"continued over two lines: " + line));
    QVERIFY(!optionLines.filter(QStringLiteral("--version")).isEmpty());
}

void TestInstall::sandboxStarts()
{
    QProcess sandbox;
    QByteArray output;
    connect(&sandbox, &QProcess::readyReadStandardOutput, this,
            [&] { output += sandbox.readAllStandardOutput(); });
    sandbox.start(Installed(QStringLiteral("bin/torvane-sandbox")),
                  {QStringLiteral("--port"), QStringLiteral("0")});

    QTRY_VERIFY_WITH_TIMEOUT(output.startsWith("port "), 10000);
    sandbox.terminate();
    QVERIFY(sandbox.waitForFinished(10000));
    QCOMPARE(sandbox.exitStatus(), QProcess::NormalExit);
}

// The installed program opens its window on the built-in sandbox server through Qt's
// real X11 platform plugin, keeps refreshing, and ends cleanly on SIGTERM.
void TestInstall::demoWindow()
{
    QProcess xvfb;
    QByteArray displayNumber;
    connect(&xvfb, &QProcess::readyReadStandardOutput, this,
            [&] { displayNumber += xvfb.readAllStandardOutput(); });
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    QTRY_VERIFY_WITH_TIMEOUT(displayNumber.endsWith('\n'), 20000);
    const QString display = u':' + QString::fromLatin1(displayNumber.trimmed());

    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // Settings of its own, so the user's saved servers and interval play no part.
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.insert(QStringLiteral("TORVANE_HKLM_FILE"), home.filePath(QStringLiteral("machine.reg")));
    environment.insert(QStringLiteral("TORVANE_HKCU_FILE"), home.filePath(QStringLiteral("user.reg")));
    QProcess torvane;
    torvane.setProcessEnvironment(environment);
    torvane.start(Installed(QStringLiteral("bin/torvane")), {QStringLiteral("--demo")});

    const auto windowShown = [&] {
        return RunCommand(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--name"), QStringLiteral("Velquin SQL Server Monitor")},
                          environment)
            .Succeeded;
    };
    QTRY_VERIFY_WITH_TIMEOUT(windowShown() || torvane.state() == QProcess::NotRunning, 20000);
    QVERIFY2(torvane.state() == QProcess::Running, torvane.readAllStandardError().constData());
    // A few seconds of refreshes on the living sandbox.
    QVERIFY2(!torvane.waitForFinished(4000), torvane.readAllStandardError().constData());
    torvane.terminate();
    QVERIFY(torvane.waitForFinished(10000));
    QCOMPARE(torvane.exitStatus(), QProcess::NormalExit);
    QCOMPARE(torvane.exitCode(), 0);

    xvfb.terminate();
    QVERIFY(xvfb.waitForFinished(10000));
}

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
