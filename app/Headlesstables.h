#pragma once
// The tables the headless monitor prints: the cells the window's grids show, with the
// grids' captions as the first line, tab-separated, one line per row. A control
// character in a cell is written as a blank, so every row is one line of as many fields
// as the captions.

#include <string>

class TTorvaneProcessDatabases;
class TTorvaneProcessUserProcesses;
class TTorvaneProcessUsers;
class TTorvaneServerPerformance;

std::string UsersTable(const TTorvaneProcessUsers& users);
std::string DatabasesTable(const TTorvaneProcessDatabases& databases);
std::string ProcessesTable(const TTorvaneProcessUserProcesses& processes);
// The newest value of the ten histories, in the performance log's columns.
std::string StatsTable(const TTorvaneServerPerformance& performance);
