#pragma once
// The one error type of the database access layer.

#include <stdexcept>
#include <string>

// A failure to connect or to run a query: the server's (or driver's) message text and
// the component that raised it ("FreeTDS SQL Server" for "[FreeTDS][SQL Server]...").
class EDbError : public std::runtime_error
{
public:
    EDbError(std::string message, std::string source)
        : std::runtime_error(message), Message(std::move(message)), Source(std::move(source))
    {
    }
    std::string Message;
    std::string Source;
};
