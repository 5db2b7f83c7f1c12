#pragma once
// One row of the process snapshot: one thread (ecid) of one server process (spid),
// with the values the aggregations take, in the snapshot's column order. The texts are
// views of UTF-8 the row's reader keeps until the refresh is over, each no longer than
// its field in the entries holds (ProcessTextSize, terminator included) and without a
// NUL byte: a row reaches the aggregations without its texts being copied, and each
// copies what it keeps into its entries. AddProcess of the user summary, the database
// summary and the user processes takes one.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

struct ProcessRecord
{
    int32_t spid = 0;
    int32_t ecid = 0;              // 0 = the process itself, higher = its parallel worker threads
    std::string_view databasename; // "<SystemProcess>" for system processes
    std::string_view loginame;
    std::string_view hostname;
    std::string_view nt_domain;
    std::string_view nt_username;
    std::string_view net_address;
    std::string_view cmd;
    std::string_view program_name;
    int32_t blocked = 0;         // spid of the blocking process, 0 = not blocked
    std::string_view login_time; // date-time texts in the user's format
    std::string_view last_batch;
    // last_batch's value, where the reader made the text from one: the summaries then
    // compare values without reading the text back. NaN where only the text is known.
    double last_batch_value = std::numeric_limits<double>::quiet_NaN();
    int64_t cpu_usage = 0;
    int64_t memusage = 0;
    int64_t physical_io = 0;
    int32_t open_tran = 0;
    int32_t waittime = 0; // milliseconds
    std::string_view net_library;
    std::string_view hostprocess;
};

// The widths (terminator included) of the entries' fields for each text of a row, and of
// the two wait columns only AddThread of the process threads takes. The server's wait
// columns hold up to 32 and 256 characters; their fields keep a full-width value whole.
namespace ProcessTextSize {
inline constexpr std::size_t DatabaseName = 132;
inline constexpr std::size_t LoginName = 132;
inline constexpr std::size_t HostName = 132;
inline constexpr std::size_t NtDomain = 132;
inline constexpr std::size_t NtUserName = 132;
inline constexpr std::size_t NetAddress = 16;
inline constexpr std::size_t Command = 20;
inline constexpr std::size_t ProgramName = 132;
inline constexpr std::size_t DateTime = 100; // login_time and last_batch
inline constexpr std::size_t NetLibrary = 16;
inline constexpr std::size_t HostProcess = 12;
} // namespace ProcessTextSize
constexpr int LastWaitTypeSize = 33;
constexpr int WaitResourceSize = 257;
