#pragma once
// A clock the test moves by hand: wall clock and tick counter advance together.

#include "engine/Torvaneclock.h"

#include <cstdint>

class TMockClock final : public TClock
{
public:
    explicit TMockClock(TDateTime start, std::uint32_t tick = 1000) : FNow(start), FTick(tick) {}

    TDateTime Now() const override { return FNow; }
    std::uint32_t TickCount() const override { return FTick; }

    void AdvanceMs(std::int64_t ms)
    {
        FNow += static_cast<double>(ms) / 86400000.0;
        FTick += static_cast<std::uint32_t>(ms);
    }
    void AdvanceSeconds(std::int64_t seconds) { AdvanceMs(seconds * 1000); }

private:
    TDateTime FNow;
    std::uint32_t FTick;
};
