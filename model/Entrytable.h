#pragma once
// An aggregation's table for one refresh cycle: the entries kept sorted by key in an
// AllocatedBuffer, followed during a refresh by the entries its rows created.
//
// A row finds its entry by binary search. A new key does not move the table at once: its
// entry is appended behind the sorted entries, in arrival order, and joins the table in
// one merge when the refresh ends, together with the removal of the entries no row
// mapped to. Between refreshes the table is one sorted array, the same as inserting every
// new entry at its place. Every entry is written where it stays, once: filling a table
// is linear in its entries, even when the first refresh creates tens of thousands.
//
// Later rows of a new key find its entry among the new ones: while the new keys came in
// key order (a server sends its rows by spid) by binary search of them, else through a
// hash index of the new entries, made when a search first needs it. A first refresh of
// a summary by name thus costs a hash probe per row, not a search through entries
// spread over megabytes.
//
// Order supplies the key: Order::KeyOf(entry), Order::Compare(key, key) < 0, == 0, > 0,
// and Order::Hash(key), equal for keys that compare equal.

#include "model/Allocatedbuffer.h"
#include "model/Prefetch.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <numeric>
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
        const std::size_t call = Call++;
        Entry* const added = FindAdded(key);
        Note(call, added ? AddedMark(LastAdded) : -1);
        MissCall = added ? NoCall : call;
        if (added)
            KeepRecent(AddedMark(LastAdded));
        return added;
    }

    // The entry that Find would most likely find next, when matches(entry) shows that it
    // is the one: for a caller that can tell that more cheaply than it can make the key.
    // matches must hold only for the entry of the key the caller would search. nullptr
    // (nothing noted) when the likely entries do not match; Find then searches.
    template <class Matches> Entry* FindLikely(Matches matches)
    {
        RecentSlot = NoRecent;
        const int32_t sorted = Sorted();
        const int32_t last = Call < Found.size() ? Found[Call] : -1;
        for (const int32_t position : {last, Hint, Hint + 1}) {
            if (position >= 0 && position < sorted && matches(static_cast<const Entry&>(Entries[position])))
                return Remember(position);
        }
        // A new entry of this refresh that the search before found or made (a process's
        // worker threads follow it).
        if (LastAdded >= 0 && matches(static_cast<const Entry&>(Added(LastAdded)))) {
            Note(Call++, AddedMark(LastAdded));
            return &Added(LastAdded);
        }
        return nullptr;
    }

    // FindLikely, and then the entry that a search of this refresh with the same row hash
    // found or made, where the guesses from the last refresh are missing (a first
    // refresh) or wrong. For rows whose key costs more to make than their texts to hash:
    // rowHash() gives any hash of the texts matches compares, equal for equal texts
    // (asked for only when the guesses miss). After a miss, the search that follows
    // (Find, then Emplace for a new key) is remembered under the hash.
    template <class Matches, class RowHash> Entry* FindLikely(Matches matches, RowHash rowHash)
    {
        if (Entry* const likely = FindLikely(matches))
            return likely;
        if ((Recent.empty() && !MakeRecent(RecentFirstSlots)) ||
            std::size_t{4} * static_cast<std::size_t>(RecentCount) > std::size_t{3} * Recent.size())
            return nullptr; // no memory for it: only a shortcut is lost
        const uint64_t hash = rowHash();
        const uint32_t tag = static_cast<uint32_t>(hash ^ (hash >> 32));
        std::size_t alike = 0; // slots of the same tag tried
        for (std::size_t slot = RecentSlotOf(tag);; slot = (slot + 1) & (Recent.size() - 1)) {
            const TRecent recent = Recent[slot];
            if (recent.Found == NoRecentEntry) {
                RecentSlot = slot;
                RecentTag = tag;
                return nullptr;
            }
            if (recent.Tag != tag)
                continue;
            if (recent.Found >= 0) {
                if (recent.Found < Sorted() && matches(static_cast<const Entry&>(Entries[recent.Found])))
                    return Remember(recent.Found);
            } else if (const int32_t index = AddedMark(0) - recent.Found;
                       index < AddedCount && matches(static_cast<const Entry&>(Added(index)))) {
                Note(Call++, recent.Found);
                return Noted(index);
            }
            if (++alike == RecentAlike)
                return nullptr; // texts alike in what their hash reads: the search finds it
        }
    }

    // A new entry for a key Find did not find, made where it stays: make(entry) fills
    // in the zeroed entry, its key included. It joins the table's order at Sweep.
    // nullptr, and nothing made, when the table cannot take more entries (it is then
    // not valid for good).
    template <class Make> Entry* Emplace(Make make)
    {
        if (!Entries.Valid() || !MakeRoom())
            return nullptr;
        Entry* const entry = Entries.AppendZeroed();
        if (!entry)
            return nullptr; // MakeRoom made room; not reached
        make(*entry);
        if (AddedCount > 0 && AddedInOrder && Order::Compare(Order::KeyOf(entry[-1]), Order::KeyOf(*entry)) > 0)
            AddedInOrder = false;
        LastAdded = AddedCount++;
        if (MissCall != NoCall)
            Note(MissCall, AddedMark(LastAdded)); // the search that did not find it
        MissCall = NoCall;
        KeepRecent(AddedMark(LastAdded));
        return entry;
    }

    // Emplace of an entry made elsewhere.
    void Add(const Entry& entry)
    {
        Emplace([&entry](Entry& made) { std::memcpy(static_cast<void*>(&made), &entry, sizeof(Entry)); });
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
    // The same with room made ahead on another thread (AllocatedBuffer::Ready).
    void Prepare(typename AllocatedBuffer<Entry>::Room room)
    {
        if (Entries.Count() == 0)
            Entries.Prepare(std::move(room));
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
        if (AddedCount > 0) {
            std::vector<int32_t> rank;
            if (!AddedInOrder)
                SortAdded(rank);
            const Entry* const data = Entries.begin();
            const bool merged =
                sorted > 0 && Order::Compare(Order::KeyOf(data[sorted]), Order::KeyOf(data[sorted - 1])) < 0;
            if (merged)
                MergeSortedRuns(sorted);
            // The searches that found or made a new entry note where it now is, so that
            // the next refresh has its guesses from the first on. Where new entries went
            // in between the table's, their places are not worked out.
            for (int32_t& found : Found) {
                if (found <= AddedMark(0)) {
                    const int32_t index = AddedMark(0) - found;
                    found = merged || (!AddedInOrder && rank.empty()) ? -1
                                                                        : sorted + (AddedInOrder ? index : rank[index]);
                }
            }
        }
        MissCall = NoCall;
        AddedCount = 0;
        AddedInOrder = true;
        LastAdded = -1;
        RecentSlot = NoRecent;
        if (RecentCount > 0)
            std::fill(Recent.begin(), Recent.end(), TRecent{0, NoRecentEntry}); // places change in the merge
        RecentCount = 0;
        if (Indexed > 0)
            std::fill(Slots.begin(), Slots.end(), 0); // free whenever nothing is indexed
        Indexed = 0;
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

    // What the search of turn `call` found: a position in the table, AddedMark of a new
    // entry, or -1 for nothing.
    void Note(std::size_t call, int32_t found)
    {
        if (call < Found.size()) {
            Found[call] = found;
            return;
        }
        try {
            Found.resize(call, -1); // turns whose note failed have no guess
            Found.push_back(found);
        } catch (const std::bad_alloc&) {
            // Only a guess is lost.
        }
    }
    static constexpr int32_t AddedMark(int32_t index) { return -2 - index; }

    // Notes the position a search found, as the search of its turn and as the last.
    Entry* Remember(int32_t position)
    {
        KeepRecent(position);
        Note(Call, position);
        ++Call;
        Hint = position;
        // The rows come in the same order every refresh: the next search most likely
        // wants what it found the last time, which a row then reads and writes whole.
        if (Call < Found.size() && Found[Call] >= 0 && Found[Call] < Entries.Count())
            Prefetch<true>(&Entries[Found[Call]], sizeof(Entry));
        return &Entries[position];
    }

    // Entries 0 .. Sorted() - 1 are in key order; the rest are this refresh's new ones.
    int32_t Sorted() const { return Entries.Count() - AddedCount; }
    // The entry this refresh created as its index'th.
    Entry& Added(int32_t index) { return Entries[Sorted() + index]; }

    template <class Key> Entry* FindAdded(const Key& key)
    {
        if (AddedCount == 0)
            return nullptr;
        const int order = Order::Compare(Order::KeyOf(Added(AddedCount - 1)), key);
        if (order == 0)
            return Noted(AddedCount - 1);
        if (AddedInOrder) {
            // A server sends its rows by spid: the first refresh's new keys mostly come last.
            if (order < 0)
                return nullptr;
            Entry* const begin = &Added(0);
            Entry* const end = begin + AddedCount;
            Entry* const found = std::lower_bound(begin, end, key, EntryBefore<Key>);
            return found != end && Order::Compare(Order::KeyOf(*found), key) == 0
                       ? Noted(static_cast<int32_t>(found - begin))
                       : nullptr;
        }
        if (!IndexAdded()) {
            // No room for the index: the new entries one by one.
            for (int32_t index = 0; index < AddedCount; ++index) {
                if (Order::Compare(Order::KeyOf(Added(index)), key) == 0)
                    return Noted(index);
            }
            return nullptr;
        }
        for (std::size_t slot = SlotOf(Order::Hash(key));; slot = (slot + 1) & (Slots.size() - 1)) {
            const int32_t index = Slots[slot] - 1;
            if (index < 0)
                return nullptr;
            if (Order::Compare(Order::KeyOf(Added(index)), key) == 0)
                return Noted(index);
        }
    }

    // What the search after a FindLikely miss found or made, under that row's hash, in
    // the free slot where the miss ended.
    void KeepRecent(int32_t found)
    {
        if (RecentSlot == NoRecent)
            return;
        Recent[RecentSlot] = {RecentTag, found};
        RecentSlot = NoRecent;
        if (std::size_t{2} * static_cast<std::size_t>(++RecentCount) > Recent.size())
            MakeRecent(2 * Recent.size()); // else it fills up to three quarters
    }

    std::size_t RecentSlotOf(uint32_t tag) const
    {
        return static_cast<std::size_t>((tag * 0x9E3779B97F4A7C15ull) >> RecentShift);
    }

    // The row hashes' memory with `slots` slots, holding what the smaller one held.
    // False when it cannot have the memory; the old one is then kept.
    bool MakeRecent(std::size_t slots)
    {
        std::vector<TRecent> held;
        try {
            held.assign(slots, TRecent{0, NoRecentEntry});
        } catch (const std::bad_alloc&) {
            return false;
        }
        held.swap(Recent);
        RecentShift = 64 - std::countr_zero(slots);
        RecentCount = 0;
        for (const TRecent& recent : held) {
            if (recent.Found == NoRecentEntry)
                continue;
            std::size_t slot = RecentSlotOf(recent.Tag);
            while (Recent[slot].Found != NoRecentEntry)
                slot = (slot + 1) & (Recent.size() - 1);
            Recent[slot] = recent;
            ++RecentCount;
        }
        return true;
    }

    Entry* Noted(int32_t index)
    {
        LastAdded = index;
        return &Added(index);
    }

    // The slot a hash starts its probe at: its bits mixed, the top ones taken.
    std::size_t SlotOf(std::size_t hash) const
    {
        return static_cast<std::size_t>((static_cast<uint64_t>(hash) * 0x9E3779B97F4A7C15ull) >> SlotShift);
    }

    // Brings the hash index up to every new entry, at most half full. False when it
    // cannot have the memory it needs.
    bool IndexAdded()
    {
        if (Indexed == AddedCount)
            return true;
        if (std::size_t{2} * static_cast<std::size_t>(AddedCount) >= Slots.size()) {
            std::size_t size = 64;
            while (size < std::size_t{4} * static_cast<std::size_t>(AddedCount))
                size *= 2;
            try {
                Slots.assign(size, 0);
            } catch (const std::bad_alloc&) {
                Slots.clear();
                Indexed = 0;
                return false;
            }
            SlotShift = 64 - std::countr_zero(size);
            Indexed = 0;
        }
        for (; Indexed < AddedCount; ++Indexed) {
            std::size_t slot = SlotOf(Order::Hash(Order::KeyOf(Added(Indexed))));
            while (Slots[slot] != 0)
                slot = (slot + 1) & (Slots.size() - 1);
            Slots[slot] = Indexed + 1;
        }
        return true;
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

    static bool Before(const Entry& a, const Entry& b)
    {
        return Order::Compare(Order::KeyOf(a), Order::KeyOf(b)) < 0;
    }

    // Puts the created entries behind the sorted ones into key order. Their order is
    // found on their indexes, and then each entry moves once, round the cycle of
    // positions the order makes; without memory for the indexes, the entries are sorted
    // in place.
    // rank[index] becomes the place in the order of the entry created as index'th (left
    // empty without memory for it).
    void SortAdded(std::vector<int32_t>& rank)
    {
        std::vector<int32_t> order;
        try {
            order.resize(static_cast<std::size_t>(AddedCount));
        } catch (const std::bad_alloc&) {
            std::sort(&Added(0), &Added(0) + AddedCount, Before);
            return;
        }
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [this](int32_t a, int32_t b) { return Before(Added(a), Added(b)); });
        try {
            rank.resize(order.size());
            for (int32_t place = 0; place < AddedCount; ++place)
                rank[order[place]] = place;
        } catch (const std::bad_alloc&) {
            rank.clear();
        }
        // Position `to` takes the entry created as order[to]; a placed position is marked
        // as its own.
        for (int32_t start = 0; start < AddedCount; ++start) {
            if (order[start] == start)
                continue;
            Entry held;
            std::memcpy(&held, &Added(start), sizeof(Entry));
            int32_t to = start;
            while (order[to] != start) {
                const int32_t from = order[to];
                std::memcpy(&Added(to), &Added(from), sizeof(Entry));
                order[to] = to;
                to = from;
            }
            std::memcpy(&Added(to), &held, sizeof(Entry));
            order[to] = to;
        }
    }

    // Merges the sorted run of created entries into the table's order: the run is set
    // aside and the table's entries after its first key each move once.
    void MergeSortedRuns(int32_t sorted)
    {
        std::inplace_merge(Entries.begin(), Entries.begin() + sorted, Entries.end(), Before);
    }

    AllocatedBuffer<Entry> Entries;
    int32_t AddedCount = 0;      // entries created this refresh, behind the sorted ones
    bool AddedInOrder = true;    // each created with a key after the one created before
    int32_t LastAdded = -1;      // the created entry the last search found or made
    std::vector<int32_t> Slots;  // hash index of the created entries: index + 1, 0 free
    int SlotShift = 64;          // 64 - log2(Slots.size())
    int32_t Indexed = 0;         // created entries in Slots
    int32_t Hint = 0;            // position of the entry found last
    std::vector<int32_t> Found;  // the position each search of the last refresh found
    std::size_t Call = 0;        // searches so far in this refresh
    static constexpr std::size_t NoCall = static_cast<std::size_t>(-1);
    std::size_t MissCall = NoCall; // the last search, when it found nothing
    // What the searches of this refresh found for row hashes: a position, AddedMark of a
    // new entry, or NoRecentEntry for a free slot; under a tag of the hash, in an open
    // table at most half full (three quarters when it could not grow), made at first
    // use. A search tries at most RecentAlike entries of its tag: rows whose texts hash
    // alike (names alike in their heads) cannot make every search long.
    struct TRecent
    {
        uint32_t Tag;
        int32_t Found;
    };
    static constexpr std::size_t RecentFirstSlots = 1024;
    static constexpr std::size_t RecentAlike = 8;
    static constexpr int32_t NoRecentEntry = -1;
    static constexpr std::size_t NoRecent = static_cast<std::size_t>(-1);
    std::vector<TRecent> Recent;
    int RecentShift = 64;              // 64 - log2(Recent.size())
    int32_t RecentCount = 0;           // slots in use
    std::size_t RecentSlot = NoRecent; // the free slot where the last FindLikely missed
    uint32_t RecentTag = 0;            // and the tag it missed with
};
