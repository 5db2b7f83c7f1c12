#pragma once
// A server error raised while a batch is compiled or run; becomes an error token.

#include <stdexcept>
#include <string>

namespace sandbox {

class TSqlError : public std::runtime_error
{
public:
    TSqlError(int number, std::string text, int severity = 16, int state = 1)
        : std::runtime_error(text), Number(number), Severity(severity), State(state)
    {
    }
    int Number;
    int Severity;
    int State;
};

// Error 102, the server's answer to text it cannot parse.
inline TSqlError SyntaxError(const std::string& near)
{
    return TSqlError(102, "Incorrect syntax near '" + near + "'.", 15);
}

} // namespace sandbox
