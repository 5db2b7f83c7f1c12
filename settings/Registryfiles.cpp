#include "settings/Registryfiles.h"

#include "settings/Regfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// A hive that does not parse is read at every refresh; its message is worth reading once.
// Process-wide like the hive cache below, and it only mutes repeats.
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

// Larger than any settings file; what is larger is not read into memory.
constexpr off_t MaxHiveBytes = 64 * 1024 * 1024;

// A save writes "<hive>.saving-XXXXXX" beside the hive and renames it over the hive.
QString TemporaryPrefix(const QString& path)
{
    return QFileInfo(path).fileName() + QStringLiteral(".saving-");
}

bool Earlier(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// One version of a file. A save renames a new file into place, which gives the hive a
// new inode and change time; an edit in place changes the times and usually the size.
struct TFileStamp
{
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    timespec Modified{};
    timespec Changed{};

    explicit TFileStamp(const struct stat& st)
        : Device(st.st_dev), Inode(st.st_ino), Size(st.st_size), Modified(st.st_mtim), Changed(st.st_ctim)
    {
    }
    bool operator==(const TFileStamp& other) const
    {
        return Device == other.Device && Inode == other.Inode && Size == other.Size &&
               !Earlier(Modified, other.Modified) && !Earlier(other.Modified, Modified) &&
               !Earlier(Changed, other.Changed) && !Earlier(other.Changed, Changed);
    }
};

// The hives read last with what they held, so that a file that has not changed is not
// parsed again: the machine hive is read several times per refresh of every server.
// A stamp alone vouches for an unchanged file only once the file's times lie well before
// the moment it was read; a file changed within the same tick of the file system's clock
// (with the inode of the file it replaced) is otherwise compared byte for byte.
class THiveCache
{
public:
    // The content of the file open as fd, parsed; empty with error set when it cannot
    // be read. Files are read and parsed outside the cache's lock.
    std::optional<TRegFileContent> Read(const QString& path, const QString& rootName, int fd,
                                        const struct stat& st, QString& error)
    {
        const TFileStamp stamp(st);
        {
            const std::lock_guard guard(FLock);
            const auto entry = Find(path, rootName);
            if (entry != FEntries.end() && entry->Stamp == stamp && entry->Settled)
                return Use(entry);
        }
        timespec readAt{};
        ::clock_gettime(CLOCK_REALTIME, &readAt);
        QByteArray content;
        if (!ReadContent(fd, content, error))
            return std::nullopt;
        // The file system's clock is coarse: a change within the tick of the read could
        // leave the same times behind.
        readAt.tv_sec -= 1;
        const bool settled = Earlier(st.st_ctim, readAt) && Earlier(st.st_mtim, readAt);
        {
            const std::lock_guard guard(FLock);
            const auto entry = Find(path, rootName);
            if (entry != FEntries.end() && entry->Content == content) {
                entry->Stamp = stamp;
                entry->Settled = settled;
                return Use(entry);
            }
        }
        TRegFileContent parsed = ReadRegFile(content, rootName);
        const std::lock_guard guard(FLock);
        const auto entry = Find(path, rootName);
        if (entry != FEntries.end())
            FEntries.erase(entry);
        if (FEntries.size() == Kept)
            FEntries.erase(FEntries.begin());
        FEntries.push_back({path, stamp, settled, content, parsed});
        return parsed;
    }

private:
    struct TEntry
    {
        QString Path;
        TFileStamp Stamp;
        bool Settled;
        QByteArray Content;
        TRegFileContent Parsed;
    };
    static constexpr std::size_t Kept = 8;

    std::vector<TEntry>::iterator Find(const QString& path, const QString& rootName)
    {
        return std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& e) {
            return e.Path == path && e.Parsed.Hive.RootName() == rootName;
        });
    }

    TRegFileContent Use(std::vector<TEntry>::iterator entry)
    {
        // The most recently used stays longest.
        std::rotate(entry, entry + 1, FEntries.end());
        return FEntries.back().Parsed;
    }

    static bool ReadContent(int fd, QByteArray& content, QString& error)
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = SystemError();
                return false;
            }
            if (n == 0)
                return true;
            content.append(buffer, n);
            if (content.size() > MaxHiveBytes) {
                error = QStringLiteral("it is larger than a settings file can be");
                return false;
            }
        }
    }

    std::mutex FLock;
    std::vector<TEntry> FEntries;
};

// One cache for the process: readers of the same hive run on several threads and in
// many short-lived registry handles.
THiveCache& HiveCache()
{
    static THiveCache cache;
    return cache;
}

// Makes the folder and any missing folder above it with exactly mode, whatever the
// umask: a hive that only its user may read (0600) gets folders only its user may
// enter, so a umask of 000 does not leave its folder open to everyone.
bool MakeFolders(const QString& path, mode_t mode)
{
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.dir().absolutePath() == info.absoluteFilePath() || !MakeFolders(info.dir().absolutePath(), mode))
        return false;
    const QByteArray name = QFile::encodeName(info.absoluteFilePath());
    if (::mkdir(name.constData(), mode) != 0)
        return errno == EEXIST && QFileInfo(path).isDir();
    return ::chmod(name.constData(), mode) == 0;
}

// How long a save waits for another program's save of the same hive to finish.
constexpr auto LockPatience = std::chrono::seconds(5);

// An exclusive lock on "<hive>.lock" beside a hive, held while the hive is read, changed
// and renamed into place, so that two programs saving the same hive at once cannot lose
// each other's changes. Readers need no lock: the rename is atomic.
class THiveLock
{
public:
    // False with error set when the lock file cannot be made (the folder is not ours to
    // write, so neither is the hive) or another save holds it too long.
    bool Acquire(const QString& hivePath, mode_t mode, QString& error)
    {
        const QFileInfo info(hivePath);
        // Folders are searchable by those who may read the hive.
        const mode_t folderMode = S_IRWXU | ((mode & S_IRGRP) ? S_IRGRP | S_IXGRP : 0) |
                                  ((mode & S_IROTH) ? S_IROTH | S_IXOTH : 0);
        if (!MakeFolders(info.absolutePath(), folderMode)) {
            error = QStringLiteral("cannot create the folder %1").arg(info.absolutePath());
            return false;
        }
        const QByteArray path = QFile::encodeName(hivePath) + ".lock";
        int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd < 0 && errno == EACCES) // another user's lock file, beside a hive we may write
            fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
        FFile = std::make_unique<TFileDescriptor>(fd);
        struct stat st = {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            error = SystemError();
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            error = QStringLiteral("its lock file %1 is not a regular file").arg(QFile::decodeName(path));
            return false;
        }
        const auto giveUp = std::chrono::steady_clock::now() + LockPatience;
        for (;;) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
                return true;
            if (errno != EWOULDBLOCK && errno != EINTR) {
                error = SystemError();
                return false;
            }
            if (std::chrono::steady_clock::now() >= giveUp) {
                error = QStringLiteral("another program has been saving it for %1 seconds")
                            .arg(std::chrono::seconds(LockPatience).count());
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    std::unique_ptr<TFileDescriptor> FFile; // closing it releases the lock
};

// A save killed between writing its temporary file and renaming it leaves the file
// behind; under the lock no other save is writing one, so every such file is stale.
void RemoveStaleTemporaries(const QString& path)
{
    const QFileInfo info(path);
    const QString prefix = TemporaryPrefix(path);
    const QDir folder = info.absoluteDir();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name.size() == prefix.size() + 6 && name.startsWith(prefix))
            ::unlink(QFile::encodeName(folder.filePath(name)).constData());
    }
}

// Writes a new file beside the old one and renames it over it, so that a reader sees
// either the old hive or the new one, never a part. The caller holds the hive's lock.
bool WriteAtomically(const QString& path, const QByteArray& content, mode_t mode, QString& error)
{
    RemoveStaleTemporaries(path);
    QByteArray temporary =
        QFile::encodeName(QFileInfo(path).absoluteDir().filePath(TemporaryPrefix(path))) + "XXXXXX";
    TFileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC)); // created 0600
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
    struct stat st = {};
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
    const QString rootName = RegistryRootName(root);
    const auto unread = [&](const QString& why) {
        ReportOnce(QStringLiteral("Settings file %1 cannot be read: %2").arg(path, why));
        return TLoadedHive{TRegistryHive(rootName), false};
    };
    // Opened without blocking, so that a FIFO put in the hive's place cannot stop the
    // program; only a regular file is read.
    const TFileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {TRegistryHive(rootName), true};
        return unread(SystemError());
    }
    struct stat st = {};
    if (::fstat(fd.Get(), &st) != 0)
        return unread(SystemError());
    if (!S_ISREG(st.st_mode))
        return unread(QStringLiteral("it is not a regular file"));
    if (st.st_size > MaxHiveBytes)
        return unread(QStringLiteral("it is larger than a settings file can be"));
    QString error;
    std::optional<TRegFileContent> content = HiveCache().Read(path, rootName, fd.Get(), st, error);
    if (!content)
        return unread(error);
    if (!content->Error.isEmpty()) {
        ReportOnce(QStringLiteral("Settings file %1 does not parse, read up to the error: %2")
                       .arg(path, content->Error));
        return {std::move(content->Hive), false};
    }
    return {std::move(content->Hive), true};
}

namespace {
enum class TSaveResult
{
    Saved,
    Refused,    // reported: saving would lose or break what the hive holds
    NotWritten, // the file could not be written; error says why
};

// Locks target, reads the hive afresh under the lock (so a save that finished while this
// one waited is kept), applies change and renames the new file into place.
TSaveResult SaveHive(TRegistryRoot root, const TRegistryPaths& paths, const QString& target, mode_t mode,
                     const std::function<void(TRegistryHive&)>& change, QString& error)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(target).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        // Not even a lock file is made beside a device or a FIFO.
        qWarning().noquote() << QStringLiteral("Settings not saved: %1 is not a regular file").arg(target);
        return TSaveResult::Refused;
    }
    THiveLock lock;
    if (!lock.Acquire(target, mode, error))
        return TSaveResult::NotWritten;
    const QString readPath = paths.ReadPath(root);
    if (root == TRegistryRoot::LocalMachine && target == paths.MachineFile && readPath != target) {
        error = QStringLiteral("the user's own copy %1 is read in its place").arg(readPath);
        return TSaveResult::NotWritten;
    }
    TLoadedHive loaded = LoadHive(root, paths);
    if (!loaded.Complete) {
        qWarning().noquote() << QStringLiteral("Settings not saved: %1 could not be read completely, "
                                               "and saving would lose what it holds").arg(readPath);
        return TSaveResult::Refused;
    }
    change(loaded.Hive);
    const QByteArray content = WriteRegFile(loaded.Hive);
    const TRegFileContent check = ReadRegFile(content, loaded.Hive.RootName());
    if (!check.Error.isEmpty() || WriteRegFile(check.Hive) != content) {
        // A name or text the file format cannot carry; writing it would break the file.
        qWarning().noquote() << QStringLiteral("Settings not saved to %1: a name cannot be written (%2)")
                                    .arg(target, check.Error);
        return TSaveResult::Refused;
    }
    return WriteAtomically(target, content, mode, error) ? TSaveResult::Saved : TSaveResult::NotWritten;
}
} // namespace

bool UpdateHive(TRegistryRoot root, const TRegistryPaths& paths,
                const std::function<void(TRegistryHive&)>& change)
{
    QString error;
    if (root == TRegistryRoot::CurrentUser) {
        const TSaveResult result = SaveHive(root, paths, paths.UserFile, 0600, change, error);
        if (result == TSaveResult::NotWritten)
            qWarning().noquote() << QStringLiteral("Settings not saved to %1: %2").arg(paths.UserFile, error);
        return result == TSaveResult::Saved;
    }
    const QString fallback = paths.MachineFallbackFile;
    const bool ownCopy = !fallback.isEmpty() && fallback != paths.MachineFile;
    if (paths.ReadPath(root) == paths.MachineFile) {
        const TSaveResult result =
            SaveHive(root, paths, paths.MachineFile, SharedFileMode(paths.MachineFile), change, error);
        if (result != TSaveResult::NotWritten)
            return result == TSaveResult::Saved;
        if (!ownCopy) {
            qWarning().noquote()
                << QStringLiteral("Settings not saved to %1: %2").arg(paths.MachineFile, error);
            return false;
        }
    }
    // The shared hive is not ours to write: keep the settings, with everything the shared
    // file held, in the user's own copy.
    QString fallbackError;
    const TSaveResult result = SaveHive(root, paths, fallback, 0600, change, fallbackError);
    if (result == TSaveResult::NotWritten) {
        qWarning().noquote()
            << (error.isEmpty() ? QStringLiteral("Settings not saved to %1: %2").arg(fallback, fallbackError)
                                : QStringLiteral("Settings not saved to %1 nor to %2: %3")
                                      .arg(paths.MachineFile, fallback, fallbackError));
    }
    return result == TSaveResult::Saved;
}
