#include "app/Secrets.h"

#include <QtGlobal>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <sys/prctl.h>
#include <sys/resource.h>

void ProtectProcessMemory()
{
    const char* wanted = std::getenv("TORVANE_CORE_DUMPS");
    if (wanted && std::strcmp(wanted, "1") == 0)
        return;
    const rlimit none{0, 0};
    if (::setrlimit(RLIMIT_CORE, &none) != 0 || ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        std::cerr << "Core dumps could not be turned off: " << std::strerror(errno) << std::endl;
}

QString TakePasswordFromEnvironment()
{
    constexpr const char* Name = "TORVANE_PASSWORD";
    char* value = std::getenv(Name);
    if (!value)
        return {};
    const QString password = QString::fromLocal8Bit(value);
    ::explicit_bzero(value, std::strlen(value));
    qunsetenv(Name);
    return password;
}
