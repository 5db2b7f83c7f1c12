#pragma once
// The user summary: one entry per client user, a user being the combination of login
// name, host, NT login name (Windows domain and user name, as the summary shows them)
// and network address, each compared as Namecompare.h compares names: letter case
// ignored for all of Unicode. Entries are in that order, login first. Counts the user's
// processes and sums their CPU, memory and physical IO; after each refresh it gives the
// server statistics their "Users" and "Sessions" figures.

#include "model/Datetimetextcache.h"
#include "model/Entrytable.h"
#include "model/Namecompare.h"
#include "model/Stringgrid.h"
#include "model/Torvaneprocesscategories.h"

#include <functional>
#include <span>
#include <string_view>

// A user's identity as the summary orders and finds it: the four texts the summary
// shows for it (login, host, NT login name, net address), folded once per row and
// joined by NUL, so that CompareFoldedNames of two keys compares them name by name.
struct UserKey
{
    uint16_t Length; // of Names, its last NUL included; beside their start, as a search
                     // reads both from every entry it passes
    char Names[4 * FoldedNameSize];
};

// The first 16 bytes of each identity text that SameIdentity compares (login, host, NT
// domain, NT user, net address; TextHeadWords), and which of them end within: most
// identities are told apart, and found alike, from these 80 bytes alone.
struct UserIdentityHeads
{
    uint64_t Words[10];
    uint8_t Whole; // bit n: text n ends within its head
};

struct UserEntry
{
    // First, with the counters every row adds to: a row's search and update mostly read
    // and write these two or three cache lines only.
    UserIdentityHeads Heads;
    uint8_t Seen;
    int32_t ProcessCount; // rows with ecid 0
    int32_t BlockedSum;   // sum of blocked over all rows; non-zero = some thread waits
    int64_t Cpu;          // all rows
    int64_t Memory;       // rows with ecid 0
    int64_t PhysicalIo;   // rows with ecid 0
    char LoginName[132];  // identity texts as the row that created the entry wrote them
    char HostName[132];
    char NtDomain[132];
    char NtUserName[132];
    char NetAddress[16];
    char NetLibrary[16];
    char LatestActivity[100]; // latest last_batch text of this refresh
    int32_t PreviousProcessCount;
    int64_t PreviousCpu;
    int64_t PreviousMemory;
    int64_t PreviousPhysicalIo;
    UserKey Key;
    int64_t BaselineCpu;
    int64_t BaselinePhysicalIo;
    double LatestActivityValue; // LatestActivity parsed, when LatestActivityParsed
    uint8_t LatestActivityParsed;
};

class TTorvaneProcessUsers : public TTorvaneProcessCategories
{
public:
    // Data columns of FillUserGrid, in column map order.
    static constexpr int ColumnCount = 12;

    explicit TTorvaneProcessUsers(TDateTimeTextParser parseDateTime,
                                  int32_t capacityLimit = AllocatedBuffer<UserEntry>::NoLimit);

    void BeginRefresh() override;
    void EndRefresh() override;
    void AddProcess(const ProcessRecord& record) override;
    void RemoveEntry(int32_t position) override;

    // Both as of the last EndRefresh (0 before the first): the number of users and the
    // number of their processes.
    int32_t UserCount() const { return Users; }
    int32_t SessionCount() const { return Sessions; }

    // CPU and physical IO as they stand become the zero of the since-reset display.
    void ResetBaselines();

    // Writes one row per user from row 1 on (row 0 is the caption row) and sets the row
    // count to users + 1. columnMap[k] is the grid column of data column k; columns the
    // grid does not have are left out.
    void FillUserGrid(TStringGrid& grid, std::span<const int32_t> columnMap, bool showSinceReset) const;

    int32_t Count() const { return Entries.Buffer().Count(); }
    const UserEntry& Entry(int32_t position) const { return Entries.Buffer()[position]; }

private:
    struct KeyOrder
    {
        static std::string_view KeyOf(const UserEntry& entry) { return {entry.Key.Names, entry.Key.Length}; }
        static int Compare(std::string_view a, std::string_view b) { return CompareFoldedNames(a, b); }
        static std::size_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }
    };

    TEntryTable<UserEntry, KeyOrder> Entries;
    TDateTimeTextCache DateTimeValues;
    TNameFolder Folds;
    int32_t Users = 0;
    int32_t Sessions = 0;
};
