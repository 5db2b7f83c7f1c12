#pragma once
// An aggregation's table for one refresh cycle: the entries kept sorted by key in an
// AllocatedBuffer, plus the entries that rows of the current snapshot created.
//
// A row finds its entry by binary search. A new key does not move the table at once:
// it waits in a small side list (itself sorted, so later rows of the same key find it)
// and joins the table in one merge when the refresh ends, together with the removal of
// the entries no row mapped to. Between refreshes the table is one sorted array, the
// same as inserting every new entry at its place.
//
// Order supplies the key: Order::KeyOf(entry) and Order::Compare(key, key) < 0, == 0, > 0.

#include "model/Allocatedbuffer.h"

#include <algorithm>
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
        // The server returns its rows by spid and ecid, so the entry a row wants is
        // mostly the one the previous row found, or the next one: try those first.
        for (const int32_t position : {Hint, Hint + 1}) {
            if (position < Entries.Count() && Order::Compare(Order::KeyOf(Entries[position]), key) == 0) {
                Hint = position;
                return &Entries[position];
            }
        }
        Entry* const found = std::lower_bound(Entries.begin(), Entries.end(), key, EntryBefore<Key>);
        if (found != Entries.end() && Order::Compare(Order::KeyOf(*found), key) == 0) {
            Hint = static_cast<int32_t>(found - Entries.begin());
            return found;
        }
        const auto pending = PendingPosition(key);
        if (pending != AddedOrder.end() && Order::Compare(Order::KeyOf(Added[*pending]), key) == 0)
            return &Added[*pending];
        return nullptr;
    }

    // A new entry whose key Find did not find; it joins the table at Sweep. Dropped when
    // the table cannot take more entries.
    void Add(const Entry& entry)
    {
        if (!Entries.Valid())
            return;
        try {
            Added.push_back(entry);
        } catch (const std::bad_alloc&) {
            return; // not recorded, as when the table itself cannot grow
        }
        try {
            const auto index = static_cast<int32_t>(Added.size() - 1);
            AddedOrder.insert(PendingPosition(Order::KeyOf(entry)), index);
        } catch (const std::bad_alloc&) {
            Added.pop_back();
        }
    }

    // Ends a refresh: removes the entries for which drop holds, then merges the entries
    // created by this refresh into key order (as many as the buffer can take).
    template <class Predicate> void Sweep(Predicate drop)
    {
        Entries.RemoveWhere(drop);
        MergeAdded();
    }

    // Joins the entries created so far without removing any (a refresh that was not
    // closed must not hide them).
    void MergeAdded()
    {
        if (!Added.empty() && !Entries.Reserve(static_cast<int32_t>(Added.size()))) {
            const int32_t room = std::max(Entries.Capacity() - Entries.Count(), 0);
            AddedOrder.resize(std::min<std::size_t>(AddedOrder.size(), static_cast<std::size_t>(room)));
        }
        Entries.MergeSorted(
            static_cast<int32_t>(AddedOrder.size()),
            [this](int32_t i) -> const Entry& { return Added[AddedOrder[i]]; },
            [](const Entry& a, const Entry& b) {
                return Order::Compare(Order::KeyOf(a), Order::KeyOf(b)) > 0;
            });
        // The first refresh adds every entry; the room that took is given back rather
        // than kept beside the table for good.
        std::vector<Entry>().swap(Added);
        std::vector<int32_t>().swap(AddedOrder);
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

    template <class Key> std::vector<int32_t>::iterator PendingPosition(const Key& key)
    {
        return std::lower_bound(AddedOrder.begin(), AddedOrder.end(), key,
                                [this](int32_t index, const Key& k) { return EntryBefore(Added[index], k); });
    }

    AllocatedBuffer<Entry> Entries;
    std::vector<Entry> Added;        // arrival order
    std::vector<int32_t> AddedOrder; // indexes into Added, by key
    int32_t Hint = 0;                // position of the entry found last
};
