#pragma once
// The process snapshot: the query every refresh runs, and how one of its rows becomes a
// ProcessRecord plus the two wait columns only the process threads take.

#include "engine/Dbaccess.h"
#include "model/Processrecord.h"

// The snapshot's SQL text, lines ended by CR LF.
extern const char* const ProcessSnapshotSql;

struct TSnapshotRow
{
    ProcessRecord Record;
    char lastwaittype[LastWaitTypeSize] = {};
    char waitresource[WaitResourceSize] = {};
};

// Reads the 22 per-row columns of the query's current row by name. Texts too long for
// their buffers are cut at a character boundary; a NULL text (a database without a
// name, a missing login or date) is empty; the date-times become date-time texts.
void ReadSnapshotRow(const TDbQuery& query, TSnapshotRow& row);
