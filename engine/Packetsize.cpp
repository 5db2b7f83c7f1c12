#include "engine/Packetsize.h"

#include "settings/Registry.h"
#include "settings/Torvanesettings.h"

#include <QDebug>

#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

bool Valid(long long bytes)
{
    return bytes == 0 || (bytes >= MinPacketSize && bytes <= MaxPacketSize);
}

// what: the value as the user wrote it, where it was written.
void Refuse(const QString& what, int kept)
{
    // A mistyped size must not pass unnoticed: the connections would quietly differ
    // from what was asked for.
    qWarning().noquote() << QStringLiteral("%1 is refused: it takes 0 (the driver's default) or a whole "
                                           "number of bytes from %2 to %3. %4 is used.")
                                .arg(what)
                                .arg(MinPacketSize)
                                .arg(MaxPacketSize)
                                .arg(kept);
}

int SavedPacketSize()
{
    const QString name = QString::fromLatin1(TorvaneSettings::PacketSize);
    TRegistry registry(TRegistryRoot::LocalMachine);
    if (!registry.OpenKeyReadOnly(QString::fromLatin1(TorvaneSettings::RootKey)) ||
        !registry.ValueExists(name))
        return DefaultPacketSize;
    const std::optional<std::int32_t> saved = registry.ReadInteger(name);
    if (saved && Valid(*saved))
        return *saved;
    Refuse(QStringLiteral("The saved PacketSize %1")
               .arg(saved ? QString::number(*saved) : QStringLiteral("(not an integer)")),
           DefaultPacketSize);
    return DefaultPacketSize;
}

} // namespace

int ChosenPacketSize()
{
    const int saved = SavedPacketSize();
    const char* value = std::getenv("TORVANE_PACKET_SIZE");
    if (!value || *value == '\0')
        return saved;
    const std::string_view text(value);
    long long bytes = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bytes);
    if (error == std::errc() && end == text.data() + text.size() && Valid(bytes))
        return static_cast<int>(bytes);
    Refuse(QStringLiteral("TORVANE_PACKET_SIZE=") + QString::fromLocal8Bit(value), saved);
    return saved;
}
