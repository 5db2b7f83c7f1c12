#pragma once
// Who blocks whom on one server, as the last refresh left the user processes: the lead
// blockers (processes that block others and wait for nobody), how many sessions wait
// behind each (directly, and in all through the sessions that wait on them), and the
// chains as a tree for the views, the headless monitor and the alert mails.
//
// The server's blocked column may name what is not a session: -2 an orphaned
// distributed transaction, -3 a transaction in deferred recovery, -4 a latch whose owner
// the server could not tell. Those, and a SPID that is no longer listed, head their own
// chains. A process the server reports as blocked by itself (waiting on its own I/O or
// parallel threads) blocks nobody else by it and heads its chain like any lead blocker.
// Rows read in the middle of a change can make a cycle; each cycle is shown once, from
// one of its members, and never walked twice.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class TTorvaneProcessThreads;
class TTorvaneProcessUserProcesses;

// What a blocked value says when it is not a SPID: "orphaned distributed transaction",
// "deferred recovery" or "latch owner unknown" for -2, -3 and -4; empty for any other.
std::string_view BlockingOwnerName(int32_t blocked);

class TBlockingChains
{
public:
    enum class THead
    {
        None,        // a waiting session
        LeadBlocker, // a process that blocks others and waits for nobody
        Owner,       // -2, -3, -4: not a session (BlockingOwnerName)
        NotListed,   // a SPID other sessions wait for that the snapshot did not list
        Cycle,       // a member of a cycle, from which the cycle is shown
    };

    // One row of the tree, in the order shown: each head, then its waiting sessions
    // depth first, the deepest chain and then the longest wait first.
    struct TNode
    {
        int32_t Spid = 0;  // the blocked value itself for an Owner head
        int32_t Depth = 0; // 0 for a head
        THead Head = THead::None;
        int32_t DirectWaiters = 0;
        int32_t AllWaiters = 0;
        int32_t WaitTime = 0; // milliseconds
        std::string WaitType;
        std::string WaitResource;
        std::string Login;
    };

    struct TLead
    {
        int32_t Spid;
        int32_t DirectWaiters;
        int32_t AllWaiters;
    };

    // Reads the processes' SPIDs and blocked values, and for the tree's rows their
    // logins and the wait type and resource of their first thread (threads may be null).
    void Build(const TTorvaneProcessUserProcesses& processes, const TTorvaneProcessThreads* threads);

    // The lead blockers by ascending SPID.
    std::span<const TLead> Leads() const { return FLeads; }
    // The lead blocker with this SPID; null when the process is none.
    const TLead* FindLead(int32_t spid) const;
    std::span<const TNode> Tree() const { return FTree; }

    // A node's SPID with what heads the chain: "53 lead blocker", "-2 orphaned
    // distributed transaction", "71 not listed", "64 cycle", or the SPID alone.
    static std::string SpidText(const TNode& node);

private:
    std::vector<TLead> FLeads;
    std::vector<TNode> FTree;
};
