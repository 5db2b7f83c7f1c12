#pragma once
// The protocol through which a refresh feeds a snapshot to an aggregation:
// BeginRefresh, then AddProcess for every row in the server's order, then EndRefresh.
// Between EndRefresh and the next BeginRefresh an aggregation holds exactly the last
// snapshot; that is when the views read it. Everything runs on the main thread.
//
// Each aggregation keeps per entry a seen mark, the current counters (sums over the
// rows that map to the entry), the previous refresh's counters and, for CPU and
// physical IO, the baselines of the last reset. Entries no row mapped to are dropped at
// EndRefresh.

#include "model/Allocatedbuffer.h" // the block every aggregation keeps its table in
#include "model/Processrecord.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

// Turns a date-time text of the snapshot (login_time, last_batch, in the user's format)
// back into its value, so that texts can be compared by time; nullopt when it does not
// parse. Supplied by the engine, which wrote the texts.
using TDateTimeTextParser = std::function<std::optional<double>(std::string_view text)>;

class TTorvaneProcessCategories
{
public:
    virtual ~TTorvaneProcessCategories() = default;

    virtual void BeginRefresh() {}
    virtual void EndRefresh() {}
    virtual void AddProcess(const ProcessRecord& record) { static_cast<void>(record); }
    // Removes the entry at a position of the table; not part of the refresh.
    virtual void RemoveEntry(int32_t position) { static_cast<void>(position); }

protected:
    TTorvaneProcessCategories() = default;
    TTorvaneProcessCategories(const TTorvaneProcessCategories&) = delete;
    TTorvaneProcessCategories& operator=(const TTorvaneProcessCategories&) = delete;
};
