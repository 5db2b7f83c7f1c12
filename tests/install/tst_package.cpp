// The Debian package CPack builds from the install rules: what it holds, that its
// Depends line and its copyright file name the package of every library the programs
// link as well as what they load at run time, its control fields, the programs
// hardened and stripped (keeping their version block), lintian's verdict, and what
// its maintainer scripts leave behind when dpkg removes or purges it.

#include "engine/Projectversion.h"
#include "tests/support/Commandrun.h"

#include <QtTest>

#include <set>

namespace {

using TNames = std::set<QString>;

// Package names in a Depends line, alternatives included, versions left out.
TNames PackageNames(const QString& depends)
{
    TNames names;
    for (const QString& alternatives : depends.split(u','))
        for (const QString& alternative : alternatives.split(u'|')) {
            const QString name = alternative.trimmed().section(u' ', 0, 0).section(u'(', 0, 0);
            if (!name.isEmpty())
                names.insert(name);
        }
    return names;
}

// The libraries a program names itself (DT_NEEDED), not what those pull in.
QStringList NeededLibraries(const QString& program)
{
    QStringList needed;
    const TCommandResult dump = RunCommand(QStringLiteral("objdump"), {QStringLiteral("-p"), program});
    for (const QString& line : QString::fromUtf8(dump.Output).split(u'\n')) {
        const QStringList words = line.simplified().split(u' ');
        if (words.size() == 2 && words[0] == u"NEEDED")
            needed.append(words[1]);
    }
    return needed;
}

// Where the dynamic loader finds each library of a program.
QMap<QString, QString> LibraryPaths(const QString& program)
{
    QMap<QString, QString> paths;
    const TCommandResult ldd = RunCommand(QStringLiteral("ldd"), {program});
    for (const QString& line : QString::fromUtf8(ldd.Output).split(u'\n')) {
        const QStringList words = line.simplified().split(u' ');
        if (words.size() >= 3 && words[1] == u"=>")
            paths.insert(words[0], words[2]);
        else if (words.first().startsWith(u'/')) // the loader itself
            paths.insert(QFileInfo(words.first()).fileName(), words.first());
    }
    return paths;
}

// The installed package that owns a library file. dpkg knows a file by the path its
// package put it at: /lib/... or /usr/lib/..., whichever the loader reports.
QString OwningPackage(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    QStringList candidates{path, canonical};
    for (const QString& candidate : QStringList(candidates))
        candidates.append(candidate.startsWith(u"/usr/") ? candidate.sliced(4) : u"/usr" + candidate);
    for (const QString& candidate : candidates) {
        const TCommandResult owner = RunCommand(QStringLiteral("dpkg"), {QStringLiteral("-S"), candidate});
        if (owner.Succeeded)
            return QString::fromUtf8(owner.Output).section(u':', 0, 0).trimmed();
    }
    return {};
}

// A package name standing on its own in a text, not as part of a longer name; a full
// stop after it may end the sentence.
bool NamesPackage(const QString& text, const QString& name)
{
    return QRegularExpression(u"(?<![a-z0-9.+-])" + QRegularExpression::escape(name) +
                              u"(?![a-z0-9+-]|\\.[a-z0-9])")
        .match(text)
        .hasMatch();
}

// The paragraphs of a Debian control-style file (the copyright file), continuation
// lines kept with their field.
QStringList Paragraphs(const QString& text)
{
    QStringList paragraphs = text.split(QRegularExpression(QStringLiteral("\\n\\s*\\n")));
    paragraphs.removeAll(QString());
    return paragraphs;
}

// A field of one paragraph, its continuation lines joined with line breaks and the
// lone dots that stand for empty lines made empty.
QString Field(const QString& paragraph, const QString& name)
{
    QStringList value;
    bool inField = false;
    for (const QString& line : paragraph.split(u'\n')) {
        if (line.startsWith(name + u':')) {
            inField = true;
            value.append(line.sliced(name.size() + 1).trimmed());
        } else if (inField && line.startsWith(u' ')) {
            value.append(line.trimmed() == u"." ? QString() : line.trimmed());
        } else {
            inField = false;
        }
    }
    return value.join(u'\n');
}

QString ReadText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void contents_data();
    void contents();
    void dependsNamesEveryRuntimePackage();
    void copyrightNamesTheLicenceOfEveryRuntimePackage();
    void controlFields();
    void changelogIsTheProjectsOwn();
    void programsHardenedAndStripped_data();
    void programsHardenedAndStripped();
    void programKeepsItsVersionBlock();
    void lintianFindsNothing();
    void removalDisablesTheExporterInstances_data();
    void removalDisablesTheExporterInstances();

private:
    QString ControlField(const QString& name) const;

    QTemporaryDir Dir;
    QString Package;
    QString Root;           // the package's files unpacked
    TNames RuntimePackages; // what owns every library the programs link, and what they load
};

void TestPackage::initTestCase()
{
    QVERIFY(Dir.isValid());
    const TCommandResult cpack =
        RunCommand(QStringLiteral(TORVANE_CPACK),
                   {QStringLiteral("--config"), QStringLiteral(TORVANE_BUILD_DIR "/CPackConfig.cmake"),
                    QStringLiteral("-B"), Dir.path()});
    QVERIFY2(cpack.Succeeded, QByteArray(cpack.Output + cpack.Errors).constData());
    const QStringList packages = QDir(Dir.path()).entryList({QStringLiteral("torvane_*.deb")}, QDir::Files);
    QCOMPARE(packages.size(), 1);
    Package = Dir.filePath(packages.first());
    Root = Dir.filePath(QStringLiteral("root"));
    const TCommandResult unpack =
        RunCommand(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), Package, Root});
    QVERIFY2(unpack.Succeeded, unpack.Errors.constData());

    // Loaded at run time by name, so no library scan sees them.
    RuntimePackages = {QStringLiteral("tdsodbc"), QStringLiteral("qt6-qpa-plugins"),
                       QStringLiteral("libqt6svg6")};
    for (const char* program : {"torvane", "torvane-sandbox"}) {
        const QString path = Root + u"/usr/bin/" + QLatin1StringView(program);
        const QMap<QString, QString> found = LibraryPaths(path);
        const QStringList needed = NeededLibraries(path);
        QVERIFY(!needed.isEmpty());
        for (const QString& library : needed) {
            QVERIFY2(found.contains(library), qPrintable(path + u" needs " + library + u", not found"));
            const QString owner = OwningPackage(found.value(library));
            QVERIFY2(!owner.isEmpty(), qPrintable(found.value(library) + u" belongs to no package"));
            RuntimePackages.insert(owner);
        }
    }
}

QString TestPackage::ControlField(const QString& name) const
{
    const TCommandResult field =
        RunCommand(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), Package, name});
    return QString::fromUtf8(field.Output).chopped(field.Output.endsWith('\n') ? 1 : 0);
}

void TestPackage::contents_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    QTest::newRow("program") << "usr/bin/torvane" << true;
    QTest::newRow("sandbox") << "usr/bin/torvane-sandbox" << true;
    QTest::newRow("manual") << "usr/share/torvane/manual.html" << false;
    QTest::newRow("desktop entry") << "usr/share/applications/com.velquin.torvane.desktop" << false;
    QTest::newRow("appstream") << "usr/share/metainfo/com.velquin.torvane.metainfo.xml" << false;
    QTest::newRow("icon") << "usr/share/icons/hicolor/scalable/apps/torvane.svg" << false;
    QTest::newRow("icon 16") << "usr/share/icons/hicolor/16x16/apps/torvane.png" << false;
    QTest::newRow("icon 256") << "usr/share/icons/hicolor/256x256/apps/torvane.png" << false;
    QTest::newRow("man page") << "usr/share/man/man1/torvane.1.gz" << false;
    QTest::newRow("sandbox man page") << "usr/share/man/man1/torvane-sandbox.1.gz" << false;
    QTest::newRow("copyright") << "usr/share/doc/torvane/copyright" << false;
    QTest::newRow("changelog") << "usr/share/doc/torvane/changelog.gz" << false;
    QTest::newRow("exporter unit") << "usr/lib/systemd/system/torvane-exporter@.service" << false;
}

void TestPackage::contents()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    const QFileInfo file(Root + u'/' + path);

    QVERIFY2(file.isFile(), qPrintable(path));
    QCOMPARE(file.isExecutable(), executable);
}

void TestPackage::dependsNamesEveryRuntimePackage()
{
    const TCommandResult field =
        RunCommand(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), Package, QStringLiteral("Depends")});
    QVERIFY2(field.Succeeded, field.Errors.constData());
    const TNames depends = PackageNames(QString::fromUtf8(field.Output));

    for (const QString& name : RuntimePackages)
        QVERIFY2(depends.contains(name),
                 qPrintable(name + u" is missing from Depends: " + QString::fromUtf8(field.Output)));
}

// Machine-readable: the project's own files under the MIT (Expat) licence with the
// LICENSE file's text and copyright line, and each library's package named in the
// stand-alone paragraph of its licence.
void TestPackage::copyrightNamesTheLicenceOfEveryRuntimePackage()
{
    const QStringList paragraphs = Paragraphs(ReadText(Root + u"/usr/share/doc/torvane/copyright"));
    QVERIFY(paragraphs.size() > 2);
    QCOMPARE(Field(paragraphs[0], QStringLiteral("Format")),
             QStringLiteral("https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"));

    const QString license = ReadText(QStringLiteral(TORVANE_SOURCE_DIR "/LICENSE"));
    const QString copyrightLine = license.section(u'\n', 2, 2);
    QVERIFY(copyrightLine.startsWith(u"Copyright (c) "));
    const QStringList files = paragraphs.filter(
        QRegularExpression(QStringLiteral("^Files: \\*$"), QRegularExpression::MultilineOption));
    QCOMPARE(files.size(), 1);
    QCOMPARE(Field(files[0], QStringLiteral("License")), QStringLiteral("Expat"));
    QCOMPARE(Field(files[0], QStringLiteral("Copyright")), copyrightLine.sliced(14));

    QString librariesNamed;
    bool expatText = false;
    for (const QString& paragraph : paragraphs) {
        if (!paragraph.startsWith(u"License:"))
            continue;
        librariesNamed += Field(paragraph, QStringLiteral("Comment")) + u'\n';
        const QString text = Field(paragraph, QStringLiteral("License"));
        if (text.section(u'\n', 0, 0) == u"Expat")
            // Blanks and line breaks made single blanks: the two are wrapped differently.
            expatText = text.section(u'\n', 1).simplified() == license.section(u'\n', 4).simplified();
    }
    QVERIFY2(expatText, "the Expat paragraph differs from LICENSE");
    for (const QString& name : RuntimePackages)
        QVERIFY2(NamesPackage(librariesNamed, name),
                 qPrintable(name + u" has no licence in the copyright file"));
}

void TestPackage::controlFields()
{
    const QStringList description = ControlField(QStringLiteral("Description")).split(u'\n');
    QCOMPARE(description.first(), QStringLiteral("Activity monitor for Microsoft SQL Server"));
    QVERIFY(description.size() > 3);
    for (const QString& line : description)
        QVERIFY2(line.size() < 80, qPrintable(line));

    QVERIFY(ControlField(QStringLiteral("Homepage")).startsWith(u"https://"));
    // An address mail can reach: a real domain, not one reserved for examples.
    const QRegularExpressionMatch maintainer =
        QRegularExpression(QStringLiteral("^[^<>]+ <[^@<>\\s]+@([a-z0-9-]+\\.)+([a-z]+)>$"))
            .match(ControlField(QStringLiteral("Maintainer")));
    QVERIFY2(maintainer.hasMatch(), qPrintable(ControlField(QStringLiteral("Maintainer"))));
    for (const char* reserved : {"invalid", "example", "test", "localhost", "local"})
        QVERIFY(maintainer.captured(2) != QLatin1StringView(reserved));

    // One mention per package: the library scan's versioned entries and the names
    // added by hand do not overlap.
    QStringList depends;
    for (const QString& alternatives : ControlField(QStringLiteral("Depends")).split(u','))
        depends.append(alternatives.trimmed().section(u' ', 0, 0));
    QCOMPARE(QSet<QString>(depends.begin(), depends.end()).size(), depends.size());
}

// The Debian changelog, compressed at best, begins with the package's version.
void TestPackage::changelogIsTheProjectsOwn()
{
    const QString changelog = Root + u"/usr/share/doc/torvane/changelog.gz";
    const TCommandResult text = RunCommand(QStringLiteral("gzip"), {QStringLiteral("-dc"), changelog});
    QVERIFY2(text.Succeeded, text.Errors.constData());
    QFile compressed(changelog);
    QVERIFY(compressed.open(QIODevice::ReadOnly));
    const QByteArray header = compressed.read(10);
    QCOMPARE(header.at(8), '\x02'); // the extra flags of gzip -9

    QTemporaryFile plain;
    QVERIFY(plain.open());
    plain.write(text.Output);
    plain.close();
    const TCommandResult parsed =
        RunCommand(QStringLiteral("dpkg-parsechangelog"),
                   {QStringLiteral("-l"), plain.fileName(), QStringLiteral("-SVersion")});
    QVERIFY2(parsed.Succeeded, parsed.Errors.constData());
    QCOMPARE(parsed.Output.trimmed(), ControlField(QStringLiteral("Version")).toUtf8());
}

// Built as Debian builds its programs (stack protector, fortified calls, read-only
// relocations bound at start), and without the compilers' .comment section.
void TestPackage::programsHardenedAndStripped_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("torvane") << "usr/bin/torvane";
    QTest::newRow("torvane-sandbox") << "usr/bin/torvane-sandbox";
}

void TestPackage::programsHardenedAndStripped()
{
    QFETCH(QString, program);
    const QString path = Root + u'/' + program;
    const auto readelf = [&path](const char* what) {
        const TCommandResult result =
            RunCommand(QStringLiteral("readelf"), {QStringLiteral("-W"), QLatin1StringView(what), path});
        return QString::fromUtf8(result.Output);
    };

    QVERIFY(readelf("--program-headers").contains(u"GNU_RELRO"));
    QVERIFY(readelf("--dynamic")
                .contains(QRegularExpression(QStringLiteral("\\(FLAGS\\).*\\bBIND_NOW\\b|\\(BIND_NOW\\)"))));
    const QString symbols = readelf("--dyn-syms");
    QVERIFY(symbols.contains(u"__stack_chk_fail"));
    QVERIFY2(symbols.contains(QRegularExpression(QStringLiteral("\\s__\\w+_chk@"))), "no fortified call");
    const QString sections = readelf("--section-headers");
    QVERIFY(!sections.contains(u".comment"));
    QVERIFY(!sections.contains(u".debug_info"));
}

void TestPackage::programKeepsItsVersionBlock()
{
    QCOMPARE(TProjectRCVersion(Root + u"/usr/bin/torvane").VersionText(),
             QStringLiteral("Version 1.3.0 Build 40"));
}

// Lintian, Debian's package checker, finds no error and no warning, and every
// override the package carries still applies.
void TestPackage::lintianFindsNothing()
{
    const TCommandResult lintian = RunCommand(QStringLiteral("lintian"),
                                              {QStringLiteral("--fail-on"), QStringLiteral("error,warning"),
                                               QStringLiteral("--display-info"), Package},
                                              QProcessEnvironment::systemEnvironment(), 240000);
    const QString report = QString::fromUtf8(lintian.Output + lintian.Errors);
    QVERIFY2(lintian.Succeeded, qPrintable(report));
    QVERIFY2(
        !report.contains(QRegularExpression(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption)),
        qPrintable(report));
    QVERIFY2(!report.contains(u"-override"), qPrintable(report));
}

// dpkg installs the package into a root of its own and runs the maintainer scripts
// there (DPKG_ROOT); an exporter instance is enabled as systemctl enable would, and
// removing the package leaves no link to the unit behind, purging no state either.
// Another service's link is left alone.
void TestPackage::removalDisablesTheExporterInstances_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("stateKept");
    QTest::newRow("remove") << "--remove" << true;
    QTest::newRow("purge") << "--purge" << false;
}

void TestPackage::removalDisablesTheExporterInstances()
{
    QFETCH(QString, action);
    QFETCH(bool, stateKept);
    const QString root = Dir.filePath(QLatin1StringView(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(root + u"/var/lib/dpkg/info") && QDir().mkpath(root + u"/var/lib/dpkg/updates"));
    QFile status(root + u"/var/lib/dpkg/status");
    QVERIFY(status.open(QIODevice::WriteOnly));
    status.close();
    const auto dpkg = [&root](const QStringList& arguments) {
        return RunCommand(QStringLiteral("dpkg"),
                          QStringList{u"--root=" + root, QStringLiteral("--log=/dev/null"),
                                      QStringLiteral("--force-script-chrootless"),
                                      QStringLiteral("--force-not-root"), QStringLiteral("--force-depends")} +
                              arguments);
    };
    const TCommandResult install = dpkg({QStringLiteral("--install"), Package});
    QVERIFY2(install.Succeeded, QByteArray(install.Output + install.Errors).constData());
    QVERIFY(QFileInfo::exists(root + u"/usr/bin/torvane"));

    const QString wants = root + u"/etc/systemd/system/multi-user.target.wants";
    QVERIFY(QDir().mkpath(wants));
    const QString instance = wants + u"/torvane-exporter@prod.service";
    const QString other = wants + u"/ssh.service";
    QVERIFY(QFile::link(QStringLiteral("/usr/lib/systemd/system/torvane-exporter@.service"), instance));
    QVERIFY(QFile::link(QStringLiteral("/usr/lib/systemd/system/ssh.service"), other));
    QVERIFY(QDir().mkpath(root + u"/var/lib/private/torvane-exporter"));
    QVERIFY(QFile::link(QStringLiteral("private/torvane-exporter"), root + u"/var/lib/torvane-exporter"));

    const TCommandResult remove = dpkg({action, QStringLiteral("torvane")});
    QVERIFY2(remove.Succeeded, QByteArray(remove.Output + remove.Errors).constData());
    QVERIFY(!QFileInfo::exists(root + u"/usr/bin/torvane"));
    QVERIFY(!QFileInfo(instance).isSymLink());
    QVERIFY(QFileInfo(other).isSymLink());
    QCOMPARE(QFileInfo(root + u"/var/lib/private/torvane-exporter").isDir(), stateKept);
    QCOMPARE(QFileInfo(root + u"/var/lib/torvane-exporter").isSymLink(), stateKept);
}

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
