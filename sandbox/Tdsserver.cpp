#include "sandbox/Tdsserver.h"

#include "sandbox/Tdssession.h"

namespace sandbox {

TTdsServer::TTdsServer(Backend& backend, TTdsServerIdentity identity)
    : FBackend(backend), FIdentity(std::move(identity)), FListener([this](const TTdsSocket& connection) {
          TTdsSession session(connection, FBackend, FIdentity, FHangGate, FSessions);
          session.Run();
      })
{
}

void TTdsServer::Start(std::uint16_t port)
{
    FListener.Listen(port);
}

void TTdsServer::GoDown()
{
    FListener.Close();
    FListener.DropAll();
}

void TTdsServer::ComeBack()
{
    FListener.Listen(FListener.Port());
}

} // namespace sandbox
