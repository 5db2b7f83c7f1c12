#pragma once
// Snapshots of a busy simulated server for the model benchmarks: consecutive refreshes
// of one process table, each derived from the one before the way a live server moves
// (a fifth of the processes active, a few ending and their spids taken by new logons).

#include "model/Processrecord.h"

#include <optional>
#include <string_view>
#include <vector>

struct TBenchRow
{
    ProcessRecord Record;
    char lastwaittype[LastWaitTypeSize] = {};
    char waitresource[WaitResourceSize] = {};
};

using TBenchSnapshot = std::vector<TBenchRow>;

// `refreshes` consecutive snapshots of exactly `rows` rows each. With foreignNames the
// logins, hosts, Windows domains and users and the databases are Cyrillic and German
// names, which the model folds through ICU rather than its ASCII path.
std::vector<TBenchSnapshot> MakeBenchSnapshots(int rows, int refreshes, bool foreignNames = false);

// The value of a date-time text the snapshots were made with, as a refresh finds the
// value of a text it made (one lookup); nullopt for any other text, which a refresh
// would parse in the locale.
std::optional<double> MadeBenchDateTimeValue(std::string_view text);
