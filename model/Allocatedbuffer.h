#pragma once
// The growable block of fixed-size entries in which every aggregation keeps its table.
// Entries are plain records copied bytewise. The block starts with room for 150 entries
// and grows in steps of 25; it never shrinks.
//
// When the block cannot grow (no memory, or the capacity limit a caller set is reached)
// the buffer turns not Valid for good: it takes in no new entries, while the entries it
// holds stay intact, readable and removable.

#include "model/Prefetch.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

#include <sys/mman.h>

template <class Entry> class AllocatedBuffer
{
    static_assert(std::is_trivially_copyable_v<Entry>, "entries are copied bytewise");

    struct FreeBlock
    {
        std::size_t MappedLength = 0; // 0: from malloc
        void operator()(void* block) const
        {
            if (MappedLength)
                munmap(block, MappedLength);
            else
                std::free(block);
        }
    };

public:
    static constexpr int32_t InitialCapacity = 150;
    static constexpr int32_t GrowthStep = 25;
    static constexpr int32_t ElementSize = static_cast<int32_t>(sizeof(Entry));
    static constexpr int32_t NoLimit = std::numeric_limits<int32_t>::max();

    // capacityLimit: growth beyond it fails as if memory had run out.
    explicit AllocatedBuffer(int32_t capacityLimit = NoLimit) : Limit(capacityLimit)
    {
        BufferValid = Resize(InitialCapacity);
    }
    AllocatedBuffer(const AllocatedBuffer&) = delete;
    AllocatedBuffer& operator=(const AllocatedBuffer&) = delete;

    bool Valid() const { return BufferValid; }
    int32_t Capacity() const { return BufferCapacity; }
    int32_t Count() const { return EntryCount; }
    // The capacity growth cannot go beyond (NoLimit unless a caller set one).
    int32_t CapacityLimit() const { return Limit; }

    void Append(const Entry& entry) { InsertAt(entry, EntryCount); }

    // A new last entry with every byte zero (a plain record's Entry{}), for the caller
    // to fill where it stays; nullptr when the buffer cannot take it.
    Entry* AppendZeroed()
    {
        if (!Reserve(1))
            return nullptr;
        Entry* const entry = Data() + EntryCount;
        std::memset(static_cast<void*>(entry), 0, sizeof(Entry));
        ++EntryCount;
        // A table that fills many entries in a row (a first refresh) writes the next
        // ones soon: their lines are asked for now, two entries ahead, instead of each
        // store waiting for its line while the rows' other work waits behind it.
        if (EntryCount + 1 < BufferCapacity)
            Prefetch<true>(entry + 2, sizeof(Entry));
        return entry;
    }

    // 0 <= position <= Count; entries from position onward move one place up.
    void InsertAt(const Entry& entry, int32_t position)
    {
        if (position < 0 || position > EntryCount || !Reserve(1))
            return;
        Entry* const data = Data();
        std::memmove(data + position + 1, data + position, Bytes(EntryCount - position));
        std::memcpy(data + position, &entry, sizeof(Entry));
        ++EntryCount;
    }

    // 0 <= position < Count; entries behind it move one place down.
    void RemoveAt(int32_t position)
    {
        if (position < 0 || position >= EntryCount)
            return;
        Entry* const data = Data();
        std::memmove(data + position, data + position + 1, Bytes(EntryCount - position - 1));
        --EntryCount;
    }

    // Removes every entry for which drop(entry) holds, keeping the others in order, in
    // one pass (one RemoveAt per entry would move the tail once per removal).
    template <class Predicate> void RemoveWhere(Predicate drop)
    {
        Entry* const data = Data();
        int32_t kept = 0;
        for (int32_t i = 0; i < EntryCount; ++i) {
            if (drop(static_cast<const Entry&>(data[i])))
                continue;
            if (kept != i)
                std::memcpy(data + kept, data + i, sizeof(Entry));
            ++kept;
        }
        EntryCount = kept;
    }

    // Makes room for `extra` more entries, growing in steps of GrowthStep. False when the
    // buffer is not valid or cannot grow (it is then not valid from here on).
    bool Reserve(int32_t extra)
    {
        if (!BufferValid)
            return false;
        const int64_t needed = int64_t{EntryCount} + extra;
        if (needed <= BufferCapacity)
            return true;
        const int64_t steps = (needed - BufferCapacity + GrowthStep - 1) / GrowthStep;
        const int64_t grown = BufferCapacity + steps * GrowthStep;
        BufferValid = grown <= Limit && Resize(static_cast<int32_t>(grown));
        return BufferValid;
    }

    // A block for a buffer's first `capacity` entries, its pages already in memory: made
    // ahead on a thread of its own (Ready), so that the buffer that takes it (Prepare)
    // writes no fresh page when it first fills. Empty (nothing made) for a block small
    // enough for the heap, or when the memory cannot be had. Freed unless taken.
    class Room
    {
    public:
        Room() = default;
        Room(Room&& other) noexcept { *this = std::move(other); }
        Room& operator=(Room&& other) noexcept
        {
            std::swap(Block, other.Block);
            std::swap(RoomCapacity, other.RoomCapacity);
            return *this;
        }
        bool Empty() const { return !Block; }
        int32_t Capacity() const { return RoomCapacity; }

    private:
        friend class AllocatedBuffer;
        std::unique_ptr<void, FreeBlock> Block;
        int32_t RoomCapacity = 0;
    };

    static Room Ready(int32_t capacity)
    {
        Room room;
        const std::size_t bytes = Bytes(std::max(capacity, 0));
        if (bytes < MappedBytes)
            return room;
        const std::size_t length = Reservation(bytes, NoLimit);
        void* const block = MapAligned(length);
        if (block == MAP_FAILED)
            return room;
        room.Block = std::unique_ptr<void, FreeBlock>(block, FreeBlock{length});
        madvise(block, length, MADV_HUGEPAGE);
        // Written pages are what the entries need; a kernel without the call has its
        // pages touched one by one.
        const std::size_t used = HugeRounded(bytes);
        if (madvise(block, used, MADV_POPULATE_WRITE) != 0) {
            for (std::size_t page = 0; page < used; page += 4096)
                static_cast<volatile char*>(block)[page] = 0;
        }
        room.RoomCapacity = capacity;
        return room;
    }

    // Takes a room made by Ready into a buffer that is valid and holds no entry yet,
    // when the room is larger than the block and within the capacity limit; else the
    // buffer stays as it was and the room is freed.
    void Prepare(Room room)
    {
        if (room.Empty() || !BufferValid || EntryCount != 0 || room.RoomCapacity <= BufferCapacity ||
            room.RoomCapacity > Limit)
            return;
        Block = std::move(room.Block);
        BufferCapacity = room.RoomCapacity;
    }

    // Room for `capacity` entries in all (held at the capacity limit), made at once: a
    // hint, so a block that cannot be had leaves the buffer as it was, still valid.
    void Prepare(int32_t capacity)
    {
        capacity = std::min(capacity, Limit);
        if (BufferValid && capacity > BufferCapacity)
            Resize(capacity);
    }

    Entry& operator[](int32_t position) { return Data()[position]; }
    const Entry& operator[](int32_t position) const { return Data()[position]; }
    Entry* begin() { return Data(); }
    Entry* end() { return Data() + EntryCount; }
    const Entry* begin() const { return Data(); }
    const Entry* end() const { return Data() + EntryCount; }

private:
    // A block of 4 MB and more lives in address space of its own, reserved well beyond
    // its capacity (pages count only once written), so that it grows in place, and in
    // 2 MB pages where the kernel has them (a fault each rather than 512, for at most one
    // partly used 2 MB page more than the entries need). A block moved or grown by
    // copying costs more than it seems: the kernel faults every page of the new place in
    // anew, which on a virtual machine takes microseconds a page, several times the cost
    // of filling the entries.
    static constexpr std::size_t MappedBytes = std::size_t{4} << 20;
    static constexpr std::size_t HugePage = std::size_t{2} << 20;
    static constexpr std::size_t MinimumReservation = std::size_t{64} << 20;


    static std::size_t Bytes(int32_t entries) { return static_cast<std::size_t>(entries) * sizeof(Entry); }
    Entry* Data() const { return static_cast<Entry*>(Block.get()); }

    static std::size_t HugeRounded(std::size_t bytes) { return (bytes + HugePage - 1) & ~(HugePage - 1); }

    // Address space for a block of `bytes` to grow in: four times as much, at least
    // MinimumReservation, never much beyond the capacity limit.
    static std::size_t Reservation(std::size_t bytes, int32_t limit)
    {
        std::size_t length = std::max(bytes * 4, MinimumReservation);
        if (limit != NoLimit)
            length = std::min(length, Bytes(limit));
        return HugeRounded(std::max(length, bytes));
    }

    // A mapping of `length` (a multiple of HugePage) that starts on a 2 MB boundary, so
    // that its 2 MB stretches can be huge pages; MAP_FAILED when there is none.
    static void* MapAligned(std::size_t length)
    {
        void* const mapped = mmap(nullptr, length + HugePage, PROT_READ | PROT_WRITE,
                                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (mapped == MAP_FAILED)
            return MAP_FAILED;
        const auto begin = reinterpret_cast<std::uintptr_t>(mapped);
        const std::uintptr_t aligned = (begin + HugePage - 1) & ~std::uintptr_t{HugePage - 1};
        if (aligned > begin)
            munmap(mapped, aligned - begin);
        if (const std::size_t tail = begin + HugePage - aligned)
            munmap(reinterpret_cast<void*>(aligned + length), tail);
        return reinterpret_cast<void*>(aligned);
    }

    // The old block stays in place when the new one cannot be obtained.
    bool Resize(int32_t capacity)
    {
        if (capacity > Limit)
            return false;
        const std::size_t bytes = Bytes(capacity);
        const std::size_t mapped = Block.get_deleter().MappedLength;
        if (!mapped && bytes < MappedBytes) {
            void* const grown = std::realloc(Block.get(), bytes);
            if (!grown)
                return false;
            Block.release();
            Block.reset(grown);
        } else if (bytes > mapped) {
            // Past its reservation, a mapped block is moved whole by the kernel, and an
            // exact fit is tried when a large reservation cannot be had.
            void* grown = MAP_FAILED;
            std::size_t length = 0;
            for (const std::size_t tried : {Reservation(bytes, Limit), HugeRounded(bytes)}) {
                length = tried;
                grown = mapped ? mremap(Block.get(), mapped, length, MREMAP_MAYMOVE) : MapAligned(length);
                if (grown != MAP_FAILED)
                    break;
            }
            if (grown == MAP_FAILED)
                return false;
            if (mapped) {
                Block.release();
            } else if (Block) {
                std::memcpy(grown, Block.get(), Bytes(EntryCount));
                Block.reset();
            }
            Block = std::unique_ptr<void, FreeBlock>(grown, FreeBlock{length});
            // A hint only (where transparent huge pages are off, the kernel ignores it),
            // for the whole mapping: flagging part of it would split it, and a mapping in
            // parts cannot be grown.
            madvise(grown, length, MADV_HUGEPAGE);
        }
        BufferCapacity = capacity;
        return true;
    }

    int32_t Limit;
    std::unique_ptr<void, FreeBlock> Block;
    int32_t BufferCapacity = 0;
    int32_t EntryCount = 0;
    bool BufferValid = false;
};
