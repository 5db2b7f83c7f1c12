#pragma once
// The tables the headless monitor prints: the cells the window's grids show, with the
// grids' captions as the first line, tab-separated, one line per row. A control
// character in a cell is written as a blank, so every row is one line of as many fields
// as the captions.

#include <string>
#include <string_view>

class TBlockingChains;
class TTorvaneProcessDatabases;
class TTorvaneProcessUserProcesses;
class TTorvaneProcessUsers;
class TTorvaneServerPerformance;

// With a filter text, only the rows the window's filter box would keep: users whose
// login, host or NT login name, databases whose name, processes whose login, host,
// program, database, command or SPID contains it, letter case ignored.
std::string UsersTable(const TTorvaneProcessUsers& users, std::string_view filter = {});
std::string DatabasesTable(const TTorvaneProcessDatabases& databases, std::string_view filter = {});
std::string ProcessesTable(const TTorvaneProcessUserProcesses& processes, std::string_view filter = {});
// The blocking chains as a tree: "SPID", "Waiting", "Wait time", "Wait type", "Wait
// resource", "Login"; the SPID field is indented by two blanks per level below its head.
std::string BlockingTable(const TBlockingChains& chains);
// The newest value of the ten histories, in the performance log's columns.
std::string StatsTable(const TTorvaneServerPerformance& performance);
