#pragma once
// The batches a monitor sends, written out here as any client of a SQL Server would
// send them, so the sandbox's recognisers are tested against the exact texts: the
// process snapshot, the statement-text and input-buffer batches, and the three kills.
// Lines are joined with carriage return and line feed. The kills' text arguments go in
// as N'...' literals just as given, quotes not doubled, so a test writes its own.

#include <string>

std::string SnapshotQuery();
std::string StatementTextBatch(int spid);
std::string InputBufferBatch(int spid);
std::string KillProcessBatch(int spid);
std::string KillDatabaseBatch(const std::string& database);
std::string KillUserBatch(const std::string& login, const std::string& ntDomain,
                          const std::string& ntUserName, const std::string& hostName);
