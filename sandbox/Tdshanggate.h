#pragma once
// The "hung server" switch all sessions consult before answering: hung for some
// seconds or until resumed. Thread-safe.

#include <chrono>
#include <mutex>

namespace sandbox {

class TTdsHangGate
{
public:
    // Hung for seconds from now; 0 or less: until Resume().
    void Hang(int seconds)
    {
        const std::lock_guard lock(FMutex);
        FHung = true;
        FForever = seconds <= 0;
        FUntil = Clock::now() + std::chrono::seconds(seconds);
    }
    void Resume()
    {
        const std::lock_guard lock(FMutex);
        FHung = false;
    }
    bool IsHung() const
    {
        const std::lock_guard lock(FMutex);
        return FHung && (FForever || Clock::now() < FUntil);
    }

private:
    using Clock = std::chrono::steady_clock;
    mutable std::mutex FMutex;
    bool FHung = false;
    bool FForever = false;
    Clock::time_point FUntil;
};

} // namespace sandbox
