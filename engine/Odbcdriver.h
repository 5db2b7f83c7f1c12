#pragma once
// Which ODBC driver Torvane talks to servers through: TORVANE_ODBC_DRIVER, else the
// string "OdbcDriver" under the settings key of the machine hive, else FreeTDS. Read
// afresh at every call, as every reader of the settings store is.

#include <string>

std::string ChosenOdbcDriver();
