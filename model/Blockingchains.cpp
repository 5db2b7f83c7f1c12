#include "model/Blockingchains.h"

#include "model/Celltext.h"
#include "model/Fixedtext.h"
#include "model/Prefetch.h"
#include "model/Torvaneprocessthreads.h"
#include "model/Torvaneprocessuserprocesses.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>

std::string_view BlockingOwnerName(int32_t blocked)
{
    switch (blocked) {
    case -2:
        return "orphaned distributed transaction";
    case -3:
        return "deferred recovery";
    case -4:
        return "latch owner unknown";
    default:
        return {};
    }
}

namespace {

constexpr int32_t None = -1;

// The sessions that take part in a chain (waiting or blocking) and what heads each
// chain, linked by their blockers.
struct TGraph
{
    struct TVertex
    {
        int32_t Spid;
        int32_t Position = None; // in the user processes; None for a head that is not listed
        TBlockingChains::THead Head = TBlockingChains::THead::None;
        int32_t Parent = None; // the vertex it waits for
        int32_t WaitTime = 0;
        // Filled by the walk:
        bool Visited = false;
        int32_t Height = 0;  // levels of waiting sessions below it
        int32_t MaxWait = 0; // the longest wait at or below it
        int32_t Size = 1;    // itself and every session below it
    };
    std::vector<TVertex> Vertices;
    std::unordered_map<int32_t, int32_t> BySpid; // listed SPIDs and owner values
    std::vector<int32_t> ChildStart;             // children of v: Children[ChildStart[v] .. ChildStart[v+1])
    std::vector<int32_t> Children;

    int32_t VertexOf(int32_t spid, int32_t position, TBlockingChains::THead head)
    {
        const auto [at, added] = BySpid.try_emplace(spid, static_cast<int32_t>(Vertices.size()));
        if (added)
            Vertices.push_back({spid, position, head});
        return at->second;
    }

    bool TreeChild(int32_t parent, int32_t child) const { return Vertices[child].Parent == parent; }
    std::span<const int32_t> ChildrenOf(int32_t v) const
    {
        return std::span<const int32_t>(Children).subspan(ChildStart[v], ChildStart[v + 1] - ChildStart[v]);
    }
};

const ProcessEntry* FindEntry(const TTorvaneProcessUserProcesses& processes, int32_t spid, int32_t& position)
{
    int32_t low = 0;
    int32_t high = processes.Count();
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        if (processes.Entry(middle).Spid < spid)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == processes.Count() || processes.Entry(low).Spid != spid)
        return nullptr;
    position = low;
    return &processes.Entry(low);
}

// The waiting sessions and their blockers.
TGraph ReadGraph(const TTorvaneProcessUserProcesses& processes)
{
    TGraph graph;
    struct TWait
    {
        int32_t Position;
        int32_t Blocked;
    };
    std::vector<TWait> waits;
    const int32_t count = processes.Count();
    // Entries are over a kilobyte each and the walk reads 8 bytes of them.
    constexpr int32_t Ahead = 8;
    for (int32_t i = 0; i < count; ++i) {
        if (i + Ahead < count)
            Prefetch(&processes.Entry(i + Ahead).Blocked, sizeof(int32_t));
        const ProcessEntry& entry = processes.Entry(i);
        if (entry.Blocked != 0 && entry.Blocked != entry.Spid)
            waits.push_back({i, entry.Blocked});
    }
    graph.BySpid.reserve(waits.size() * 2);
    for (const TWait& wait : waits) {
        const ProcessEntry& entry = processes.Entry(wait.Position);
        const int32_t waiter = graph.VertexOf(entry.Spid, wait.Position, TBlockingChains::THead::None);
        int32_t blocker = None;
        int32_t position = None;
        if (wait.Blocked < 0)
            blocker = graph.VertexOf(wait.Blocked, None, TBlockingChains::THead::Owner);
        else if (FindEntry(processes, wait.Blocked, position))
            blocker = graph.VertexOf(wait.Blocked, position, TBlockingChains::THead::None);
        else
            blocker = graph.VertexOf(wait.Blocked, None, TBlockingChains::THead::NotListed);
        graph.Vertices[waiter].Parent = blocker;
    }
    const auto vertices = static_cast<int32_t>(graph.Vertices.size());
    graph.ChildStart.assign(static_cast<std::size_t>(vertices) + 1, 0);
    for (const TGraph::TVertex& vertex : graph.Vertices) {
        if (vertex.Parent != None)
            ++graph.ChildStart[static_cast<std::size_t>(vertex.Parent) + 1];
    }
    for (int32_t v = 0; v < vertices; ++v)
        graph.ChildStart[v + 1] += graph.ChildStart[v];
    graph.Children.resize(static_cast<std::size_t>(graph.ChildStart[vertices]));
    std::vector<int32_t> next(graph.ChildStart.begin(), graph.ChildStart.end() - 1);
    for (int32_t v = 0; v < vertices; ++v) {
        const int32_t parent = graph.Vertices[v].Parent;
        if (parent != None)
            graph.Children[next[parent]++] = v;
    }
    for (TGraph::TVertex& vertex : graph.Vertices) {
        if (vertex.Position != None)
            vertex.WaitTime = processes.Entry(vertex.Position).WaitTime;
    }
    return graph;
}

// Marks the head's tree as visited and fills heights, longest waits and sizes, children
// before their parents, without recursion (a chain may be thousands long).
void Measure(TGraph& graph, int32_t head)
{
    std::vector<std::pair<int32_t, bool>> stack{{head, false}};
    graph.Vertices[head].Visited = true;
    while (!stack.empty()) {
        const auto [v, childrenDone] = stack.back();
        stack.pop_back();
        TGraph::TVertex& vertex = graph.Vertices[v];
        if (!childrenDone) {
            stack.push_back({v, true});
            for (const int32_t child : graph.ChildrenOf(v)) {
                if (graph.TreeChild(v, child) && !graph.Vertices[child].Visited) {
                    graph.Vertices[child].Visited = true;
                    stack.push_back({child, false});
                }
            }
            continue;
        }
        vertex.MaxWait = vertex.Head == TBlockingChains::THead::None ? vertex.WaitTime : 0;
        for (const int32_t child : graph.ChildrenOf(v)) {
            if (!graph.TreeChild(v, child))
                continue;
            const TGraph::TVertex& below = graph.Vertices[child];
            vertex.Height = std::max(vertex.Height, below.Height + 1);
            vertex.MaxWait = std::max(vertex.MaxWait, below.MaxWait);
            vertex.Size += below.Size;
        }
    }
}

// The deepest chain first, then the longest wait, then the lower SPID.
bool ShownBefore(const TGraph& graph, int32_t a, int32_t b)
{
    const TGraph::TVertex& x = graph.Vertices[a];
    const TGraph::TVertex& y = graph.Vertices[b];
    return std::tuple(-x.Height, -x.MaxWait, x.Spid) < std::tuple(-y.Height, -y.MaxWait, y.Spid);
}

} // namespace

void TBlockingChains::Build(const TTorvaneProcessUserProcesses& processes,
                            const TTorvaneProcessThreads* threads)
{
    FLeads.clear();
    FTree.clear();
    TGraph graph = ReadGraph(processes);
    const auto vertices = static_cast<int32_t>(graph.Vertices.size());
    if (vertices == 0)
        return;

    std::vector<int32_t> heads;
    for (int32_t v = 0; v < vertices; ++v) {
        TGraph::TVertex& vertex = graph.Vertices[v];
        if (vertex.Parent != None)
            continue;
        if (vertex.Head == THead::None)
            vertex.Head = THead::LeadBlocker;
        heads.push_back(v);
        Measure(graph, v);
    }
    // What is left waits in a cycle or below one. Each cycle is entered from its member
    // the walk up from the lowest such SPID reaches twice; cutting that member from its
    // blocker makes it the head of a tree like the others.
    std::vector<int32_t> left;
    for (int32_t v = 0; v < vertices; ++v) {
        if (!graph.Vertices[v].Visited)
            left.push_back(v);
    }
    std::sort(left.begin(), left.end(),
              [&](int32_t a, int32_t b) { return graph.Vertices[a].Spid < graph.Vertices[b].Spid; });
    std::vector<int32_t> walkMark(static_cast<std::size_t>(vertices), None);
    for (const int32_t start : left) {
        if (graph.Vertices[start].Visited)
            continue;
        int32_t v = start;
        while (walkMark[v] != start) {
            walkMark[v] = start;
            v = graph.Vertices[v].Parent;
        }
        graph.Vertices[v].Parent = None;
        graph.Vertices[v].Head = THead::Cycle;
        heads.push_back(v);
        Measure(graph, v);
    }

    for (const int32_t head : heads) {
        const TGraph::TVertex& vertex = graph.Vertices[head];
        if (vertex.Head == THead::LeadBlocker)
            FLeads.push_back({vertex.Spid, 0, vertex.Size - 1});
    }
    std::sort(FLeads.begin(), FLeads.end(), [](const TLead& a, const TLead& b) { return a.Spid < b.Spid; });

    // The tree, depth first, each level in the order shown.
    std::sort(heads.begin(), heads.end(), [&](int32_t a, int32_t b) { return ShownBefore(graph, a, b); });
    FTree.reserve(static_cast<std::size_t>(vertices));
    std::vector<std::pair<int32_t, int32_t>> stack; // vertex, depth
    std::vector<int32_t> level;
    for (auto head = heads.rbegin(); head != heads.rend(); ++head)
        stack.push_back({*head, 0});
    while (!stack.empty()) {
        const auto [v, depth] = stack.back();
        stack.pop_back();
        const TGraph::TVertex& vertex = graph.Vertices[v];
        level.clear();
        for (const int32_t child : graph.ChildrenOf(v)) {
            if (graph.TreeChild(v, child))
                level.push_back(child);
        }
        std::sort(level.begin(), level.end(), [&](int32_t a, int32_t b) { return ShownBefore(graph, a, b); });
        for (auto child = level.rbegin(); child != level.rend(); ++child)
            stack.push_back({*child, depth + 1});

        TNode node;
        node.Spid = vertex.Spid;
        node.Depth = depth;
        node.Head = vertex.Head;
        node.DirectWaiters = static_cast<int32_t>(level.size());
        node.AllWaiters = vertex.Size - 1;
        if (vertex.Position != None) {
            const ProcessEntry& entry = processes.Entry(vertex.Position);
            node.WaitTime = entry.WaitTime;
            node.Login = FixedText(entry.LoginName);
            if (threads) {
                int32_t low = 0;
                int32_t high = threads->Count();
                while (low < high) {
                    const int32_t middle = low + (high - low) / 2;
                    if (threads->Entry(middle).Spid < vertex.Spid)
                        low = middle + 1;
                    else
                        high = middle;
                }
                if (low < threads->Count() && threads->Entry(low).Spid == vertex.Spid) {
                    node.WaitType = FixedText(threads->Entry(low).LastWaitType);
                    node.WaitResource = FixedText(threads->Entry(low).WaitResource);
                }
            }
        }
        if (node.Head == THead::LeadBlocker) {
            const auto lead = std::lower_bound(FLeads.begin(), FLeads.end(), node.Spid,
                                               [](const TLead& l, int32_t spid) { return l.Spid < spid; });
            lead->DirectWaiters = node.DirectWaiters;
        }
        FTree.push_back(std::move(node));
    }
}

const TBlockingChains::TLead* TBlockingChains::FindLead(int32_t spid) const
{
    const auto lead = std::lower_bound(FLeads.begin(), FLeads.end(), spid,
                                       [](const TLead& l, int32_t s) { return l.Spid < s; });
    return lead != FLeads.end() && lead->Spid == spid ? &*lead : nullptr;
}

std::string TBlockingChains::SpidText(const TNode& node)
{
    std::string text(TCellText::Decimal(node.Spid));
    switch (node.Head) {
    case THead::None:
        break;
    case THead::LeadBlocker:
        text += " lead blocker";
        break;
    case THead::Owner:
        text += ' ';
        text += BlockingOwnerName(node.Spid);
        break;
    case THead::NotListed:
        text += " not listed";
        break;
    case THead::Cycle:
        text += " cycle";
        break;
    }
    return text;
}
