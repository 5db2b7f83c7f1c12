#pragma once
// The one error type of the database access layer.

#include <stdexcept>
#include <string>

// What a failed connection came to, as far as the driver's diagnostics say: the words
// a DBA knows for it are chosen from this (see TConnectionSlot::Connect).
enum class TDbFailure
{
    Other,
    NoAnswer,    // the login time-out ran out
    Refused,     // nothing listens at the address (or no such instance)
    UnknownHost, // the host name does not resolve
    LoginFailed  // the server refused the login
};

// A failure to connect or to run a query: the server's (or driver's) message text and
// the component that raised it ("FreeTDS SQL Server" for "[FreeTDS][SQL Server]...").
class EDbError : public std::runtime_error
{
public:
    EDbError(std::string message, std::string source, TDbFailure failure = TDbFailure::Other)
        : std::runtime_error(message), Message(std::move(message)), Source(std::move(source)),
          Failure(failure)
    {
    }
    std::string Message;
    std::string Source;
    TDbFailure Failure;
};
