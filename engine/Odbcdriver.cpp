#include "engine/Odbcdriver.h"

#include "engine/Dbconnectionstring.h"
#include "settings/Registry.h"
#include "settings/Torvanesettings.h"

#include <cstdlib>

std::string ChosenOdbcDriver()
{
    if (const char* name = std::getenv("TORVANE_ODBC_DRIVER"); name && *name)
        return name;
    TRegistry registry(TRegistryRoot::LocalMachine);
    if (registry.OpenKeyReadOnly(QString::fromLatin1(TorvaneSettings::RootKey)))
        if (const auto name = registry.ReadString(QStringLiteral("OdbcDriver")); name && !name->isEmpty())
            return name->toStdString();
    return DefaultOdbcDriver;
}
