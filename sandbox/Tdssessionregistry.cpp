#include "sandbox/Tdssessionregistry.h"

#include "sandbox/Tdssession.h"

namespace sandbox {

void TTdsSessionRegistry::Add(int spid, TTdsSession& session)
{
    const std::lock_guard lock(FMutex);
    FSessions[spid] = &session;
}

void TTdsSessionRegistry::Remove(int spid, const TTdsSession& session)
{
    const std::lock_guard lock(FMutex);
    const auto found = FSessions.find(spid);
    if (found != FSessions.end() && found->second == &session)
        FSessions.erase(found);
}

bool TTdsSessionRegistry::Kill(int spid)
{
    // Under the lock, so the session cannot end and go away meanwhile.
    const std::lock_guard lock(FMutex);
    const auto found = FSessions.find(spid);
    if (found == FSessions.end())
        return false;
    found->second->Kill();
    return true;
}

} // namespace sandbox
