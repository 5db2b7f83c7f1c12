#pragma once
// One row of the process snapshot: one thread (ecid) of one server process (spid),
// with the values the aggregations take, in the snapshot's column order. The snapshot
// reader fills one record per row (texts through CopyFixedText) and hands it to
// AddProcess of the user summary, the database summary and the user processes.

#include <cstdint>
#include <limits>

struct ProcessRecord
{
    int32_t spid = 0;
    int32_t ecid = 0;            // 0 = the process itself, higher = its parallel worker threads
    char databasename[132] = {}; // "<SystemProcess>" for system processes
    char loginame[132] = {};
    char hostname[132] = {};
    char nt_domain[132] = {};
    char nt_username[132] = {};
    char net_address[16] = {};
    char cmd[20] = {};
    char program_name[132] = {};
    int32_t blocked = 0;       // spid of the blocking process, 0 = not blocked
    char login_time[100] = {}; // date-time texts in the user's format
    char last_batch[100] = {};
    // last_batch's value, where the reader made the text from one: the summaries then
    // compare values without reading the text back. NaN where only the text is known.
    double last_batch_value = std::numeric_limits<double>::quiet_NaN();
    int64_t cpu_usage = 0;
    int64_t memusage = 0;
    int64_t physical_io = 0;
    int32_t open_tran = 0;
    int32_t waittime = 0; // milliseconds
    char net_library[16] = {};
    char hostprocess[12] = {};
};

// Buffer sizes (terminator included) of the two wait columns that only AddThread of the
// process threads takes. The server's columns hold up to 32 and 256 characters; the
// buffers keep a full-width value whole.
constexpr int LastWaitTypeSize = 33;
constexpr int WaitResourceSize = 257;
