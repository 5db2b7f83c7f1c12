#include "tests/support/Sandboxfixture.h"

#include <QFile>

#include <algorithm>
#include <stdexcept>

TSandboxFixture::TSandboxFixture(const std::string& scenarioJson)
{
    sandbox::ScenarioOptions options;
    if (!scenarioJson.empty()) {
        const QString path = FDirectory.filePath(QStringLiteral("scenario.json"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)
            || file.write(scenarioJson.data(), static_cast<qint64>(scenarioJson.size()))
                != static_cast<qint64>(scenarioJson.size())) {
            FError = "cannot write the scenario file " + path.toStdString();
            return;
        }
        file.close();
        options.scenarioFile = path.toStdString();
    }
    try {
        FServer = std::make_unique<sandbox::TSandboxServer>(options);
    } catch (const std::exception& error) {
        FError = error.what();
        return;
    }
    FStarted = FServer->Start();
    if (!FStarted)
        FError = FServer->LastError();
}

std::uint16_t TSandboxFixture::Port() const
{
    return FServer ? FServer->Port() : 0;
}

std::string TSandboxFixture::ServerName() const
{
    return "127.0.0.1," + std::to_string(Port());
}

int TSandboxFixture::BatchCount(const std::string& text) const
{
    const auto log = FServer->Simulation().BatchLog();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const auto& entry) { return entry.text == text; }));
}
