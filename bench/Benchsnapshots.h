#pragma once
// Snapshots of a busy simulated server for the model benchmarks: consecutive refreshes
// of one process table, each derived from the one before the way a live server moves
// (a fifth of the processes active, a few ending and their spids taken by new logons).

#include "model/Processrecord.h"

#include <vector>

struct TBenchRow
{
    ProcessRecord Record;
    char lastwaittype[LastWaitTypeSize] = {};
    char waitresource[WaitResourceSize] = {};
};

using TBenchSnapshot = std::vector<TBenchRow>;

// `refreshes` consecutive snapshots of exactly `rows` rows each.
std::vector<TBenchSnapshot> MakeBenchSnapshots(int rows, int refreshes);
