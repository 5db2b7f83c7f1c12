#include "sandbox/Sandboxcontrolport.h"

#include <array>
#include <exception>
#include <string>

namespace sandbox {

namespace {
constexpr std::size_t MaxLineLength = 64 * 1024;
}

TSandboxControlPort::TSandboxControlPort(TSandboxControl& control)
    : FControl(control), FListener([this](const TTdsSocket& connection) { Serve(connection); })
{
}

void TSandboxControlPort::Stop()
{
    FListener.Close();
    FListener.DropAll();
}

void TSandboxControlPort::Serve(const TTdsSocket& connection)
{
    std::string pending;
    std::array<std::uint8_t, 4096> buffer;
    for (;;) {
        const std::ptrdiff_t got = connection.Receive(buffer);
        if (got <= 0)
            return;
        pending.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(got));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::string answer;
            try {
                const std::lock_guard lock(FCommandMutex);
                answer = FControl.Execute(line) + '\n';
            } catch (const std::exception& e) {
                answer = std::string("error ") + e.what() + '\n';
            }
            if (!connection.SendAll(
                    std::span(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size())))
                return;
        }
        if (pending.size() > MaxLineLength)
            return; // not a control client
    }
}

} // namespace sandbox
