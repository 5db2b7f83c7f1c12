// The program installed into a temporary prefix with cmake --install, as a user or a
// package would have it: the files in their usual places, a valid desktop entry and
// AppStream metadata, icons rendered at every size, man pages that describe every
// option, the manual found from the installed program, and the installed programs
// started: the version, the help, the sandbox server, and the window on it (--demo)
// under Xvfb.

#include "tests/support/Commandrun.h"
#include "ui/Manual.h"

#include <QImage>
#include <QtTest>
#include <QXmlStreamReader>

namespace {

const QString AppId = QStringLiteral("com.velquin.torvane");

// The keys of a desktop entry's main group; the actions after it have keys of the
// same names.
QMap<QString, QString> DesktopEntryKeys(const QString& path)
{
    QFile file(path);
    QMap<QString, QString> keys;
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n').mid(1)) {
        if (line.startsWith(u'['))
            break;
        if (const qsizetype equals = line.indexOf(u'='); equals > 0)
            keys.insert(line.first(equals), line.sliced(equals + 1));
    }
    return keys;
}

// Options are the words that begin with one or two dashes (not a dash inside a word).
QSet<QString> Options(const QString& text)
{
    static const QRegularExpression Option(QStringLiteral("(?<![\\w-])--?[A-Za-z][\\w-]*"));
    QSet<QString> options;
    for (QRegularExpressionMatchIterator it = Option.globalMatch(text); it.hasNext();)
        options.insert(it.next().captured());
    return options;
}

// The options a man page describes: those in the headings of its tagged paragraphs
// (the line after .TP), troff's escaped dashes and font changes read as plain text.
QSet<QString> DescribedOptions(const QString& troff)
{
    static const QRegularExpression Font(QStringLiteral("\\\\f[BIRP]"));
    QString headings;
    const QStringList lines = troff.split(u'\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i - 1].startsWith(u".TP"))
            headings +=
                QString(lines[i]).replace(QStringLiteral("\\-"), QStringLiteral("-")).remove(Font) + u'\n';
    }
    return Options(headings);
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void files_data();
    void files();
    void desktopEntry();
    void icons_data();
    void icons();
    void appstreamMetadata();
    void manPageDescribesEveryOption_data();
    void manPageDescribesEveryOption();
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
    QTest::newRow("desktop entry") << "share/applications/com.velquin.torvane.desktop" << false;
    QTest::newRow("appstream") << "share/metainfo/com.velquin.torvane.metainfo.xml" << false;
    QTest::newRow("icon") << "share/icons/hicolor/scalable/apps/torvane.svg" << false;
    QTest::newRow("man page") << "share/man/man1/torvane.1.gz" << false;
    QTest::newRow("sandbox man page") << "share/man/man1/torvane-sandbox.1.gz" << false;
    QTest::newRow("copyright") << "share/doc/torvane/copyright" << false;
    QTest::newRow("changelog") << "share/doc/torvane/changelog.gz" << false;
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
    const QString entry = Installed(u"share/applications/" + AppId + u".desktop");
    const TCommandResult validate = RunCommand(QStringLiteral("desktop-file-validate"), {entry});
    QVERIFY2(validate.Succeeded && validate.Output.isEmpty(),
             QByteArray(validate.Output + validate.Errors).constData());

    const QMap<QString, QString> keys = DesktopEntryKeys(entry);
    QCOMPARE(keys.value(QStringLiteral("Categories")), QStringLiteral("System;Monitor;"));
    const QString program = keys.value(QStringLiteral("Exec")).section(u' ', 0, 0);
    QVERIFY(QFileInfo(Installed(u"bin/" + program)).isExecutable());
    QCOMPARE(keys.value(QStringLiteral("TryExec")), program);
    QCOMPARE(keys.value(QStringLiteral("StartupNotify")), QStringLiteral("true"));
    QVERIFY(!keys.value(QStringLiteral("StartupWMClass")).isEmpty()); // the window's class: demoWindow
    QVERIFY(QFileInfo::exists(
        Installed(u"share/icons/hicolor/scalable/apps/" + keys.value(QStringLiteral("Icon")) + u".svg")));
}

// The SVG rendered at the hicolor sizes, each picture as large as its folder says.
void TestInstall::icons_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        QTest::addRow("%d", size) << size;
}

void TestInstall::icons()
{
    QFETCH(int, size);
    const QString icon = DesktopEntryKeys(Installed(u"share/applications/" + AppId + u".desktop"))
                             .value(QStringLiteral("Icon"));
    const QImage image(
        Installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/").arg(size) + icon + u".png"));

    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(image.pixelColor(size / 2, size / 2).alpha(), 255); // drawn, not a blank square
}

// Valid for software centres, and telling the truth about the installation: the
// desktop entry it launches, the programs it provides, the README's pictures, the
// program's own version as the newest release.
void TestInstall::appstreamMetadata()
{
    const QString metainfo = Installed(u"share/metainfo/" + AppId + u".metainfo.xml");
    const TCommandResult validate =
        RunCommand(QStringLiteral("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"),
                                                    QStringLiteral("--pedantic"), metainfo});
    // Not even a pedantic remark.
    QVERIFY2(validate.Succeeded && !validate.Output.contains(": "),
             QByteArray(validate.Output + validate.Errors).constData());

    QFile file(metainfo);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QMap<QString, QStringList> elements; // the texts of the plain elements asked about, in order
    QStringList releases;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"release")
            releases.append(xml.attributes().value(QStringLiteral("version")).toString());
        else if (xml.name() == u"id" || xml.name() == u"launchable" || xml.name() == u"binary" ||
                 xml.name() == u"image")
            elements[xml.name().toString()].append(xml.readElementText());
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    const auto texts = [&elements](const QString& tag) { return elements.value(tag); };
    QCOMPARE(texts(QStringLiteral("id")), QStringList{AppId});
    QCOMPARE(texts(QStringLiteral("launchable")), QStringList{AppId + u".desktop"});
    for (const QString& binary : texts(QStringLiteral("binary")))
        QVERIFY2(QFileInfo(Installed(u"bin/" + binary)).isExecutable(), qPrintable(binary));

    QFile readme(QStringLiteral(TORVANE_SOURCE_DIR "/README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    QStringList pictures;
    static const QRegularExpression Picture(QStringLiteral("!\\[[^]]*\\]\\(docs/([^)]+)\\)"));
    for (QRegularExpressionMatchIterator it = Picture.globalMatch(QString::fromUtf8(readme.readAll()));
         it.hasNext();)
        pictures.append(it.next().captured(1));
    QStringList screenshots;
    for (const QString& image : texts(QStringLiteral("image")))
        screenshots.append(image.section(QStringLiteral("/screenshots/"), -1));
    QCOMPARE(screenshots, pictures);

    QVERIFY(!releases.isEmpty());
    const TCommandResult version =
        RunCommand(Installed(QStringLiteral("bin/torvane")), {QStringLiteral("--version")});
    QCOMPARE(u"Torvane Version " + releases.first().section(u'.', 0, 2) + u" Build " +
                 releases.first().section(u'.', 3) + u'\n',
             QString::fromUtf8(version.Output));
}

// Every option a program's help names has a paragraph of its own in its man page.
void TestInstall::manPageDescribesEveryOption_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("torvane") << "torvane";
    QTest::newRow("torvane-sandbox") << "torvane-sandbox";
}

void TestInstall::manPageDescribesEveryOption()
{
    QFETCH(QString, program);
    const TCommandResult help = RunCommand(Installed(u"bin/" + program), {QStringLiteral("--help")});
    QVERIFY2(help.Succeeded, help.Errors.constData());
    const QSet<QString> options = Options(QString::fromUtf8(help.Output));
    QVERIFY(options.contains(QStringLiteral("--help")) && options.size() > 5);

    const TCommandResult page = RunCommand(
        QStringLiteral("gzip"), {QStringLiteral("-dc"), Installed(u"share/man/man1/" + program + u".1.gz")});
    QVERIFY2(page.Succeeded, page.Errors.constData());
    const QSet<QString> described = DescribedOptions(QString::fromUtf8(page.Output));
    for (const QString& option : options)
        QVERIFY2(described.contains(option),
                 qPrintable(option + u" is not described in " + program + u"(1)"));
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
    // The desktop entry names the window's class, so the desktop ties the window to it.
    const QString windowClass = DesktopEntryKeys(Installed(u"share/applications/" + AppId + u".desktop"))
                                    .value(QStringLiteral("StartupWMClass"));
    QVERIFY(RunCommand(QStringLiteral("xdotool"),
                       {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                        QStringLiteral("--class"), QStringLiteral("^%1$").arg(windowClass)},
                       environment)
                .Succeeded);
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
