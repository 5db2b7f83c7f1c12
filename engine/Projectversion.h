#pragma once
// TProjectRCVersion reads the version block that the build writes into the program file:
// the ELF section ".torvane_version" of the executable, holding "key=value" lines
// (FileVersion, FileDescription, ProductName, CompanyName, ProductVersion) and a zero
// byte. The block is read from the file, not from memory, so a program file stripped of
// its block (objcopy --remove-section) or given another one reads as the file says.

#include <QString>

#include <map>
#include <optional>

class TProjectRCVersion
{
public:
    // The running program's own file.
    TProjectRCVersion();
    // Any ELF file, for example an installed copy. A file that cannot be read, is no ELF
    // file or has no block reads as one without a block.
    explicit TProjectRCVersion(const QString& programFile);

    bool HasBlock() const { return Block.has_value(); }
    // True with the value when the block holds it.
    bool GetProductName(QString& productName) const;
    bool GetFileVersion(QString& fileVersion) const;

    // The about box's version line: the file version split at its last "." into version
    // and build, "Version 1.3.0 Build 40". A file version without a "." is all version
    // and has no build ("7" gives "Version 7"), as has one ending in "." ("1.3." gives
    // "Version 1.3"). Without a product name and a file version with a version part
    // (none, "" or ".5"): "Version 1.3".
    QString VersionText() const;

private:
    bool GetValue(const QString& key, QString& value) const;

    std::optional<std::map<QString, QString>> Block;
};
