#include "app/Listservers.h"

#include "engine/Serverbrowser.h"

#include <QCommandLineParser>

#include <iostream>

namespace {
const QString ListServersOption = QStringLiteral("list-servers");

// A name as one line that a terminal shows as it is: control characters (a line break
// that would make a line of its own, an escape sequence that would work the terminal,
// the C1 controls of Unicode among them) are written as C escapes, "\n", "\x1b",
// "\u009b". The backslash of host\instance stays as it is.
std::string PrintableName(const std::string& name)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string line;
    line.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        if (byte == '\n') {
            line += "\\n";
        } else if (byte == '\r') {
            line += "\\r";
        } else if (byte == '\t') {
            line += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            line += "\\x";
            line += Hex[byte >> 4];
            line += Hex[byte & 0xf];
        } else if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) { // U+0080 to U+009F in UTF-8
            line += "\\u00";
            line += Hex[next >> 4];
            line += Hex[next & 0xf];
            ++i;
        } else {
            line += name[i];
        }
    }
    return line;
}
} // namespace

void AddListServersOption(QCommandLineParser& parser)
{
    parser.addOption({ListServersOption,
                      QStringLiteral("Print the SQL Servers on the network, one per line.")});
}

bool WantsServerList(const QCommandLineParser& parser)
{
    return parser.isSet(ListServersOption);
}

int RunListServers()
{
    const TBrowseResult result = TServerBrowser(TServerBrowser::TOptions::FromEnvironment()).BrowseServers();
    for (const std::string& name : result.Names)
        std::cout << PrintableName(name) << '\n';
    std::cout.flush();
    if (!result.Error.empty()) {
        std::cerr << result.Error << std::endl;
        return 1;
    }
    return 0;
}
