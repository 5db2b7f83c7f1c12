#pragma once
// The sandbox's control commands, one text line each, as the control port and tests
// send them. Every command gets one answer: "ok ..." or "error ..."; the two
// listings (log, processes) give one line per entry and then "end".
//
//   hang N | resume | down | up | probe-delay MS | stmt-start on|off
//   fn-get-sql on|off | case-sensitive on|off | add key=value ... | remove SPID
//   block SPID BLOCKER | log | processes | browse-malformed on|off
//
// "add" takes the ProcessSpec fields as key=value: login, host, nohost= (a NULL host
// name), program, database, domain, ntuser, cmd, status, netaddress, netlibrary,
// hostprocess, waittype, waitresource, statement, blocked, opentran, workers and
// loginage (seconds); unset fields keep the ProcessSpec defaults. Values are
// percent-encoded (%20 for a blank). The log lists "spid<TAB>time<TAB>text" (time as
// days since 1899-12-30), the processes listing "spid ecid login host program
// database status cmd blocked cpu physical_io memusage" separated by tabs (host NULL
// when absent). Texts in the listings have backslash escapes (\\, \t, \n, \r) so
// that each entry stays on one line.

#include <string>

namespace sandbox {

class TSandboxServer;

class TSandboxControl
{
public:
    explicit TSandboxControl(TSandboxServer& server) : FServer(server) {}

    // The answer to one command line (without its line end), possibly several lines
    // separated by "\n", without a final line end.
    std::string Execute(const std::string& line);

private:
    TSandboxServer& FServer;
};

// Backslash escapes for a text shown on one line.
std::string EscapeControlText(const std::string& text);
// Undoes percent-encoding; false for a malformed escape.
bool DecodeControlValue(const std::string& encoded, std::string& decoded);

} // namespace sandbox
