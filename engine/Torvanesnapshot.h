#pragma once
// The process snapshot: the query every refresh runs, the snapshot the monitor thread
// reads from it before the hand-over, and how one of its rows becomes a ProcessRecord
// plus the two wait columns only the process threads take.

#include "engine/Datetimetexts.h"
#include "engine/Dbaccess.h"
#include "model/Processrecord.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The snapshot's SQL text, lines ended by CR LF.
extern const char* const ProcessSnapshotSql;

// A row as GetRow gives it: views of the snapshot's texts, valid while it is unchanged.
struct TSnapshotRow
{
    ProcessRecord Record;
    std::string_view lastwaittype;
    std::string_view waitresource;
};

// One refresh's snapshot, read whole on the monitor thread before the model sees any of
// it, so that a failure while reading changes nothing. It keeps only what the model
// takes: the server-wide counters of the first row, and for every row its numbers and
// its texts, cut to their entry widths at a character boundary and packed one after the
// other, the texts of its two date-times among them, made as the rows are read (a first
// refresh meets every process's times for the first time: the monitor thread makes
// their texts, not the main thread). The rows reach the model as views of these texts,
// so each text is written once here, from the driver's buffer, and copied once more
// only where an entry keeps it. The monitor thread keeps one and refills it every
// refresh, so a refresh allocates only when its snapshot is the largest yet.
class TProcessSnapshot
{
public:
    struct TServerCounters
    {
        std::int64_t CpuBusy = 0;
        std::int64_t CpuIdle = 0;
        std::int32_t PackSent = 0;
        std::int32_t PackReceived = 0;
        std::int32_t PackErrors = 0;
        std::int32_t TotalRead = 0;
        std::int32_t TotalWrite = 0;
        std::int32_t TotalErrors = 0;
        TDateTime ServerTime = 0;
    };

    // Runs the snapshot query over the connection and reads every row, holding the
    // connection until the last, and makes the texts of the rows' date-times through
    // `texts` (a refresh of them). Throws EDbError and is then empty; a snapshot without
    // rows is an error too (the monitor's own connection is always a row).
    void Read(TDbConnection& connection, TDateTimeTexts& texts);

    const TServerCounters& Counters() const { return ServerCounters; }
    std::int32_t RowCount() const { return static_cast<std::int32_t>(Rows.size()); }
    // The processes among the rows: as the server sends them, by spid, each process's
    // rows one after the other (rows in another order count more, never fewer).
    std::int32_t ProcessCount() const;
    // Row `row` as the aggregations take it: views of its texts, NULL texts empty, the
    // date-times as texts (empty for NULL) and last_batch's value.
    void GetRow(std::int32_t row, TSnapshotRow& into) const;

private:
    enum ETextField
    {
        DatabaseName,
        LoginName,
        HostName,
        NtDomain,
        NtUserName,
        NetAddress,
        Command,
        ProgramName,
        NetLibrary,
        HostProcess,
        LastWaitType,
        WaitResource,
        LoginTime, // made from the values after the row is read
        LastBatch,
        TextFieldCount
    };

    struct TRow
    {
        std::int32_t Spid;
        std::int32_t Ecid;
        std::int32_t Blocked;
        std::int32_t OpenTran;
        std::int32_t WaitTime;
        std::int64_t Cpu;
        std::int64_t Memory;
        std::int64_t PhysicalIo;
        TDateTimeSeconds LoginTime;
        TDateTimeSeconds LastBatch;
        std::uint32_t TextStart;               // in Texts
        std::uint16_t TextEnd[TextFieldCount]; // from TextStart
    };

    std::string_view Text(const TRow& row, ETextField field) const;
    void Clear();
    void AppendTimeTexts(TRow& row, TDateTimeTexts& texts);
    // Room for `bytes` more bytes of texts; where they go.
    char* TextRoom(std::size_t bytes);

    TServerCounters ServerCounters;
    std::vector<TRow> Rows;
    // The rows' texts, written in place as they are read: no room is zeroed first.
    std::unique_ptr<char[]> Texts;
    std::size_t TextsUsed = 0;
    std::size_t TextsCapacity = 0;
};
