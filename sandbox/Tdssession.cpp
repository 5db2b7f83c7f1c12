#include "sandbox/Tdssession.h"

#include "sandbox/Tdstokens.h"

#include <algorithm>
#include <array>
#include <future>

namespace sandbox {

namespace {

constexpr std::size_t MaxMessageSize = 64 * 1024 * 1024;
constexpr int HungPollMs = 50;
constexpr std::chrono::milliseconds BatchPoll(5);

constexpr int UntrustedDomainNumber = 18452;
constexpr char UntrustedDomainText[] =
    "Login failed. The login is from an untrusted domain and cannot be used with Windows authentication.";
constexpr int InternalErrorNumber = 50000;

namespace TransactionRequest {
constexpr std::uint16_t Begin = 5;
constexpr std::uint16_t Commit = 7;
constexpr std::uint16_t Rollback = 8;
} // namespace TransactionRequest

// The system procedures a client may call by number instead of by name.
std::string WellKnownProcedureName(std::uint16_t id)
{
    static constexpr const char* Names[] = {
        "sp_cursor",          "sp_cursoropen",  "sp_cursorprepare", "sp_cursorexecute", "sp_cursorprepexec",
        "sp_cursorunprepare", "sp_cursorfetch", "sp_cursoroption",  "sp_cursorclose",   "sp_executesql",
        "sp_prepare",         "sp_execute",     "sp_prepexec",      "sp_prepexecrpc",   "sp_unprepare"};
    if (id >= 1 && id <= std::size(Names))
        return Names[id - 1];
    return "procedure id " + std::to_string(id);
}

Bytes Descriptor(std::uint64_t transaction)
{
    TTdsWriter out;
    out.UInt64(transaction);
    return out.Take();
}

} // namespace

TTdsSession::TTdsSession(const TTdsSocket& socket, Backend& backend, const TTdsServerIdentity& identity,
                         const TTdsHangGate& hangGate, TTdsSessionRegistry& registry,
                         TTdsEncryptionSettings encryption)
    : FSocket(socket), FBackend(backend), FIdentity(identity), FHangGate(hangGate), FRegistry(registry),
      FEncryption(std::move(encryption)), FAssembler(MaxMessageSize)
{
}

void TTdsSession::Run()
{
    try {
        for (;;) {
            if (FPending.empty()) {
                if (!ReadMore(-1))
                    break;
                continue;
            }
            if (!WaitWhileHung())
                break;
            if (TakeAttention()) {
                if (!Send(TdsPacketType::TabularResult, EncodeAttentionAck(FTdsVersion)))
                    break;
                continue;
            }
            const TTdsMessage message = std::move(FPending.front());
            FPending.pop_front();
            if (!Handle(message))
                break;
        }
    } catch (const std::exception&) {
        // A client that breaks the protocol loses its connection, as with a real
        // server; so does one the server cannot serve (no thread or memory left).
    }
    if (FLoggedIn) {
        FRegistry.Remove(FSpid, *this);
        // A killed session's spid may already belong to a new login.
        try {
            if (!FKilled)
                FBackend.Logout(FSpid);
        } catch (const std::exception&) {
            // The connection is gone either way; the server carries on.
        }
    }
}

void TTdsSession::Kill()
{
    FKilled = true;
    FSocket.Shutdown();
}

bool TTdsSession::ReadMore(int timeoutMs)
{
    if (!FSocket.WaitReadable(timeoutMs))
        return true;
    std::array<std::uint8_t, 65536> buffer;
    const std::ptrdiff_t got = FSocket.Receive(buffer);
    if (got <= 0)
        return false;
    const auto received = std::span(buffer).first(static_cast<std::size_t>(got));
    if (FTlsOn)
        FAssembler.Append(FTls->Decrypt(received));
    else
        FAssembler.Append(received);
    while (auto message = FAssembler.Next())
        FPending.push_back(std::move(*message));
    return true;
}

bool TTdsSession::TakeAttention()
{
    const auto attention = std::find_if(FPending.begin(), FPending.end(), [](const TTdsMessage& m) {
        return m.type == TdsPacketType::Attention;
    });
    if (attention == FPending.end())
        return false;
    FPending.erase(FPending.begin(), attention + 1);
    return true;
}

bool TTdsSession::Handle(const TTdsMessage& message)
{
    if (!FLoggedIn)
        return HandleLogin(message);
    switch (message.type) {
    case TdsPacketType::SqlBatch:
        return HandleBatch(message);
    case TdsPacketType::Rpc:
        HandleRpc(message);
        return true;
    case TdsPacketType::TransactionManager:
        HandleTransactionRequest(message);
        return true;
    default:
        return false; // a second login or a request this server does not speak
    }
}

bool TTdsSession::HandlePrelogin(const TTdsMessage& message)
{
    if (FTls) {
        // The handshake travels in pre-login packets; once it is done, the socket
        // carries TLS records and the next message is the login inside them.
        if (FTls->Established())
            return false;
        const Bytes answer = FTls->Handshake(message.payload);
        if (!answer.empty() &&
            !FSocket.SendAll(EncodePackets(TdsPacketType::Prelogin, answer, FPacketSize, 0)))
            return false;
        FTlsOn = FTls->Established();
        if (FTlsOn && FAssembler.HasPartialData())
            throw ETdsProtocolError("data in the clear after the TLS handshake");
        return true;
    }
    const ETdsEncryption mode = FEncryption.Context ? FEncryption.Mode : ETdsEncryption::NotSupported;
    const TTdsEncryptionAgreement agreement =
        NegotiateEncryption(mode, PreloginClientEncryption(message.payload));
    const bool sent = Send(TdsPacketType::TabularResult,
                           BuildPreloginResponse(message.payload, FIdentity.version, agreement.answer));
    // A server that forces encryption closes the connection of a client that cannot
    // encrypt right after telling it so.
    if (!sent || agreement.channel == ETdsChannel::Refused)
        return false;
    FChannel = agreement.channel;
    if (FChannel != ETdsChannel::Plain)
        FTls = std::make_unique<TTdsTlsStream>(*FEncryption.Context);
    return true;
}

bool TTdsSession::HandleLogin(const TTdsMessage& message)
{
    if (message.type == TdsPacketType::Prelogin)
        return HandlePrelogin(message);
    // A client that agreed to encrypt and sends its login in the clear is refused, as
    // it is by a server that forces encryption.
    if (message.type != TdsPacketType::Login7 || (FChannel != ETdsChannel::Plain && !FTlsOn))
        return false;

    TTdsLogin login = ParseLogin7(message.payload);
    if (FChannel == ETdsChannel::LoginOnly) {
        // Only the login was to be encrypted: everything after it, the answer
        // included, goes in the clear.
        FTlsOn = false;
        FTls.reset();
    }
    FTdsVersion = NegotiateTdsVersion(login.request.tdsVersion);
    login.request.clientAddress = FSocket.PeerAddress();
    if (login.request.integratedSecurity) {
        // This server has no Windows domain: refuse at once instead of starting SSPI.
        Message error;
        error.number = UntrustedDomainNumber;
        error.severity = 14;
        error.text = UntrustedDomainText;
        Send(TdsPacketType::TabularResult, EncodeLoginRefused(FTdsVersion, FIdentity, error));
        return false;
    }

    LoginResult result;
    try {
        result = FBackend.Login(login.request);
    } catch (const std::exception& e) {
        result.ok = false;
        result.error.number = InternalErrorNumber;
        result.error.severity = 14;
        result.error.text = e.what();
    }
    if (!result.ok) {
        Send(TdsPacketType::TabularResult, EncodeLoginRefused(FTdsVersion, FIdentity, result.error));
        return false;
    }
    FLoggedIn = true;
    FSpid = result.spid;
    FRegistry.Add(FSpid, *this);
    // The size the client asked for within what TDS allows (0: the server's default).
    // The login's answer still goes in the packets used so far; both sides take the new
    // size from the next message on, as a server and its clients do.
    const std::size_t granted =
        login.packetSize == 0 ? FPacketSize
                              : std::clamp<std::size_t>(login.packetSize, TdsMinPacketSize, TdsMaxPacketSize);
    const std::string database = result.database.empty() ? "master" : result.database;
    const Bytes reply = EncodeLoginAccepted(FTdsVersion, FIdentity, database, granted, FPacketSize);
    const bool sent = Send(TdsPacketType::TabularResult, reply);
    FPacketSize = granted;
    return sent;
}

std::span<const std::uint8_t> TTdsSession::SkipAllHeaders(std::span<const std::uint8_t> payload) const
{
    if (!IsTds72OrLater(FTdsVersion) || payload.size() < 4)
        return payload;
    TTdsReader reader(payload);
    const std::size_t total = reader.UInt32();
    if (total < 4 || total > payload.size())
        return payload; // no headers after all: a client that left them out
    return payload.subspan(total);
}

bool TTdsSession::HandleBatch(const TTdsMessage& message)
{
    const std::string sql = Ucs2ToUtf8(SkipAllHeaders(message.payload));
    // The batch runs on its own thread while this one keeps reading, so a cancel is
    // acknowledged at once, as a server that aborts the running statement does.
    auto running = std::async(std::launch::async, [&] { return FBackend.ExecuteBatch(FSpid, sql); });
    bool connected = true;
    bool cancelled = false;
    while (running.wait_for(BatchPoll) != std::future_status::ready) {
        if (!connected || cancelled || FHangGate.IsHung())
            continue;
        connected = ReadMore(0);
        if (connected && TakeAttention()) {
            cancelled = true;
            connected = Send(TdsPacketType::TabularResult, EncodeAttentionAck(FTdsVersion));
        }
    }
    BatchResult result;
    try {
        result = running.get();
    } catch (const std::exception& e) {
        Message error;
        error.number = InternalErrorNumber;
        error.text = std::string("The sandbox failed to run the batch: ") + e.what();
        result.items = {error};
    }
    if (!connected || cancelled)
        return connected;
    if (!WaitWhileHung())
        return false;
    if (TakeAttention())
        return Send(TdsPacketType::TabularResult, EncodeAttentionAck(FTdsVersion));
    return Send(TdsPacketType::TabularResult, EncodeBatchResult(FTdsVersion, FIdentity, result));
}

bool TTdsSession::WaitWhileHung()
{
    while (FHangGate.IsHung()) {
        if (!ReadMore(HungPollMs))
            return false;
    }
    return true;
}

void TTdsSession::HandleRpc(const TTdsMessage& message)
{
    TTdsReader reader(SkipAllHeaders(message.payload));
    const std::uint16_t nameLength = reader.UInt16();
    const std::string name = nameLength == 0xFFFF ? WellKnownProcedureName(reader.UInt16())
                                                  : Ucs2ToUtf8(reader.Take(std::size_t{nameLength} * 2));
    SendError(InternalErrorNumber, 1,
              "The sandbox does not run remote procedure calls ('" + name +
                  "'); send the statement as a SQL batch.");
}

void TTdsSession::HandleTransactionRequest(const TTdsMessage& message)
{
    TTdsReader reader(SkipAllHeaders(message.payload));
    const std::uint16_t request = reader.UInt16();
    TTdsTokenWriter out(FTdsVersion, FIdentity.serverName);
    if (request == TransactionRequest::Begin) {
        FTransaction = ++FLastTransaction;
        out.EnvChangeBinary(TdsEnvChange::BeginTransaction, Descriptor(FTransaction), {});
    } else if (request == TransactionRequest::Commit || request == TransactionRequest::Rollback) {
        if (FTransaction != 0) {
            out.EnvChangeBinary(request == TransactionRequest::Commit ? TdsEnvChange::CommitTransaction
                                                                      : TdsEnvChange::RollbackTransaction,
                                {}, Descriptor(FTransaction));
        }
        FTransaction = 0;
    } else {
        SendError(InternalErrorNumber, 1, "This transaction manager request is not supported.");
        return;
    }
    out.Done(TdsDoneStatus::Final);
    Send(TdsPacketType::TabularResult, out.Take());
}

bool TTdsSession::SendError(int number, int state, const std::string& text)
{
    BatchResult result;
    Message error;
    error.number = number;
    error.state = state;
    error.text = text;
    result.items.push_back(error);
    return Send(TdsPacketType::TabularResult, EncodeBatchResult(FTdsVersion, FIdentity, result));
}

bool TTdsSession::Send(std::uint8_t type, const Bytes& payload)
{
    return SendRaw(EncodePackets(type, payload, FPacketSize, static_cast<std::uint16_t>(FSpid)));
}

bool TTdsSession::SendRaw(std::span<const std::uint8_t> bytes)
{
    if (FTlsOn)
        return FSocket.SendAll(FTls->Encrypt(bytes));
    return FSocket.SendAll(bytes);
}

} // namespace sandbox
