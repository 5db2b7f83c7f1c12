#pragma once
// The performance log file of one server: its path and its lines. A tab-separated text
// file per server, lines ended by CR LF, a header line first.

#include <QString>

#include <cstdint>
#include <string>

// The header line, ended by CR LF.
extern const char* const PerformanceLogHeader;

// The server name as a file name: characters no file name may hold (the backslash of a
// named instance, '/', ':', '*', '?', '"', '<', '>', '|' and control characters)
// become '_'.
QString PerformanceLogFileName(const QString& serverName);

// directory + '/' + file name + ".log"; no separator is added to a directory that
// already ends in '/'. The folder separator is '/' alone: a directory "logs\" is a folder
// of that name, and its file goes inside it.
QString PerformanceLogPath(const QString& directory, const QString& serverName);

// One data line: the timestamp text and the ten values in the log's column order
// (CPU, response, users, sessions, network sent, received, errored, disk read, write,
// error), ended by CR LF.
std::string PerformanceLogLine(const std::string& timestamp, const std::int32_t (&values)[10]);
