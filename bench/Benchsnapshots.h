#pragma once
// Snapshots of a busy simulated server for the model benchmarks: consecutive refreshes
// of one process table, each derived from the one before the way a live server moves
// (a fifth of the processes active, a few ending and their spids taken by new logons).

#include "model/Processrecord.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TBenchRow
{
    ProcessRecord Record;
    std::string_view lastwaittype;
    std::string_view waitresource;
};

// As the monitor thread hands a snapshot over: the rows' texts packed one after the
// other, and rows whose texts are views of them.
class TBenchSnapshot
{
public:
    std::size_t size() const { return Rows.size(); }
    const TBenchRow& operator[](std::size_t i) const { return Rows[i]; }
    std::vector<TBenchRow>::const_iterator begin() const { return Rows.begin(); }
    std::vector<TBenchRow>::const_iterator end() const { return Rows.end(); }

private:
    friend class TBenchSnapshotWriter;
    std::vector<TBenchRow> Rows;
    std::string Texts;
};

// `refreshes` consecutive snapshots of exactly `rows` rows each. With foreignNames the
// logins, hosts, Windows domains and users and the databases are Cyrillic and German
// names, which the model folds through ICU rather than its ASCII path.
std::vector<TBenchSnapshot> MakeBenchSnapshots(int rows, int refreshes, bool foreignNames = false);

// The value of a date-time text the snapshots were made with, as a refresh finds the
// value of a text it made (one lookup); nullopt for any other text, which a refresh
// would parse in the locale.
std::optional<double> MadeBenchDateTimeValue(std::string_view text);
