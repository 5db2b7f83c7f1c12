#pragma once
// The clocks the server statistics depend on, behind one interface so that tests can
// move time by hours in microseconds.

#include "engine/Commonfuncs.h"

#include <cstdint>

class TClock
{
public:
    virtual ~TClock() = default;
    // Local wall-clock date-time.
    virtual TDateTime Now() const = 0;
    // A millisecond counter that wraps at 2^32 and never jumps with the wall clock.
    virtual std::uint32_t TickCount() const = 0;
};

class TSystemClock final : public TClock
{
public:
    TDateTime Now() const override;
    std::uint32_t TickCount() const override;
};

// A clock for every object that is not given one; it holds no state.
const TClock& SystemClock();
