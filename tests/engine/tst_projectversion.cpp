// The version block read back from a program file: this test program's own block (the
// build writes it), copies of this program with the block removed or replaced, other ELF
// layouts, and damaged files, which read as having no block.

#include "engine/Projectversion.h"
#include "tests/support/Commandrun.h"

#include <QtTest>

#include <elf.h>

namespace {

// What a test file is made from.
enum class EMade
{
    ThisProgram,
    BlockRemoved,
    BlockReplaced
};

bool Run(const QString& program, const QStringList& arguments)
{
    const TCommandResult result = RunCommand(program, arguments);
    if (!result.Succeeded)
        qWarning().noquote() << program << arguments.join(u' ') << "failed:" << result.Errors;
    return result.Succeeded;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestProjectVersion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void ownBlock();
    void versionText_data();
    void versionText();
    void otherLayouts_data();
    void otherLayouts();
    void damagedFiles_data();
    void damagedFiles();

private:
    std::unique_ptr<QTemporaryDir> Dir;
    QString Path(const QString& name) const { return Dir->filePath(name); }
    // A copy of this program with its block replaced by the given bytes.
    QString WithBlock(const QByteArray& block);
};

void TestProjectVersion::init()
{
    Dir = std::make_unique<QTemporaryDir>();
    QVERIFY(Dir->isValid());
}

QString TestProjectVersion::WithBlock(const QByteArray& block)
{
    const QString blockFile = Path(QStringLiteral("block"));
    const QString copy = Path(QStringLiteral("replaced"));
    if (!WriteFile(blockFile, block) ||
        !Run(QStringLiteral("objcopy"),
             {QStringLiteral("--remove-section=.torvane_version"), QStringLiteral("--add-section"),
              ".torvane_version=" + blockFile, QCoreApplication::applicationFilePath(), copy}))
        return {};
    return copy;
}

void TestProjectVersion::ownBlock()
{
    const TProjectRCVersion version;
    QString productName;
    QString fileVersion;

    QVERIFY(version.GetProductName(productName));
    QVERIFY(version.GetFileVersion(fileVersion));
    QCOMPARE(productName, QStringLiteral("Velquin"));
    QCOMPARE(fileVersion, QStringLiteral("1.3.0.40"));
    QCOMPARE(version.VersionText(), QStringLiteral("Version 1.3.0 Build 40"));
}

void TestProjectVersion::versionText_data()
{
    QTest::addColumn<EMade>("made");
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("hasBlock");
    QTest::addColumn<QString>("text");

    const QByteArray velquin = "ProductName=Velquin\n";
    QTest::newRow("this program's file")
        << EMade::ThisProgram << QByteArray() << true << "Version 1.3.0 Build 40";
    QTest::newRow("block removed") << EMade::BlockRemoved << QByteArray() << false << "Version 1.3";
    QTest::newRow("two parts") << EMade::BlockReplaced << "FileVersion=2.5\n" + velquin << true
                               << "Version 2 Build 5";
    QTest::newRow("no dot: all version, no build") << EMade::BlockReplaced << velquin + "FileVersion=7\n"
                                                   << true << "Version 7";
    QTest::newRow("nothing after the last dot") << EMade::BlockReplaced << velquin + "FileVersion=1.3.\n"
                                                << true << "Version 1.3";
    QTest::newRow("nothing before the last dot") << EMade::BlockReplaced << velquin + "FileVersion=.5\n"
                                                 << true << "Version 1.3";
    QTest::newRow("empty file version") << EMade::BlockReplaced << velquin + "FileVersion=\n"
                                        << true << "Version 1.3";
    QTest::newRow("no product name") << EMade::BlockReplaced << QByteArray("FileVersion=2.5\n") << true
                                     << "Version 1.3";
    QTest::newRow("lines after the zero byte are not read")
        << EMade::BlockReplaced
        << "FileVersion=4.0.1\nProductName=A=B\n" + QByteArray(1, '\0') + "FileVersion=9.9\n"
        << true << "Version 4.0 Build 1";
    QTest::newRow("empty block") << EMade::BlockReplaced << QByteArray() << true << "Version 1.3";
}

void TestProjectVersion::versionText()
{
    QFETCH(EMade, made);
    QFETCH(QByteArray, block);
    QFETCH(bool, hasBlock);
    QFETCH(QString, text);
    QString file = QCoreApplication::applicationFilePath();
    if (made == EMade::BlockRemoved) {
        file = Path(QStringLiteral("removed"));
        QVERIFY(Run(QStringLiteral("objcopy"), {QStringLiteral("--remove-section=.torvane_version"),
                                                QCoreApplication::applicationFilePath(), file}));
    } else if (made == EMade::BlockReplaced) {
        file = WithBlock(block);
        QVERIFY(!file.isEmpty());
    }

    const TProjectRCVersion version(file);

    QCOMPARE(version.HasBlock(), hasBlock);
    QCOMPARE(version.VersionText(), text);
}

void TestProjectVersion::otherLayouts_data()
{
    QTest::addColumn<QString>("target");

    QTest::newRow("32-bit little-endian") << "elf32-little";
    QTest::newRow("32-bit big-endian") << "elf32-big";
    QTest::newRow("64-bit big-endian") << "elf64-big";
}

// Object files of other word sizes and byte orders made with objcopy from a plain block.
void TestProjectVersion::otherLayouts()
{
    QFETCH(QString, target);
    const QString block = Path(QStringLiteral("block"));
    const QString object = Path(QStringLiteral("block.o"));
    QVERIFY(WriteFile(block, "FileVersion=2.5\nProductName=Velquin\n"));
    QVERIFY(Run(QStringLiteral("objcopy"), {QStringLiteral("-I"), QStringLiteral("binary"),
                                            QStringLiteral("-O"), target, QStringLiteral("--rename-section"),
                                            QStringLiteral(".data=.torvane_version"), block, object}));

    QCOMPARE(TProjectRCVersion(object).VersionText(), QStringLiteral("Version 2 Build 5"));
}

void TestProjectVersion::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("contents");

    const QByteArray program = ReadFile(QCoreApplication::applicationFilePath());
    QVERIFY(program.size() > qsizetype(sizeof(Elf64_Ehdr)));
    const auto patched = [&](std::size_t offset, auto value) {
        QByteArray bytes = program;
        std::memcpy(bytes.data() + offset, &value, sizeof value);
        return bytes;
    };

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not an ELF file") << QByteArray("FileVersion=2.5\nProductName=Velquin\n");
    QTest::newRow("ELF header only") << program.first(sizeof(Elf64_Ehdr));
    QTest::newRow("cut before the section headers") << program.first(program.size() / 2);
    QTest::newRow("section headers past the end")
        << patched(offsetof(Elf64_Ehdr, e_shoff), Elf64_Off(program.size() - 8));
    QTest::newRow("section count beyond the file")
        << patched(offsetof(Elf64_Ehdr, e_shnum), Elf64_Half(0xfeff));
    QTest::newRow("name table index out of range")
        << patched(offsetof(Elf64_Ehdr, e_shstrndx), Elf64_Half(0xfeff));
    QTest::newRow("wrong section header size")
        << patched(offsetof(Elf64_Ehdr, e_shentsize), Elf64_Half(sizeof(Elf32_Shdr)));
}

void TestProjectVersion::damagedFiles()
{
    QFETCH(QByteArray, contents);
    const QString file = Path(QStringLiteral("damaged"));
    QVERIFY(WriteFile(file, contents));

    const TProjectRCVersion version(file);

    QVERIFY(!version.HasBlock());
    QCOMPARE(version.VersionText(), QStringLiteral("Version 1.3"));
}

QTEST_MAIN(TestProjectVersion)
#include "tst_projectversion.moc"
