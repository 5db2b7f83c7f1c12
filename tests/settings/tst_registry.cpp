// Hive files through registry handles: saves keep everything they did not touch, a
// broken file is read as far as it parses and never overwritten, the user hive is
// private, a machine hive the user cannot write falls back to the user's own copy,
// concurrent saves lose nothing, a failed save keeps the previous file, and a path that
// is not a regular file is refused.

#include "settings/Registry.h"

#include <QScopeGuard>
#include <QtTest>

#include <atomic>
#include <climits>
#include <csignal>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}
} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void locations_data();
    void locations();
    void namedInstanceKeysNest();
    void saveKeepsOtherKeysAndValues();
    void deletesOnlyWhatItNames();
    void unparsableFileIsNotOverwritten();
    void refusesNamesTheFileCannotHold();
    void userHiveIsPrivate();
    void machineHiveFallback_data();
    void machineHiveFallback();
    void uncreatableMachineHiveFallsBack();
    void concurrentSavesLoseNothing();
    void staleTemporaryIsRemoved();
    void failedSaveKeepsThePreviousFile();
    void changesInPlaceAreSeen();
    void refusesWhatIsNotARegularFile_data();
    void refusesWhatIsNotARegularFile();

private:
    std::unique_ptr<QTemporaryDir> FDir;
    TRegistryPaths FPaths;
};

void TestRegistry::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FPaths.MachineFile = FDir->filePath("etc/machine.reg");
    FPaths.UserFile = FDir->filePath("home/velquin/user.reg");
    FPaths.MachineFallbackFile = FDir->filePath("home/velquin/machine.reg");
}

void TestRegistry::locations_data()
{
    QTest::addColumn<QString>("hklm");   // the variables; empty when unset
    QTest::addColumn<QString>("hkcu");
    QTest::addColumn<QString>("xdg");
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QString>("fallback");
    QTest::addColumn<QString>("user");

    QTest::newRow("defaults") << "" << "" << "" << "/etc/velquin/machine.reg"
                              << "/home/dba/.config/velquin/machine.reg" << "/home/dba/.config/velquin/user.reg";
    QTest::newRow("XDG_CONFIG_HOME") << "" << "" << "/cfg" << "/etc/velquin/machine.reg"
                                     << "/cfg/velquin/machine.reg" << "/cfg/velquin/user.reg";
    QTest::newRow("relative XDG_CONFIG_HOME is ignored")
        << "" << "" << "cfg" << "/etc/velquin/machine.reg" << "/home/dba/.config/velquin/machine.reg"
        << "/home/dba/.config/velquin/user.reg";
    QTest::newRow("files named") << "/srv/a/hklm.reg" << "/srv/b/hkcu.reg" << "/cfg" << "/srv/a/hklm.reg"
                                 << "/srv/b/machine.reg" << "/srv/b/hkcu.reg";
}

void TestRegistry::locations()
{
    QFETCH(QString, hklm);
    QFETCH(QString, hkcu);
    QFETCH(QString, xdg);
    QFETCH(QString, machine);
    QFETCH(QString, fallback);
    QFETCH(QString, user);

    const QByteArray names[] = {"TORVANE_HKLM_FILE", "TORVANE_HKCU_FILE", "XDG_CONFIG_HOME", "HOME"};
    const QString values[] = {hklm, hkcu, xdg, "/home/dba"};
    QByteArray saved[4];
    for (int i = 0; i < 4; ++i) {
        saved[i] = qgetenv(names[i].constData());
        if (values[i].isEmpty())
            qunsetenv(names[i].constData());
        else
            qputenv(names[i].constData(), values[i].toUtf8());
    }
    const TRegistryPaths paths = TRegistryPaths::FromEnvironment();
    for (int i = 0; i < 4; ++i) {
        if (saved[i].isNull())
            qunsetenv(names[i].constData());
        else
            qputenv(names[i].constData(), saved[i]);
    }
    QCOMPARE(paths.MachineFile, machine);
    QCOMPARE(paths.MachineFallbackFile, fallback);
    QCOMPARE(paths.UserFile, user);
}

void TestRegistry::namedInstanceKeysNest()
{
    TRegistry user(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(user.OpenKey("\\Software\\Velquin\\Servers\\HOST\\INST", true));
    QVERIFY(user.WriteString("UserID", "sa"));
    QVERIFY(user.OpenKey("\\Software\\Velquin\\Servers\\HOST", true));
    QVERIFY(user.WriteInteger("UseWindowsNT", 1));
    // A second spelling of the same server: names compare without regard to case.
    QVERIFY(user.OpenKey("\\software\\VELQUIN\\servers\\host\\inst", false));
    QVERIFY(user.WriteBinaryData("Password", QByteArray("pw\0", 3)));

    TRegistry reader(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(reader.OpenKeyReadOnly("Software\\Velquin\\Servers"));
    QCOMPARE(reader.GetKeyNames(), QStringList("HOST"));
    QVERIFY(reader.OpenKeyReadOnly("Software\\Velquin\\Servers\\HOST"));
    QCOMPARE(reader.GetKeyNames(), QStringList("INST"));
    QCOMPARE(reader.GetValueNames(), QStringList("UseWindowsNT"));
    QVERIFY(reader.OpenKeyReadOnly("Software\\Velquin\\Servers\\HOST\\INST"));
    QCOMPARE(reader.GetValueNames(), QStringList({"UserID", "Password"}));
    QCOMPARE(reader.ReadBinaryData("password"), std::optional<QByteArray>(QByteArray("pw\0", 3)));
    QCOMPARE(reader.GetDataType("UserID"), TRegDataType::rdString);
    QCOMPARE(reader.ReadInteger("UserID"), std::nullopt);   // a value of another type
    QVERIFY(!reader.OpenKeyReadOnly("Software\\Velquin\\Servers\\OTHER"));
    QVERIFY(!reader.ValueExists("UserID"));                  // no key is open now
}

void TestRegistry::saveKeepsOtherKeysAndValues()
{
    QDir().mkpath(QFileInfo(FPaths.MachineFile).absolutePath());
    WriteAll(FPaths.MachineFile,
             "Windows Registry Editor Version 5.00\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velquin\\Torvane]\r\n"
             "\"RefreshInterval\"=dword:00000005\r\n"
             "\"Custom\"=hex(7):61,00,00,00,00,00\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
             "@=\"kept\"\r\n\r\n");

    TRegistry machine(TRegistryRoot::LocalMachine, FPaths);
    QVERIFY(machine.OpenKey("\\SOFTWARE\\Velquin\\Torvane", false));
    QVERIFY(machine.WriteInteger("RefreshInterval", 7));
    QVERIFY(machine.WriteBool("EmailAlerts", true));

    const QByteArray saved = ReadAll(FPaths.MachineFile);
    QVERIFY2(saved.contains("\"RefreshInterval\"=dword:00000007\r\n"
                            "\"Custom\"=hex(7):61,00,00,00,00,00\r\n"
                            "\"EmailAlerts\"=dword:00000001\r\n"), saved.constData());
    QVERIFY2(saved.contains("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n@=\"kept\"\r\n"), saved.constData());
    QVERIFY(!QFileInfo::exists(FPaths.MachineFallbackFile));
    const QStringList left = QDir(QFileInfo(FPaths.MachineFile).absolutePath()).entryList(QDir::Files);
    QCOMPARE(left, QStringList({"machine.reg", "machine.reg.lock"})); // no temporary file stays behind
}

void TestRegistry::deletesOnlyWhatItNames()
{
    TRegistry user(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(user.OpenKey("Software\\Velquin\\Servers\\HOST\\INST", true));
    QVERIFY(user.WriteString("UserID", "inst"));
    QVERIFY(user.OpenKey("Software\\Velquin\\Servers\\HOST", true));
    QVERIFY(user.WriteString("UserID", "host"));
    QVERIFY(user.WriteString("Password", "x"));
    QVERIFY(user.DeleteValue("userid"));
    QVERIFY(user.DeleteValue("NotThere"));
    QCOMPARE(user.GetValueNames(), QStringList("Password"));

    TRegistry reader(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(reader.OpenKeyReadOnly("Software\\Velquin\\Servers\\HOST\\INST"));
    QCOMPARE(reader.ReadString("UserID"), std::optional<QString>("inst"));
    QVERIFY(user.DeleteKey("Software\\Velquin\\Servers\\HOST"));
    QVERIFY(!reader.KeyExists("Software\\Velquin\\Servers\\HOST\\INST"));
    QVERIFY(reader.KeyExists("Software\\Velquin\\Servers"));
}

void TestRegistry::unparsableFileIsNotOverwritten()
{
    QDir().mkpath(QFileInfo(FPaths.MachineFile).absolutePath());
    const QByteArray broken = "Windows Registry Editor Version 5.00\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velquin\\Torvane]\r\n"
                              "\"RefreshInterval\"=dword:0000000a\r\n"
                              "\"EmailAlerts\"=yes please\r\n"
                              "\"Logging\"=dword:00000001\r\n";
    WriteAll(FPaths.MachineFile, broken);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("does not parse.*line 5"));
    TRegistry machine(TRegistryRoot::LocalMachine, FPaths);
    QVERIFY(machine.OpenKeyReadOnly("SOFTWARE\\Velquin\\Torvane"));
    QCOMPARE(machine.ReadInteger("RefreshInterval"), std::optional<std::int32_t>(10));
    QVERIFY(!machine.ValueExists("Logging"));   // after the error

    // Read at every refresh, reported once.
    QTest::failOnWarning(QRegularExpression("does not parse"));
    QVERIFY(machine.OpenKeyReadOnly("SOFTWARE\\Velquin\\Torvane"));
    QVERIFY(!machine.OpenKey("SOFTWARE\\Velquin\\Torvane", true));
    QCOMPARE(ReadAll(FPaths.MachineFile), broken);
    QVERIFY(!QFileInfo::exists(FPaths.MachineFallbackFile));
}

void TestRegistry::refusesNamesTheFileCannotHold()
{
    TRegistry user(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(user.OpenKey("Software\\Velquin\\Servers\\List Of Servers", true));
    QVERIFY(user.WriteString("HOST", ""));
    const QByteArray before = ReadAll(FPaths.UserFile);

    // A line break in a name would end the line in the middle of the name.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Settings not saved to .*user.reg"));
    QVERIFY(!user.WriteString("BAD\nNAME", ""));
    QCOMPARE(ReadAll(FPaths.UserFile), before);
    QCOMPARE(user.GetValueNames(), QStringList("HOST"));
}

void TestRegistry::userHiveIsPrivate()
{
    // Whatever the umask: a umask of 000 would otherwise open the new folders to all.
    const mode_t umaskBefore = ::umask(0);
    const auto restore = qScopeGuard([&] { ::umask(umaskBefore); });
    TRegistry user(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(user.OpenKey("Software\\Velquin\\Servers\\HOST", true));
    QVERIFY(user.WriteBinaryData("Password", "secret"));
    struct stat st{};
    QCOMPARE(::stat(QFile::encodeName(FPaths.UserFile).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
    for (const QString& folder : {FDir->filePath("home"), FDir->filePath("home/velquin")}) {
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }

    // Opened up by hand, it is private again after the next save.
    QVERIFY(QFile::setPermissions(FPaths.UserFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                       QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QVERIFY(user.WriteString("UserID", "sa"));
    QCOMPARE(::stat(QFile::encodeName(FPaths.UserFile).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
}

void TestRegistry::machineHiveFallback_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("machine hive writable") << true;
    QTest::newRow("machine hive not writable") << false;
}

void TestRegistry::machineHiveFallback()
{
    QFETCH(bool, writable);

    // The shared file an administrator saved. A file name with no room left for the
    // temporary file a save writes beside it cannot be replaced, even by root.
    if (!writable)
        FPaths.MachineFile = FDir->filePath("etc/" + QString(NAME_MAX - 4, 'm') + ".reg");
    QVERIFY(QDir().mkpath(QFileInfo(FPaths.MachineFile).absolutePath()));
    const QByteArray shared = "Windows Registry Editor Version 5.00\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velquin\\Torvane]\r\n"
                              "\"RefreshInterval\"=dword:00000014\r\n\r\n";
    WriteAll(FPaths.MachineFile, shared);

    TRegistry machine(TRegistryRoot::LocalMachine, FPaths);
    QVERIFY(machine.OpenKey("\\SOFTWARE\\Velquin\\Torvane\\Logging", true));
    QVERIFY(machine.WriteString("LoggingDirectory", "/var/log/torvane"));

    QCOMPARE(QFileInfo::exists(FPaths.MachineFallbackFile), !writable);
    QCOMPARE(ReadAll(FPaths.MachineFile) == shared, !writable);
    QCOMPARE(FPaths.ReadPath(TRegistryRoot::LocalMachine),
             writable ? FPaths.MachineFile : FPaths.MachineFallbackFile);

    // Whichever file holds them, the administrator's value and the user's are read together.
    TRegistry reader(TRegistryRoot::LocalMachine, FPaths);
    QVERIFY(reader.OpenKeyReadOnly("SOFTWARE\\Velquin\\Torvane"));
    QCOMPARE(reader.ReadInteger("RefreshInterval"), std::optional<std::int32_t>(20));
    QVERIFY(reader.OpenKeyReadOnly("SOFTWARE\\Velquin\\Torvane\\Logging"));
    QCOMPARE(reader.ReadString("LoggingDirectory"), std::optional<QString>("/var/log/torvane"));

    // Once the user has a copy, later saves go there too.
    QVERIFY(machine.WriteInteger("RefreshCount", 3));
    QCOMPARE(ReadAll(FPaths.MachineFile).contains("RefreshCount"), writable);
}

void TestRegistry::uncreatableMachineHiveFallsBack()
{
    // A machine hive that cannot even be created (its folder would be below a file).
    QVERIFY(QDir().mkpath(FDir->filePath("etc")));
    WriteAll(FDir->filePath("etc/file"), "x");
    FPaths.MachineFile = FDir->filePath("etc/file/machine.reg");

    TRegistry reader(TRegistryRoot::LocalMachine, FPaths);
    QVERIFY(!reader.OpenKeyReadOnly("SOFTWARE\\Velquin\\Torvane"));   // an empty hive
    TRegistry writer(TRegistryRoot::LocalMachine, FPaths);
    QVERIFY(writer.OpenKey("SOFTWARE\\Velquin\\Torvane", true));
    QVERIFY(writer.WriteInteger("RefreshInterval", 9));
    QVERIFY(reader.OpenKeyReadOnly("SOFTWARE\\Velquin\\Torvane"));
    QCOMPARE(reader.ReadInteger("RefreshInterval"), std::optional<std::int32_t>(9));
    QVERIFY(QFileInfo::exists(FPaths.MachineFallbackFile));
}

void TestRegistry::concurrentSavesLoseNothing()
{
    // Each writer has its own handle and its own lock file descriptor, as two programs
    // saving the same hive would.
    constexpr int Writers = 4;
    constexpr int ValuesEach = 40;
    std::vector<std::thread> writers;
    std::atomic<int> failures = 0;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&, w] {
            TRegistry user(TRegistryRoot::CurrentUser, FPaths);
            if (!user.OpenKey("Software\\Velquin\\Servers\\List Of Servers", true))
                ++failures;
            for (int i = 0; i < ValuesEach; ++i) {
                if (!user.WriteInteger(QStringLiteral("W%1-%2").arg(w).arg(i), i))
                    ++failures;
            }
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    QCOMPARE(failures.load(), 0);

    TRegistry reader(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(reader.OpenKeyReadOnly("Software\\Velquin\\Servers\\List Of Servers"));
    QCOMPARE(reader.GetValueNames().size(), Writers * ValuesEach);
}

void TestRegistry::staleTemporaryIsRemoved()
{
    TRegistry user(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(user.OpenKey("Software\\Velquin\\Servers\\HOST", true));
    const QDir folder = QFileInfo(FPaths.UserFile).absoluteDir();
    // What a save killed before its rename leaves, and a file of the user's own.
    WriteAll(folder.filePath("user.reg.saving-Ab12Cd"), "Windows Registry Editor Version 5.00\r\n");
    WriteAll(folder.filePath("user.reg.backup"), "mine");
    QVERIFY(user.WriteString("UserID", "sa"));
    QCOMPARE(folder.entryList(QDir::Files), QStringList({"user.reg", "user.reg.backup", "user.reg.lock"}));
}

void TestRegistry::failedSaveKeepsThePreviousFile()
{
    TRegistry user(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(user.OpenKey("Software\\Velquin\\Servers\\HOST", true));
    QVERIFY(user.WriteString("UserID", "sa"));
    const QByteArray before = ReadAll(FPaths.UserFile);

    // The disk "fills up" half-way through the new file (even root is bound by this).
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(before.size() + 64);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Settings not saved to .*user.reg: "));
    const bool written = user.WriteBinaryData("Password", QByteArray(4096, 'p'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!written);
    QCOMPARE(ReadAll(FPaths.UserFile), before);
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(FPaths.UserFile).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
    QCOMPARE(QFileInfo(FPaths.UserFile).absoluteDir().entryList(QDir::Files),
             QStringList({"user.reg", "user.reg.lock"}));
    QVERIFY(!user.ValueExists("Password"));
}

void TestRegistry::changesInPlaceAreSeen()
{
    // Another program rewrites the hive in place (same inode), the same size each time
    // and in quick succession: every read sees the latest, never a remembered parse.
    QDir().mkpath(QFileInfo(FPaths.MachineFile).absolutePath());
    TRegistry reader(TRegistryRoot::LocalMachine, FPaths);
    for (int n = 0; n < 30; ++n) {
        QFile file(FPaths.MachineFile);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.write(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velquin\\Torvane]\r\n"
                                  "\"RefreshInterval\"=dword:%1\r\n")
                       .arg(n, 8, 16, QLatin1Char('0'))
                       .toUtf8());
        file.close();
        QVERIFY(reader.OpenKeyReadOnly("SOFTWARE\\Velquin\\Torvane"));
        QCOMPARE(reader.ReadInteger("RefreshInterval"), std::optional<std::int32_t>(n));
    }
}

void TestRegistry::refusesWhatIsNotARegularFile_data()
{
    QTest::addColumn<QString>("path"); // empty: a FIFO in the test's folder
    QTest::newRow("FIFO") << QString();
    QTest::newRow("device") << "/dev/zero";
}

void TestRegistry::refusesWhatIsNotARegularFile()
{
    QFETCH(QString, path);
    if (path.isEmpty()) {
        path = FDir->filePath("user.fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    FPaths.UserFile = path;

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("Settings file " + QRegularExpression::escape(path) +
                                            " cannot be read: it is not a regular file"));
    TRegistry user(TRegistryRoot::CurrentUser, FPaths);
    QVERIFY(!user.OpenKeyReadOnly("Software\\Velquin"));
    QVERIFY(!user.OpenKey("Software\\Velquin", true));
    QVERIFY(!QFileInfo::exists(path + ".lock"));
    QVERIFY(!QFileInfo(path).isFile());
}

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
