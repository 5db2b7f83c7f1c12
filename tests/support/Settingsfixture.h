#pragma once
// Gives each test its own settings store in a temporary folder, through the variables
// that name the hive files, and saves settings the way the properties dialog does.

#include "settings/Registry.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdint>
#include <variant>

class TSettingsFixture
{
public:
    TSettingsFixture()
    {
        qputenv("TORVANE_HKLM_FILE", QFile::encodeName(FDir.filePath("machine.reg")));
        qputenv("TORVANE_HKCU_FILE", QFile::encodeName(FDir.filePath("user/user.reg")));
    }
    // Leaves the variables alone once a newer fixture has named its own files, so that
    // replacing one fixture by another never lets a test write the real hives.
    ~TSettingsFixture()
    {
        if (qgetenv("TORVANE_HKLM_FILE") == QFile::encodeName(FDir.filePath("machine.reg")))
            qunsetenv("TORVANE_HKLM_FILE");
        if (qgetenv("TORVANE_HKCU_FILE") == QFile::encodeName(FDir.filePath("user/user.reg")))
            qunsetenv("TORVANE_HKCU_FILE");
    }
    TSettingsFixture(const TSettingsFixture&) = delete;
    TSettingsFixture& operator=(const TSettingsFixture&) = delete;

    QString Folder() const { return FDir.path(); }

    bool Save(const char* key, const char* name, std::variant<std::int32_t, QString> data) const
    {
        TRegistry registry(TRegistryRoot::LocalMachine);
        if (!registry.OpenKey(QString::fromLatin1(key), true))
            return false;
        if (const auto* number = std::get_if<std::int32_t>(&data))
            return registry.WriteInteger(QString::fromLatin1(name), *number);
        return registry.WriteString(QString::fromLatin1(name), std::get<QString>(data));
    }

private:
    QTemporaryDir FDir;
};
