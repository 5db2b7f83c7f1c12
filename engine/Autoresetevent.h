#pragma once
// An auto-reset event: Set releases one Wait (or the next one, if nobody waits yet),
// and the event resets itself as that wait returns.

#include <condition_variable>
#include <mutex>

class TAutoResetEvent
{
public:
    void Set()
    {
        {
            const std::lock_guard guard(Lock);
            Signalled = true;
        }
        Changed.notify_one();
    }

    void Wait()
    {
        std::unique_lock lock(Lock);
        Changed.wait(lock, [this] { return Signalled; });
        Signalled = false;
    }

private:
    std::mutex Lock;
    std::condition_variable Changed;
    bool Signalled = false;
};
