#include "engine/Torvaneclock.h"

#include <chrono>

TDateTime TSystemClock::Now() const
{
    return CurrentDateTime();
}

std::uint32_t TSystemClock::TickCount() const
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

const TClock& SystemClock()
{
    static const TSystemClock clock;
    return clock;
}
