// The program installed into a temporary prefix with cmake --install, as a user or a
// package would have it: the files in their usual places, a valid desktop entry, the
// manual found from the installed program, and the installed programs started.

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
    void sandboxStarts();

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
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n'))
        if (const qsizetype equals = line.indexOf(u'='); equals > 0)
            keys.insert(line.first(equals), line.sliced(equals + 1));
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

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
