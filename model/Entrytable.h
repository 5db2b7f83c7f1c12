#pragma once
// An aggregation's table for one refresh cycle: the entries kept sorted by key in an
// AllocatedBuffer, followed during a refresh by the entries its rows created.
//
// A row finds its entry by binary search. A new key does not move the table at once: its
// entry is appended behind the sorted entries, in arrival order, with a small index of
// the new entries by key (so later rows of the same key find it), and joins the table in
// one merge when the refresh ends, together with the removal of the entries no row
// mapped to. Between refreshes the table is one sorted array, the same as inserting every
// new entry at its place. Every entry is written where it stays, once: filling a table
// is linear in its entries, even when the first refresh creates tens of thousands.
//
// Order supplies the key: Order::KeyOf(entry) and Order::Compare(key, key) < 0, == 0, > 0.

#include "model/Allocatedbuffer.h"
#include "model/Prefetch.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

template <class Entry, class Order> class TEntryTable
{
public:
    explicit TEntryTable(int32_t capacityLimit) : Entries(capacityLimit) {}

    // The entry with this key, in the table or created during this refresh; nullptr if
    // none. The pointer is good until the next Add.
    template <class Key> Entry* Find(const Key& key)
    {
        const int32_t sorted = Sorted();
        // The server returns its rows by spid and ecid, in the same order refresh after
        // refresh: the n'th search of a refresh mostly wants what the n'th search of the
        // last one found, else what the previous search found, or the entry after it.
        const int32_t last = Call < Found.size() ? Found[Call] : -1;
        for (const int32_t position : {last, Hint, Hint + 1}) {
            if (position >= 0 && position < sorted &&
                Order::Compare(Order::KeyOf(Entries[position]), key) == 0)
                return Remember(position);
        }
        Entry* const end = Entries.begin() + sorted;
        Entry* const found = std::lower_bound(Entries.begin(), end, key, EntryBefore<Key>);
        if (found != end && Order::Compare(Order::KeyOf(*found), key) == 0)
            return Remember(static_cast<int32_t>(found - Entries.begin()));
        ++Call;
        const auto pending = PendingPosition(key);
        if (pending != AddedOrder.end() && Order::Compare(Order::KeyOf(Added(*pending)), key) == 0)
            return &Added(*pending);
        return nullptr;
    }

    // The entry that Find would most likely find next, when matches(entry) shows that it
    // is the one: for a caller that can tell that more cheaply than it can make the key.
    // matches must hold only for the entry of the key the caller would search. nullptr
    // (nothing noted) when the likely entries do not match; Find then searches.
    template <class Matches> Entry* FindLikely(Matches matches)
    {
        const int32_t sorted = Sorted();
        const int32_t last = Call < Found.size() ? Found[Call] : -1;
        for (const int32_t position : {last, Hint, Hint + 1}) {
            if (position >= 0 && position < sorted && matches(static_cast<const Entry&>(Entries[position])))
                return Remember(position);
        }
        return nullptr;
    }

    // A new entry whose key Find did not find; it joins the table's order at Sweep.
    // Dropped when the table cannot take more entries (it is then not valid for good).
    void Add(const Entry& entry)
    {
        if (!Entries.Valid() || !MakeRoom())
            return;
        try {
            AddedOrder.insert(PendingPosition(Order::KeyOf(entry)), static_cast<int32_t>(AddedOrder.size()));
        } catch (const std::bad_alloc&) {
            return; // not recorded, as when the table itself cannot grow
        }
        Entries.Append(entry);
    }

    // Room for `entries` entries made before the first refresh, which may create that
    // many: it then writes each entry once, where it stays, instead of growing the
    // table step by step, each step into fresh memory. A table that holds entries has
    // the room of its last refresh and grows as it goes; growing it ahead would move a
    // block in use for rows that may never come.
    void Prepare(int32_t entries)
    {
        if (Entries.Count() == 0)
            Entries.Prepare(entries);
    }

    // Ends a refresh: the entries created by this refresh join the key order, then the
    // entries for which drop holds go.
    template <class Predicate> void Sweep(Predicate drop)
    {
        MergeAdded();
        Entries.RemoveWhere(drop);
    }

    // Joins the entries created so far without removing any (a refresh that was not
    // closed must not hide them).
    void MergeAdded()
    {
        const int32_t sorted = Sorted();
        if (sorted < Entries.Count()) {
            SortAdded();
            const Entry* const data = Entries.begin();
            if (sorted > 0 && Order::Compare(Order::KeyOf(data[sorted]), Order::KeyOf(data[sorted - 1])) < 0)
                MergeSortedRuns(sorted);
        }
        AddedOrder.clear();
        Call = 0;
    }

    // "Reset CPU/ Physical IO Stats": the current CPU and physical I/O become the
    // baselines that the since-reset display subtracts.
    void ResetBaselines()
    {
        for (Entry& entry : Entries) {
            entry.BaselineCpu = entry.Cpu;
            entry.BaselinePhysicalIo = entry.PhysicalIo;
        }
    }

    AllocatedBuffer<Entry>& Buffer() { return Entries; }
    const AllocatedBuffer<Entry>& Buffer() const { return Entries; }

private:
    template <class Key> static bool EntryBefore(const Entry& entry, const Key& key)
    {
        return Order::Compare(Order::KeyOf(entry), key) < 0;
    }

    // Notes the position a search found, as the search of its turn and as the last.
    Entry* Remember(int32_t position)
    {
        try {
            if (Call < Found.size())
                Found[Call] = position;
            else
                Found.push_back(position);
        } catch (const std::bad_alloc&) {
            // Only a guess is lost.
        }
        ++Call;
        Hint = position;
        // The rows come in the same order every refresh: the next search most likely
        // wants what it found the last time, which a row then reads and writes whole.
        if (Call < Found.size() && Found[Call] >= 0 && Found[Call] < Entries.Count())
            Prefetch<true>(&Entries[Found[Call]], sizeof(Entry));
        return &Entries[position];
    }

    // Entries 0 .. Sorted() - 1 are in key order; the rest are this refresh's new ones.
    int32_t Sorted() const { return Entries.Count() - static_cast<int32_t>(AddedOrder.size()); }
    // The entry this refresh created as its index'th.
    Entry& Added(int32_t index) { return Entries[Sorted() + index]; }

    template <class Key> std::vector<int32_t>::iterator PendingPosition(const Key& key)
    {
        // A server sends its rows by spid: the first refresh's new keys mostly come last.
        if (AddedOrder.empty() || EntryBefore(Added(AddedOrder.back()), key))
            return AddedOrder.end();
        return std::lower_bound(AddedOrder.begin(), AddedOrder.end(), key,
                                [this](int32_t index, const Key& k) { return EntryBefore(Added(index), k); });
    }

    // Room for one more entry. The block grows by half its entries at a time (in the
    // buffer's steps), so a table of many entries is moved a few times, not once per step.
    bool MakeRoom()
    {
        const int32_t count = Entries.Count();
        if (count < Entries.Capacity())
            return true;
        const int32_t ahead = std::max(AllocatedBuffer<Entry>::GrowthStep, count / 2);
        return Entries.Reserve(std::clamp(Entries.CapacityLimit() - count, 1, ahead));
    }

    // Puts the created entries behind the sorted ones into key order, moving each once:
    // the position that AddedOrder names for it is followed round its cycle.
    void SortAdded()
    {
        const auto added = static_cast<int32_t>(AddedOrder.size());
        std::vector<bool> placed;
        for (int32_t start = 0; start < added; ++start) {
            if (AddedOrder[start] == start || (!placed.empty() && placed[start]))
                continue;
            if (placed.empty())
                placed.assign(static_cast<std::size_t>(added), false);
            Entry held;
            std::memcpy(&held, &Added(start), sizeof(Entry));
            int32_t to = start;
            for (int32_t from = AddedOrder[to]; from != start; to = from, from = AddedOrder[to]) {
                std::memcpy(&Added(to), &Added(from), sizeof(Entry));
                placed[to] = true;
            }
            std::memcpy(&Added(to), &held, sizeof(Entry));
            placed[to] = true;
        }
    }

    // Merges the sorted run of created entries into the table's order: the run is set
    // aside and the table's entries after its first key each move once.
    void MergeSortedRuns(int32_t sorted)
    {
        std::inplace_merge(Entries.begin(), Entries.begin() + sorted, Entries.end(),
                           [](const Entry& a, const Entry& b) {
                               return Order::Compare(Order::KeyOf(a), Order::KeyOf(b)) < 0;
                           });
    }

    AllocatedBuffer<Entry> Entries;
    std::vector<int32_t> AddedOrder; // the entries created this refresh, behind the sorted ones, by key
    int32_t Hint = 0;                // position of the entry found last
    std::vector<int32_t> Found;      // the position each search of the last refresh found
    std::size_t Call = 0;            // searches so far in this refresh
};
