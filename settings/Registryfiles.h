#pragma once
// Where the two hives live, and how they are read and saved.
//
// The machine hive (HKEY_LOCAL_MACHINE) is shared by every user; a user who cannot write
// it saves the machine settings to a file of their own beside the user hive, which from
// then on is read in its place. That file starts as a copy of the shared one, so an
// administrator's settings still hold for every value the user did not change.

#include "settings/Registryhive.h"

#include <QString>

#include <functional>

enum class TRegistryRoot
{
    LocalMachine,
    CurrentUser,
};

struct TRegistryPaths
{
    QString MachineFile;
    QString MachineFallbackFile;
    QString UserFile;

    // TORVANE_HKLM_FILE and TORVANE_HKCU_FILE name the files when set. Otherwise the
    // user hive is $XDG_CONFIG_HOME/velquin/user.reg (~/.config when unset) and the
    // machine hive /etc/velquin/machine.reg. The machine fallback is "machine.reg" in
    // the user hive's folder.
    static TRegistryPaths FromEnvironment();

    // The file the given hive is read from now.
    QString ReadPath(TRegistryRoot root) const;
};

QString RegistryRootName(TRegistryRoot root);   // "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"

// The hive as it is on disk; a missing file is an empty hive. A file that does not parse
// is reported once on standard error and read as far as it parses; Complete is then false.
// So is a path that is not a regular file (a FIFO, a device), which is not read at all.
// A file unchanged since it was last read is not parsed again.
struct TLoadedHive
{
    TRegistryHive Hive;
    bool Complete = true;
};
TLoadedHive LoadHive(TRegistryRoot root, const TRegistryPaths& paths);

// Reads the hive afresh, applies change and writes the whole hive back atomically (a new
// file renamed over the old), so every key and value the change did not touch is kept.
// Saves of one hive by several programs are serialised by an exclusive lock on
// "<hive>.lock" beside it, held from the read to the rename; readers take no lock. A
// temporary file a killed save left behind is removed by the next save. The user hive is
// written with permissions 0600. Returns false, with a message on standard error and the
// previous file whole, when nothing could be written or when the file on disk did not
// parse completely (saving would drop what could not be read).
bool UpdateHive(TRegistryRoot root, const TRegistryPaths& paths,
                const std::function<void(TRegistryHive&)>& change);
