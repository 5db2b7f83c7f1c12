#include "settings/Registryfiles.h"

#include "settings/Regfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// A hive that does not parse is read at every refresh; its message is worth reading once.
// This is the one piece of process-wide state in the store, and it only mutes repeats.
void ReportOnce(const QString& message)
{
    static std::mutex lock;
    static std::set<QString> reported;
    const std::lock_guard guard(lock);
    if (reported.insert(message).second)
        qWarning().noquote() << message;
}

class TFileDescriptor
{
public:
    explicit TFileDescriptor(int fd) : FFd(fd) {}
    ~TFileDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int Get() const { return FFd; }
    bool Close()
    {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

QString SystemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Writes a new file beside the old one and renames it over it, so that a reader sees
// either the old hive or the new one, never a part.
bool WriteAtomically(const QString& path, const QByteArray& content, mode_t mode, QString& error)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        error = QStringLiteral("cannot create the folder %1").arg(info.absolutePath());
        return false;
    }
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    TFileDescriptor fd(::mkstemp(temporary.data()));   // created 0600
    if (fd.Get() < 0) {
        error = SystemError();
        return false;
    }
    const auto fail = [&] {
        error = SystemError();
        ::unlink(temporary.constData());
        return false;
    };
    for (qsizetype done = 0; done < content.size();) {
        const ssize_t n = ::write(fd.Get(), content.constData() + done, static_cast<size_t>(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail();
        done += n;
    }
    if (::fchmod(fd.Get(), mode) != 0 || ::fsync(fd.Get()) != 0 || !fd.Close())
        return fail();
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        return fail();
    return true;
}

mode_t SharedFileMode(const QString& path)
{
    struct stat st{};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        return st.st_mode & 07777;
    return 0644;
}
} // namespace

TRegistryPaths TRegistryPaths::FromEnvironment()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))   // relative values are to be ignored
        config = QDir::homePath() + QStringLiteral("/.config");
    TRegistryPaths paths;
    paths.UserFile = qEnvironmentVariable("TORVANE_HKCU_FILE");
    if (paths.UserFile.isEmpty())
        paths.UserFile = config + QStringLiteral("/velquin/user.reg");
    paths.MachineFile = qEnvironmentVariable("TORVANE_HKLM_FILE");
    if (paths.MachineFile.isEmpty())
        paths.MachineFile = QStringLiteral("/etc/velquin/machine.reg");
    paths.MachineFallbackFile = QFileInfo(paths.UserFile).absolutePath() + QStringLiteral("/machine.reg");
    return paths;
}

QString TRegistryPaths::ReadPath(TRegistryRoot root) const
{
    if (root == TRegistryRoot::CurrentUser)
        return UserFile;
    if (!MachineFallbackFile.isEmpty() && QFileInfo::exists(MachineFallbackFile))
        return MachineFallbackFile;
    return MachineFile;
}

QString RegistryRootName(TRegistryRoot root)
{
    return root == TRegistryRoot::LocalMachine ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                               : QStringLiteral("HKEY_CURRENT_USER");
}

TLoadedHive LoadHive(TRegistryRoot root, const TRegistryPaths& paths)
{
    const QString path = paths.ReadPath(root);
    QFile file(path);
    if (!file.exists())
        return {TRegistryHive(RegistryRootName(root)), true};
    if (!file.open(QIODevice::ReadOnly)) {
        ReportOnce(QStringLiteral("Settings file %1 cannot be read: %2").arg(path, file.errorString()));
        return {TRegistryHive(RegistryRootName(root)), false};
    }
    TRegFileContent content = ReadRegFile(file.readAll(), RegistryRootName(root));
    if (!content.Error.isEmpty()) {
        ReportOnce(QStringLiteral("Settings file %1 does not parse, read up to the error: %2")
                       .arg(path, content.Error));
        return {std::move(content.Hive), false};
    }
    return {std::move(content.Hive), true};
}

bool UpdateHive(TRegistryRoot root, const TRegistryPaths& paths,
                const std::function<void(TRegistryHive&)>& change)
{
    const QString readPath = paths.ReadPath(root);
    TLoadedHive loaded = LoadHive(root, paths);
    if (!loaded.Complete) {
        qWarning().noquote() << QStringLiteral("Settings not saved: %1 could not be read completely, "
                                               "and saving would lose what it holds").arg(readPath);
        return false;
    }
    change(loaded.Hive);
    const QByteArray content = WriteRegFile(loaded.Hive);
    const TRegFileContent check = ReadRegFile(content, loaded.Hive.RootName());
    if (!check.Error.isEmpty() || WriteRegFile(check.Hive) != content) {
        // A name or text the file format cannot carry; writing it would break the file.
        qWarning().noquote() << QStringLiteral("Settings not saved to %1: a name cannot be written (%2)")
                                    .arg(readPath, check.Error);
        return false;
    }

    QString error;
    if (root == TRegistryRoot::CurrentUser || readPath != paths.MachineFile) {
        // The user hive, or the user's own copy of the machine hive.
        if (WriteAtomically(readPath, content, 0600, error))
            return true;
    } else {
        if (WriteAtomically(paths.MachineFile, content, SharedFileMode(paths.MachineFile), error))
            return true;
        const QString fallback = paths.MachineFallbackFile;
        if (!fallback.isEmpty() && fallback != paths.MachineFile) {
            // The shared hive is not ours to write: keep the settings, with everything
            // the shared file held, in the user's own copy.
            if (WriteAtomically(fallback, content, 0600, error))
                return true;
            qWarning().noquote() << QStringLiteral("Settings not saved to %1 nor to %2: %3")
                                        .arg(paths.MachineFile, fallback, error);
            return false;
        }
    }
    qWarning().noquote() << QStringLiteral("Settings not saved to %1: %2").arg(readPath, error);
    return false;
}
