#include "sandbox/Tdsresponse.h"

#include "sandbox/Tdstokens.h"

namespace sandbox {

namespace {

constexpr int ChangedDatabaseNumber = 5701;
constexpr int ChangedLanguageNumber = 5703;
constexpr int InternalErrorNumber = 50000;
constexpr char Language[] = "us_english";

Message Info(int number, std::string text)
{
    Message info;
    info.number = number;
    info.state = number == ChangedDatabaseNumber ? 2 : 1;
    info.severity = 0;
    info.text = std::move(text);
    return info;
}

// Whether an item ends its statement with a DONE token of its own.
bool EndsStatement(const ResultItem& item)
{
    if (const auto* message = std::get_if<Message>(&item))
        return message->isError();
    return !std::holds_alternative<DatabaseChange>(item);
}

} // namespace

Bytes EncodeLoginAccepted(std::uint32_t tdsVersion, const TTdsServerIdentity& identity,
                          const std::string& database, std::size_t packetSize, std::size_t previousPacketSize)
{
    TTdsTokenWriter out(tdsVersion, identity.serverName);
    out.EnvChange(TdsEnvChange::Database, database, "master");
    out.Message(Info(ChangedDatabaseNumber, "Changed database context to '" + database + "'."));
    out.EnvChangeBinary(TdsEnvChange::SqlCollation, TdsServerCollation(), {});
    out.EnvChange(TdsEnvChange::Language, Language, "");
    out.Message(Info(ChangedLanguageNumber, std::string("Changed language setting to ") + Language + "."));
    out.LoginAck(identity.programName, identity.version);
    out.EnvChange(TdsEnvChange::PacketSize, std::to_string(packetSize), std::to_string(previousPacketSize));
    out.Done(TdsDoneStatus::Final);
    return out.Take();
}

Bytes EncodeLoginRefused(std::uint32_t tdsVersion, const TTdsServerIdentity& identity, const Message& error)
{
    TTdsTokenWriter out(tdsVersion, identity.serverName);
    out.Message(error);
    out.Done(TdsDoneStatus::Error);
    return out.Take();
}

Bytes EncodeBatchResult(std::uint32_t tdsVersion, const TTdsServerIdentity& identity,
                        const BatchResult& result)
{
    TTdsTokenWriter out(tdsVersion, identity.serverName);
    const auto& items = result.items;
    bool doneSent = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::uint16_t more = i + 1 < items.size() ? TdsDoneStatus::More : 0;
        const ResultItem& item = items[i];
        doneSent = EndsStatement(item);
        if (const auto* set = std::get_if<ResultSet>(&item)) {
            if (set->columns.empty()) {
                out.Done(more);
                continue;
            }
            try {
                out.Results(*set);
                if (set->failureText.empty()) {
                    out.Done(more | TdsDoneStatus::Count, TdsCurCmdSelect, set->rows.size());
                } else {
                    Message failure;
                    failure.number = set->failureNumber;
                    failure.text = set->failureText;
                    out.Message(failure);
                    out.Done(more | TdsDoneStatus::Error);
                }
            } catch (const ETdsEncodingError& e) {
                Message error;
                error.number = InternalErrorNumber;
                error.text = std::string("The sandbox cannot send this result: ") + e.what();
                out.Message(error);
                out.Done(more | TdsDoneStatus::Error);
            }
        } else if (const auto* count = std::get_if<RowCount>(&item)) {
            out.Done(more | TdsDoneStatus::Count, 0, static_cast<std::uint64_t>(count->count));
        } else if (std::holds_alternative<StatementDone>(item)) {
            out.Done(more);
        } else if (const auto* message = std::get_if<Message>(&item)) {
            out.Message(*message);
            if (message->isError())
                out.Done(more | TdsDoneStatus::Error);
        } else if (const auto* change = std::get_if<DatabaseChange>(&item)) {
            out.EnvChange(TdsEnvChange::Database, change->newName, change->oldName);
        }
    }
    if (!doneSent)
        out.Done(TdsDoneStatus::Final);
    return out.Take();
}

Bytes EncodeAttentionAck(std::uint32_t tdsVersion)
{
    TTdsTokenWriter out(tdsVersion, {});
    out.Done(TdsDoneStatus::Attention);
    return out.Take();
}

} // namespace sandbox
