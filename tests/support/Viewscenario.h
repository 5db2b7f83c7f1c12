#pragma once
// A still server for the view tests: nothing logs on or off or blocks by itself, so
// every change to the process table is the test's. "viewer" may not kill. Users in
// sort order: appuser on APP01 (52 runs a parallel query with two workers, 53 idle),
// payroll without a host (54) and on HR01 (55), both in O'Brien, reportuser (56,
// blocked by 52), sa, zed (57 runs a statement inside a procedure, 58 an encrypted
// procedure). O'Brien is a
// database with a quote in its name; quotes are written \u0027, since moc reads a lone
// quote in a raw string as a character literal.

inline constexpr const char* ViewScenarioJson = R"json({
  "accounts": [
    {"login": "sa", "password": "torvane", "databases": "*", "sysadmin": true},
    {"login": "viewer", "password": "viewer", "databases": "*"}
  ],
  "databases": [
    {"id": 1, "name": "master"}, {"id": 2, "name": "tempdb"}, {"id": 5, "name": "Sales"},
    {"id": 8, "name": "O\u0027Brien"}
  ],
  "rates": {"logon": 0, "logoff": 0, "block": 0, "unblock": 0, "workers": 0},
  "processes": [
    {"spid": 1, "system": true, "login": "sa", "host": "", "program": "", "cmd": "LAZY WRITER", "status": "background"},
    {"spid": 2, "system": true, "login": "sa", "host": "", "program": "", "cmd": "LOG WRITER", "status": "background"},
    {"spid": 51, "login": "sa", "host": "DBA-WS01", "database": "master", "statement": "select * from sysdatabases"},
    {"spid": 52, "login": "appuser", "host": "APP01", "database": "Sales", "cmd": "SELECT", "status": "runnable",
     "lastwaittype": "CXPACKET", "workers": 2, "cpu": 48210, "running": true,
     "statement": "SELECT CustomerID, SUM(Total) FROM dbo.Orders GROUP BY CustomerID"},
    {"spid": 53, "login": "appuser", "host": "APP01", "database": "Sales", "statement": "exec dbo.usp_GetOrder 10248"},
    {"spid": 54, "login": "payroll", "host": "", "database": "O\u0027Brien", "statement": "SELECT 1"},
    {"spid": 55, "login": "payroll", "host": "HR01", "database": "O\u0027Brien", "cmd": "SELECT", "running": true,
     "statement": "SELECT Name, Salary FROM dbo.Salaries"},
    {"spid": 56, "login": "reportuser", "host": "REP01", "database": "Sales", "cmd": "SELECT", "blocked": 52,
     "lastwaittype": "LCK_M_S", "waitresource": "PAG: 5:1:4410", "waittime": 15500, "running": true,
     "statement": "SELECT * FROM dbo.MonthlySales"},
    {"spid": 57, "login": "zed", "host": "ZED01", "database": "master", "cmd": "SELECT", "running": true,
     "object": "usp_Stats",
     "statement": "CREATE PROCEDURE dbo.usp_Stats AS\r\nSELECT COUNT(*) FROM dbo.Orders\r\nRETURN 0",
     "current": "SELECT COUNT(*) FROM dbo.Orders"},
    {"spid": 58, "login": "zed", "host": "ZED01", "database": "master", "cmd": "EXECUTE", "running": true,
     "object": "usp_PayrollRun", "encrypted": true, "statement": ""}
  ]
})json";
