#include "sandbox/Sandboxcontrol.h"

#include "sandbox/Sandboxserver.h"

#include <charconv>
#include <cstdio>
#include <map>
#include <sstream>
#include <vector>

namespace sandbox {

namespace {

using Words = std::vector<std::string>;

Words Split(const std::string& line)
{
    Words words;
    std::istringstream in(line);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

bool ParseInt(const std::string& text, int& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool ParseSwitch(const std::string& text, bool& on)
{
    if (text != "on" && text != "off")
        return false;
    on = text == "on";
    return true;
}

std::string Error(const std::string& why)
{
    return "error " + why;
}

// Fills one field of a ProcessSpec from key=value; false for an unknown key or a
// number that is not one.
bool SetSpecField(ProcessSpec& spec, const std::string& key, const std::string& value)
{
    const std::map<std::string, std::string ProcessSpec::*> texts = {
        {"login", &ProcessSpec::login},           {"program", &ProcessSpec::programName},
        {"database", &ProcessSpec::database},     {"domain", &ProcessSpec::ntDomain},
        {"ntuser", &ProcessSpec::ntUserName},     {"cmd", &ProcessSpec::cmd},
        {"status", &ProcessSpec::status},         {"netaddress", &ProcessSpec::netAddress},
        {"netlibrary", &ProcessSpec::netLibrary}, {"hostprocess", &ProcessSpec::hostProcess},
        {"waittype", &ProcessSpec::lastWaitType}, {"waitresource", &ProcessSpec::waitResource},
        {"statement", &ProcessSpec::statement}};
    const std::map<std::string, int ProcessSpec::*> numbers = {{"blocked", &ProcessSpec::blocked},
                                                               {"opentran", &ProcessSpec::openTran},
                                                               {"workers", &ProcessSpec::workers}};
    if (const auto text = texts.find(key); text != texts.end()) {
        spec.*(text->second) = value;
        return true;
    }
    if (const auto number = numbers.find(key); number != numbers.end())
        return ParseInt(value, spec.*(number->second));
    if (key == "host") {
        spec.hostName = value;
        return true;
    }
    if (key == "nohost") { // a NULL host name, as some clients leave it
        spec.hostName.reset();
        return value.empty();
    }
    if (key == "loginage") {
        int seconds = 0;
        if (!ParseInt(value, seconds))
            return false;
        spec.loginAgeSeconds = seconds;
        return true;
    }
    return false;
}

std::string AddProcess(TSandboxSimulation& simulation, const Words& words)
{
    ProcessSpec spec;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto equals = words[i].find('=');
        std::string value;
        if (equals == std::string::npos || !DecodeControlValue(words[i].substr(equals + 1), value) ||
            !SetSpecField(spec, words[i].substr(0, equals), value))
            return Error("bad field '" + words[i] + "'");
    }
    const int spid = simulation.AddProcess(spec);
    return spid > 0 ? "ok " + std::to_string(spid) : Error("the process table is full");
}

std::string FormatTime(double days)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.8f", days);
    return text;
}

std::string ListLog(const TSandboxSimulation& simulation)
{
    std::string out;
    for (const BatchLogEntry& entry : simulation.BatchLog())
        out += std::to_string(entry.spid) + '\t' + FormatTime(entry.time) + '\t' +
               EscapeControlText(entry.text) + '\n';
    return out + "end";
}

std::string ListProcesses(const TSandboxSimulation& simulation)
{
    std::string out;
    for (const ProcessInfo& p : simulation.Processes()) {
        const std::string fields[] = {std::to_string(p.spid),
                                      std::to_string(p.ecid),
                                      p.login,
                                      p.hostName ? *p.hostName : "NULL",
                                      p.programName,
                                      p.database,
                                      p.status,
                                      p.cmd,
                                      std::to_string(p.blocked),
                                      std::to_string(p.cpu),
                                      std::to_string(p.physicalIo),
                                      std::to_string(p.memusage)};
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            if (i > 0)
                out += '\t';
            out += EscapeControlText(fields[i]);
        }
        out += '\n';
    }
    return out + "end";
}

} // namespace

std::string TSandboxControl::Execute(const std::string& line)
{
    const Words words = Split(line);
    if (words.empty())
        return Error("empty command");
    const std::string& command = words[0];
    TSandboxSimulation& simulation = FServer.Simulation();
    int number = 0;
    int second = 0;
    bool on = false;

    if (command == "hang" && words.size() == 2 && ParseInt(words[1], number) && number >= 0) {
        FServer.Hang(number);
    } else if (command == "resume" && words.size() == 1) {
        FServer.Resume();
    } else if (command == "down" && words.size() == 1) {
        FServer.GoDown();
    } else if (command == "up" && words.size() == 1) {
        if (!FServer.ComeBack())
            return Error(FServer.LastError());
    } else if (command == "probe-delay" && words.size() == 2 && ParseInt(words[1], number) && number >= 0) {
        simulation.SetProbeDelayMs(number);
    } else if (command == "stmt-start" && words.size() == 2 && ParseSwitch(words[1], on)) {
        simulation.SetStatementOffsetColumn(on);
    } else if (command == "fn-get-sql" && words.size() == 2 && ParseSwitch(words[1], on)) {
        simulation.SetFnGetSqlPermission(on);
    } else if (command == "case-sensitive" && words.size() == 2 && ParseSwitch(words[1], on)) {
        simulation.SetCaseSensitive(on);
    } else if (command == "browse-malformed" && words.size() == 2 && ParseSwitch(words[1], on)) {
        FServer.SetBrowseMalformed(on);
    } else if (command == "add") {
        return AddProcess(simulation, words);
    } else if (command == "remove" && words.size() == 2 && ParseInt(words[1], number)) {
        if (!simulation.RemoveProcess(number))
            return Error("no process " + words[1]);
    } else if (command == "block" && words.size() == 3 && ParseInt(words[1], number) &&
               ParseInt(words[2], second)) {
        if (!simulation.BlockProcess(number, second))
            return Error("cannot block process " + words[1] + " by " + words[2]);
    } else if (command == "log" && words.size() == 1) {
        return ListLog(simulation);
    } else if (command == "processes" && words.size() == 1) {
        return ListProcesses(simulation);
    } else {
        return Error("unknown command or bad arguments: '" + EscapeControlText(line) + "'");
    }
    return "ok";
}

std::string EscapeControlText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool DecodeControlValue(const std::string& encoded, std::string& decoded)
{
    decoded.clear();
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            decoded += encoded[i];
            continue;
        }
        int value = 0;
        if (i + 2 >= encoded.size())
            return false;
        const auto [end, error] = std::from_chars(encoded.data() + i + 1, encoded.data() + i + 3, value, 16);
        if (error != std::errc() || end != encoded.data() + i + 3)
            return false;
        decoded += static_cast<char>(value);
        i += 2;
    }
    return true;
}

} // namespace sandbox
