#pragma once
// A quiet sandbox scenario for tests that check values: nobody logs on or off, nothing
// blocks or unblocks by chance, and the processes cover the awkward cases of the
// snapshot (a system process, parallel workers, a blocking chain, NULLs, a database id
// without a name, non-ASCII names, full-width wait texts).

inline constexpr const char* OddPasswordLogin = "odd";
// Every character that could end or escape a value in a connection string.
inline constexpr const char* OddPassword = "p;w=d'{x}}\"y ";

inline constexpr const char* QuietScenarioJson = R"json({
  "serverName": "QUIET",
  "uptimeSeconds": 90061,
  "accounts": [
    {"login": "sa", "password": "torvane", "defaultDatabase": "master", "databases": "*", "sysadmin": true},
    {"login": "odd", "password": "p;w=d'{x}}\"y ", "defaultDatabase": "master", "databases": "*"}
  ],
  "databases": [
    {"id": 1, "name": "master"}, {"id": 2, "name": "tempdb"}, {"id": 5, "name": "Sales"},
    {"id": 6, "name": "Inventory"}
  ],
  "rates": {"logon": 0, "logoff": 0, "block": 0, "unblock": 0, "workers": 0},
  "processes": [
    {"spid": 1, "system": true, "login": "sa", "host": "", "program": "", "cmd": "LAZY WRITER", "status": "background", "lastwaittype": "LAZYWRITER_SLEEP", "net_address": "", "net_library": "", "hostprocess": "", "cpu": 9120, "memusage": 0},
    {"spid": 52, "login": "appuser", "host": "APPSRV01", "program": ".Net SqlClient Data Provider", "database": "Sales", "cmd": "SELECT", "status": "runnable", "lastwaittype": "CXPACKET", "net_address": "00155D010203", "hostprocess": "4120", "workers": 2, "cpu": 48210, "physical_io": 91233, "memusage": 42, "running": true, "statement": "SELECT * FROM dbo.Orders"},
    {"spid": 54, "login": "APPUSER", "host": "APPSRV01", "program": "StockService", "database": "Inventory", "cmd": "UPDATE", "lastwaittype": "WRITELOG", "open_tran": 1, "net_address": "00155D010203", "hostprocess": "4188"},
    {"spid": 55, "login": "appuser", "host": "APPSRV01", "program": "StockService", "database": "Inventory", "cmd": "UPDATE", "blocked": 54, "lastwaittype": "LCK_M_X", "waitresource": "KEY: 6:72057594038321152 (8194443284a0)", "waittime": 42000, "open_tran": 2, "net_address": "00155D010203", "hostprocess": "4188"},
    {"spid": 58, "login": "reportuser", "host": null, "program": "Crystal Reports", "database": "Sales", "login_time": null, "last_batch": null},
    {"spid": 60, "login": "webuser", "host": "WEB01", "program": "Velquin WebShop", "dbid": 12},
    {"spid": 61, "login": "CORP\\jmüller", "host": "MÜLLER-NB", "nt_domain": "CORP", "nt_username": "jmüller", "program": "Microsoft Office 2003", "database": "Sales", "net_library": "TCP/IP over a very long library name"},
    {"spid": 62, "login": "etl", "host": "ETL01", "program": "DTS Designer", "database": "Inventory", "cmd": "CONDITIONAL WAIT FOR X", "lastwaittype": "PREEMPTIVE_OS_GETPROCADDRESS", "waitresource": "OBJECT: 6:1977058079:0 [COMPILE] WAITING FOR THE EXCLUSIVE COMPILE LOCK ON A LONG NAMED OBJECT OF THE STAGING AREA ON A LONG NAMED OBJECT OF THE STAGING AREA ON A LONG NAMED OBJECT OF THE STAGING AREA ON A LONG NAMED OBJECT OF THE STAGING AREA ON A LONG N!", "waittime": 800},
    {"spid": 63, "login": "monitor", "host": "OPS-WS07", "program": "VelquinMonitor - Ops", "database": "master"},
    {"spid": 64, "login": null, "host": "NOLOGIN", "program": "ghost", "database": "master"}
  ]
})json";
