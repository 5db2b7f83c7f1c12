#pragma once
// The logged-in sessions by spid, so that a KILL of a client's process can end that
// client's connection, as a real server does. Thread-safe.

#include <map>
#include <mutex>

namespace sandbox {

class TTdsSession;

class TTdsSessionRegistry
{
public:
    void Add(int spid, TTdsSession& session);
    // Only removes the entry if it still names this session (the spid may be reused).
    void Remove(int spid, const TTdsSession& session);
    // Ends the connection of the session with this spid; false when there is none.
    bool Kill(int spid);

private:
    std::mutex FMutex;
    std::map<int, TTdsSession*> FSessions;
};

} // namespace sandbox
