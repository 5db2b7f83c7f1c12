"""An independent TDS client for the sandbox tests, built on python-tds (pytds).

Reads a JSON request on stdin:
  {"host": "127.0.0.1", "port": N, "user": "sa", "password": "...", "tds": "7.4", "timeout": seconds,
   "batches": ["SELECT ...", ...], "pause_ms": 0, "autocommit": true,
   "cafile": "ca.pem", "enc_login_only": false}
With "cafile" the connection is encrypted (with pyOpenSSL) and the server's certificate
checked against that file (python-tds matches host names, not addresses: use "localhost");
"enc_login_only" then encrypts the login alone.
"{spid}" in a batch stands for the session's own spid (from the packet headers).
and writes one JSON document on stdout:
  {"login": "ok", "spid": n} or {"login": "failed", "error": {"number": n, "text": "..."}}
  plus "batches": one entry per batch, with its result sets (columns as
  [name, type name, nullable], rows with datetimes as ISO text), its messages, and
  its error (number, text) if it failed. Without autocommit the batches run in a transaction that is committed.
  A lost connection ends the run with "connection": "lost".
Exit status 0 whenever the run itself worked, whatever the server answered.
"""
import datetime
import json
import socket
import sys
import time

import pytds
import pytds.tds_base as tb

TYPE_NAMES = {
    tb.SYBINT1: "tinyint", tb.SYBINT2: "smallint", tb.SYBINT4: "int", tb.SYBINT8: "bigint",
    tb.SYBBIT: "bit", tb.SYBFLT8: "float", tb.SYBDATETIME: "datetime",
    tb.XSYBVARCHAR: "varchar", tb.XSYBNVARCHAR: "nvarchar", tb.SYBTEXT: "text", tb.SYBNTEXT: "ntext",
}
VERSIONS = {"7.1": tb.TDS71, "7.2": tb.TDS72, "7.3": tb.TDS73, "7.4": tb.TDS74}


def plain(value):
    if isinstance(value, (datetime.datetime, datetime.date)):
        return value.isoformat()
    return value


def error_of(e):
    return {"number": getattr(e, "msg_no", 0) or 0, "text": getattr(e, "text", None) or str(e),
            "kind": type(e).__name__}


def run_batch(cursor, sql):
    entry = {"results": [], "messages": []}
    try:
        cursor.execute(sql)
        while True:
            if cursor.description:
                columns = [[d[0], TYPE_NAMES.get(d[1], str(d[1])), bool(d[6])] for d in cursor.description]
                rows = [[plain(v) for v in row] for row in cursor.fetchall()]
                entry["results"].append({"columns": columns, "rows": rows})
            elif cursor.rowcount is not None and cursor.rowcount >= 0:
                entry["results"].append({"rowcount": cursor.rowcount})
            if not cursor.nextset():
                break
    except pytds.Error as e:
        entry["error"] = error_of(e)
    entry["messages"] = [error_of(m[1]) for m in cursor.messages or []]
    return entry


def main():
    request = json.load(sys.stdin)
    out = {"batches": []}
    try:
        conn = pytds.connect(server=request.get("host", "127.0.0.1"), port=request["port"], user=request.get("user", "sa"),
                             password=request.get("password", ""),
                             autocommit=request.get("autocommit", True),
                             tds_version=VERSIONS[request.get("tds", "7.4")],
                             login_timeout=request.get("timeout", 10), timeout=request.get("timeout", 10),
                             appname="tdsclient", cafile=request.get("cafile"),
                             enc_login_only=request.get("enc_login_only", False))
    except (pytds.Error, OSError) as e:
        out["login"] = "failed"
        out["error"] = error_of(e)
        print(json.dumps(out))
        return 0
    out["login"] = "ok"
    out["tds_version"] = "%x" % conn.tds_version
    try:
        with conn.cursor() as cursor:
            out["spid"] = cursor.spid
            for sql in request.get("batches", []):
                out["batches"].append(run_batch(cursor, sql.replace("{spid}", str(cursor.spid))))
                time.sleep(request.get("pause_ms", 0) / 1000.0)
        if not request.get("autocommit", True):
            conn.commit()
        conn.close()
    except (OSError, socket.timeout, tb.ClosedConnectionError) as e:
        out["connection"] = "lost"
        out["connection_error"] = str(e)
    print(json.dumps(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
