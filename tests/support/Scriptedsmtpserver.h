#pragma once
// A mail server that plays a script, for the answers no real server gives on demand:
// greetings of several lines, a refused HELO, a server that never answers, one that
// closes early. It takes one connection on a free loopback port, on a thread of its own,
// answers every command line with the reply set for its verb, and records what it got.

#include <QString>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TScriptedSmtpServer
{
public:
    TScriptedSmtpServer() = default;
    ~TScriptedSmtpServer();
    TScriptedSmtpServer(const TScriptedSmtpServer&) = delete;
    TScriptedSmtpServer& operator=(const TScriptedSmtpServer&) = delete;

    // The script, set before Start. An empty text is never written: a server with no
    // greeting and no replies accepts the connection and stays silent.
    std::string Greeting = "220 scripted ready\r\n";
    // By verb: "HELO", "RSET", "MAIL", "RCPT", "DATA", "." (the end of the data), "QUIT".
    std::map<std::string, std::string> Replies = {
        {"HELO", "250 scripted\r\n"},     {"RSET", "250 reset\r\n"},    {"MAIL", "250 sender ok\r\n"},
        {"RCPT", "250 recipient ok\r\n"}, {"DATA", "354 go ahead\r\n"}, {".", "250 queued\r\n"},
        {"QUIT", "221 bye\r\n"},
    };
    // The verb after whose reply the server closes the connection.
    std::string CloseAfter = "QUIT";
    // The verb answered, instead of its reply, by a reply that never ends: one line
    // "250-still working" every DripIntervalMs until the connection closes.
    std::string DripVerb;
    int DripIntervalMs = 1000;

    // Listens on a free loopback port; false when it cannot.
    bool Start();
    // "127.0.0.1:PORT".
    QString Host() const;

    // Command lines and, apart, the lines between DATA and ".", as sent (line ends cut).
    std::vector<std::string> Commands() const;
    std::vector<std::string> DataLines() const;
    // Waits at most timeoutMs for a client to connect.
    bool WaitForConnection(int timeoutMs) const;
    // Waits at most timeoutMs for the connection to end; true when the client closed it
    // (not the script).
    bool ClosedByClient(int timeoutMs) const;

private:
    void Serve();
    void Answer(int connection, const std::string& verb);

    int FListener = -1;
    int FConnection = -1;
    unsigned FPort = 0;
    mutable std::mutex FLock;
    mutable std::condition_variable FChanged;
    std::vector<std::string> FCommands;
    std::vector<std::string> FDataLines;
    bool FAccepted = false;
    bool FDone = false;
    bool FClientClosed = false;
    bool FStopping = false;
    std::thread FThread;
};
