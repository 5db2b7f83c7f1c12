#include "sandbox/Sandboxserver.h"

#include "sandbox/Browseresponder.h"
#include "sandbox/Sandboxcontrolport.h"
#include "sandbox/Tdsserver.h"
#include "sandbox/Tdstlscontext.h"

#include <stdexcept>
#include <system_error>

namespace sandbox {

TSandboxServer::TSandboxServer(const ScenarioOptions& options)
    : FSimulation(options), FTds(std::make_unique<TTdsServer>(FSimulation)),
      FBrowse(std::make_unique<TBrowseResponder>()),
      FControl(std::make_unique<TSandboxControl>(*this)),
      FControlPort(std::make_unique<TSandboxControlPort>(*FControl))
{
    FSimulation.SetKilledHandler([this](int spid) { FTds->DropSession(spid); });
}

TSandboxServer::~TSandboxServer()
{
    Stop();
}

bool TSandboxServer::Start(std::uint16_t port, std::uint16_t controlPort, bool withControlPort,
                           std::uint16_t browsePort)
{
    try {
        FTds->Start(port);
        FBrowse->Listen(browsePort, FTds->Port());
        if (withControlPort)
            FControlPort->Listen(controlPort);
        return true;
    } catch (const std::system_error& e) {
        SetLastError(e.what());
        FControlPort->Stop();
        FBrowse->Stop();
        FTds->GoDown();
        return false;
    }
}

bool TSandboxServer::SetEncryption(bool required, const std::string& certificateFile,
                                   const std::string& keyFile)
{
    try {
        FTds->SetEncryption({required ? ETdsEncryption::Required : ETdsEncryption::Offered,
                             std::make_shared<const TTdsTlsContext>(certificateFile, keyFile)});
        return true;
    } catch (const std::runtime_error& e) {
        SetLastError(e.what());
        return false;
    }
}

std::string TSandboxServer::LastError() const
{
    const std::lock_guard lock(FErrorMutex);
    return FLastError;
}

std::uint16_t TSandboxServer::Port() const
{
    return FTds->Port();
}

std::uint16_t TSandboxServer::ControlPort() const
{
    return FControlPort->Port();
}

std::uint16_t TSandboxServer::BrowsePort() const
{
    return FBrowse->Port();
}

std::vector<std::string> TSandboxServer::BrowseServerNames() const
{
    return FBrowse->ServerNames();
}

void TSandboxServer::SetBrowseMalformed(bool on)
{
    FBrowse->SetMalformed(on);
}

void TSandboxServer::Hang(int seconds)
{
    FTds->Hang(seconds);
}

void TSandboxServer::Resume()
{
    FTds->Resume();
}

void TSandboxServer::GoDown()
{
    FTds->GoDown();
}

bool TSandboxServer::ComeBack()
{
    if (FStopped) {
        SetLastError("the server has been stopped");
        return false;
    }
    try {
        FTds->ComeBack();
        return true;
    } catch (const std::system_error& e) {
        SetLastError(e.what());
        return false;
    }
}

void TSandboxServer::Stop()
{
    FStopped = true;
    FControlPort->Stop();
    FBrowse->Stop();
    FTds->GoDown();
}

int TSandboxServer::ConnectionCount() const
{
    return FTds->ConnectionCount();
}

TSandboxSimulation& TSandboxServer::Simulation()
{
    return FSimulation;
}

void TSandboxServer::SetLastError(std::string error)
{
    const std::lock_guard lock(FErrorMutex);
    FLastError = std::move(error);
}

} // namespace sandbox
