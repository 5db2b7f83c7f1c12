#pragma once
// Keeping the password out of reach of other programs and of crash files. The password
// of a SQL Server login comes from the environment (never the command line, which every
// user can read in the process list) and lives in the program's memory while it runs.

#include <QString>

// Unless TORVANE_CORE_DUMPS=1 asks for them (for debugging), a crash writes no core file
// and the process is not dumpable, so other programs of the same user cannot read its
// memory either. Called first thing, before any thread starts.
void ProtectProcessMemory();

// The value of TORVANE_PASSWORD, taken out of the environment: overwritten where the
// environment keeps it (what /proc/PID/environ shows) and unset, so no program started
// later inherits it. Empty when it is not set.
QString TakePasswordFromEnvironment();
