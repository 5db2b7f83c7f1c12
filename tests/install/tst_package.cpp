// The Debian package CPack builds from the install rules: what it holds, that its
// Depends line names the package of every library the programs link as well as what
// they load at run time, and that the stripped program keeps its version block.

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

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void contents_data();
    void contents();
    void dependsNamesEveryRuntimePackage();
    void programKeepsItsVersionBlock();

private:
    QTemporaryDir Dir;
    QString Package;
    QString Root; // the package's files unpacked
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
}

void TestPackage::contents_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    QTest::newRow("program") << "usr/bin/torvane" << true;
    QTest::newRow("sandbox") << "usr/bin/torvane-sandbox" << true;
    QTest::newRow("manual") << "usr/share/torvane/manual.html" << false;
    QTest::newRow("desktop entry") << "usr/share/applications/torvane.desktop" << false;
    QTest::newRow("icon") << "usr/share/icons/hicolor/scalable/apps/torvane.svg" << false;
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

    // Loaded at run time by name, so no library scan sees them.
    TNames required{QStringLiteral("tdsodbc"), QStringLiteral("qt6-qpa-plugins"),
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
            required.insert(owner);
        }
    }

    for (const QString& name : required)
        QVERIFY2(depends.contains(name),
                 qPrintable(name + u" is missing from Depends: " + QString::fromUtf8(field.Output)));
}

void TestPackage::programKeepsItsVersionBlock()
{
    QCOMPARE(TProjectRCVersion(Root + u"/usr/bin/torvane").VersionText(),
             QStringLiteral("Version 1.3.0 Build 40"));
}

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
