// The saved servers of the user hive: what a logon writes and replaces, names that
// have no key of their own, the password's bytes, and saves that fail or must stay
// private.

#include "settings/Savedservers.h"

#include <QtTest>

#include <climits>
#include <sys/stat.h>

namespace {
QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestSavedServers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void logonReplacesOnlyTheServersOwnValues();
    void namesWithoutAKeyOfTheirOwnAreNotSaved_data();
    void namesWithoutAKeyOfTheirOwnAreNotSaved();
    void passwordBytes_data();
    void passwordBytes();
    void savedPasswordsOfAnyLengthComeBackWhole();
    void failedSaveKeepsThePreviousFile();
    void userHiveStaysPrivate();

private:
    std::unique_ptr<QTemporaryDir> FDir;
    TRegistryPaths FPaths;
};

void TestSavedServers::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FPaths.MachineFile = FDir->filePath("etc/machine.reg");
    FPaths.UserFile = FDir->filePath("home/velquin/user.reg");
    FPaths.MachineFallbackFile = FDir->filePath("home/velquin/machine.reg");
}

void TestSavedServers::logonReplacesOnlyTheServersOwnValues()
{
    TSavedServers servers(FPaths);
    QVERIFY(servers.SaveLogon("HOST\\INST", false, "sa", "secret", true));
    QVERIFY(servers.SaveLogon("HOST", false, "dba", "pw", true));
    // A Windows logon to the host: its login and password go, its named instance stays.
    QVERIFY(servers.SaveLogon("host", true, "ignored", "ignored", true));

    const auto host = servers.Load("HOST");
    QVERIFY(host);
    QCOMPARE(host->UseWindowsNT, std::optional<std::int32_t>(1));
    QCOMPARE(host->UserID, std::nullopt);
    QCOMPARE(host->Password, std::nullopt);
    const auto instance = servers.Load("HOST\\INST");
    QVERIFY(instance);
    QCOMPARE(instance->UseWindowsNT, std::optional<std::int32_t>(0));
    QCOMPARE(instance->UserID, std::optional<QString>("sa"));
    QCOMPARE(instance->Password, std::optional<QString>("secret"));

    QCOMPARE(servers.ListOfServers(), QStringList({"HOST\\INST", "HOST"}));
    QCOMPARE(servers.DefaultServer(), std::optional<QString>("host"));
    QCOMPARE(servers.Load("OTHER"), std::nullopt);
}

void TestSavedServers::namesWithoutAKeyOfTheirOwnAreNotSaved_data()
{
    QTest::addColumn<QString>("server");
    QTest::newRow("empty") << "";
    QTest::newRow("backslashes only") << "\\\\";
    QTest::newRow("the list key") << "List Of Servers";
    QTest::newRow("the list key in other case, with a backslash") << "LIST OF SERVERS\\";
}

void TestSavedServers::namesWithoutAKeyOfTheirOwnAreNotSaved()
{
    QFETCH(QString, server);
    TSavedServers servers(FPaths);
    QVERIFY(servers.SaveLogon("HOST", false, "sa", "secret", true));
    const QByteArray before = ReadAll(FPaths.UserFile);

    QVERIFY(!servers.SaveLogon(server, false, "UseWindowsNT", "x", true));
    QCOMPARE(ReadAll(FPaths.UserFile), before);
    QCOMPARE(servers.ListOfServers(), QStringList("HOST"));
    QCOMPARE(servers.DefaultServer(), std::optional<QString>("HOST"));
}

void TestSavedServers::passwordBytes_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("saved");

    QTest::newRow("ASCII, one byte a character") << "Secret 1!" << QByteArray("Secret 1!");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("UTF-8") << QString::fromUtf8("pässwörd€")
                           << QByteArray("p\xc3\xa4ssw\xc3\xb6rd\xe2\x82\xac");
}

void TestSavedServers::passwordBytes()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, saved);
    QCOMPARE(TSavedServers::EncodePassword(password), saved);
    QCOMPARE(TSavedServers::DecodePassword(saved), password);

    TSavedServers servers(FPaths);
    QVERIFY(servers.SaveLogon("HOST", false, "sa", password, true));
    QCOMPARE(servers.Load("HOST")->Password, std::optional<QString>(password));
}

void TestSavedServers::savedPasswordsOfAnyLengthComeBackWhole()
{
    // Bytes another program saved one per character in a Western code page are not UTF-8.
    QCOMPARE(TSavedServers::DecodePassword("p\xe4ss"), QString::fromUtf8("päss"));
    // A terminator saved with the password ends it.
    QCOMPARE(TSavedServers::DecodePassword(QByteArray("abc\0def", 7)), QString("abc"));
    // SQL Server takes passwords of up to 128 characters, which may be more bytes.
    for (const QString& password : {QString(127, 'x'), QString(128, 'y'), QString(128, QChar(0x20ac))}) {
        TSavedServers servers(FPaths);
        QVERIFY(servers.SaveLogon("HOST", false, "sa", password, true));
        QCOMPARE(servers.Load("HOST")->Password, std::optional<QString>(password));
    }
}

void TestSavedServers::failedSaveKeepsThePreviousFile()
{
    // A file name with no room for the temporary file a save writes beside it: the save
    // fails even for root, as on a read-only folder or a full disk.
    FPaths.UserFile = FDir->filePath("home/" + QString(NAME_MAX - 4, 'u') + ".reg");
    QVERIFY(QDir().mkpath(FDir->filePath("home")));
    const QByteArray previous = "Windows Registry Editor Version 5.00\r\n\r\n"
                                "[HKEY_CURRENT_USER\\Software\\Velquin\\Servers]\r\n"
                                "\"Default Server\"=\"HOST\"\r\n\r\n";
    QFile file(FPaths.UserFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(previous), previous.size());
    file.close();

    TSavedServers servers(FPaths);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Settings not saved to"));
    QVERIFY(!servers.SaveLogon("OTHER", false, "sa", "secret", true));
    QCOMPARE(ReadAll(FPaths.UserFile), previous);
}

void TestSavedServers::userHiveStaysPrivate()
{
    // Even a hive that was readable by others before the first saved password.
    QVERIFY(QDir().mkpath(QFileInfo(FPaths.UserFile).absolutePath()));
    QFile file(FPaths.UserFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));

    TSavedServers servers(FPaths);
    for (const char* server : {"HOST", "OTHER"}) {
        QVERIFY(servers.SaveLogon(server, false, "sa", "secret", true));
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(FPaths.UserFile).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
    }
}

QTEST_GUILESS_MAIN(TestSavedServers)
#include "tst_savedservers.moc"
