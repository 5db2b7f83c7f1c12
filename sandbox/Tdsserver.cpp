#include "sandbox/Tdsserver.h"

namespace sandbox {

TTdsServer::TTdsServer(Backend& backend, TTdsServerIdentity identity)
    : FBackend(backend), FIdentity(std::move(identity)), FListener([this](const TTdsSocket& connection) {
          TTdsEncryptionSettings encryption;
          {
              const std::lock_guard lock(FEncryptionMutex);
              encryption = FEncryption;
          }
          TTdsSession session(connection, FBackend, FIdentity, FHangGate, FSessions, std::move(encryption));
          session.Run();
      })
{
}

void TTdsServer::Start(std::uint16_t port)
{
    FListener.Listen(port);
}

void TTdsServer::SetEncryption(TTdsEncryptionSettings encryption)
{
    const std::lock_guard lock(FEncryptionMutex);
    FEncryption = std::move(encryption);
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
