#pragma once
// The kill commands of the process views: the question the user answers, then the
// batch on the server's command thread, so the window never waits for the server. The
// views do not refresh afterwards; the next refresh shows what changed. A kill that
// did nothing is reported when its answer comes back: the monitor's own connection,
// a system process, or the server's error (a login without the right to kill).

#include <cstdint>
#include <string>

class QWidget;
class TConnectionSlot;

// "Do you want to kill process id 57?" (caption "Kill Process"); on Yes, KillProcess.
void KillProcessAfterQuestion(QWidget* parent, TConnectionSlot* slot, std::int32_t spid);

// "Do you want to kill all processes connected to database Sales?" (caption "Kill
// Database Processes"); on Yes, KillDatabaseProcesses.
void KillDatabaseProcessesAfterQuestion(QWidget* parent, TConnectionSlot* slot,
                                        const std::string& databaseName);

// "Do you want to kill all processes for user appuser running on host WS01?", the host
// part left out when the host is empty (caption "Kill Database Processes"); on Yes,
// KillUserProcesses with the four values.
void KillUserProcessesAfterQuestion(QWidget* parent, TConnectionSlot* slot, const std::string& loginName,
                                    const std::string& ntDomain, const std::string& ntUserName,
                                    const std::string& hostName);
