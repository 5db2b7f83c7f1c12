#pragma once
// FreeTDS takes a CA file only from a section of a freetds.conf, and finds its
// freetds.conf through FREETDSCONF. TFreeTdsConfig makes Torvane's own file in a private
// folder, starting with the text of the file FREETDSCONF named before (so the user's
// sections still work; only a regular file of at most 1 MB is read, anything else is
// left out with a warning), and points FREETDSCONF at it while the object lives. The
// folder goes with the object, or at exit() when the program ends without unwinding. The
// environment may only change while no other thread runs: the program's main() and the
// tests make the object before they start any.

#include <QByteArray>
#include <QTemporaryDir>

#include <string>
#include <utility>
#include <vector>

class TFreeTdsConfig
{
public:
    TFreeTdsConfig();
    ~TFreeTdsConfig();
    TFreeTdsConfig(const TFreeTdsConfig&) = delete;
    TFreeTdsConfig& operator=(const TFreeTdsConfig&) = delete;

    // False when the file could not be made (the reason is on standard error); FreeTDS
    // connections that check certificates then fail with a message that says so.
    bool IsValid() const { return FValid; }

private:
    QTemporaryDir FDirectory;
    QByteArray FFormer; // FREETDSCONF before, empty when it was not set
    bool FValid = false;
};

// Removes Torvane's own file with its folder when FREETDSCONF names it, for a program
// that ends without running destructors (_exit), which would leave the folder behind.
void RemoveOwnFreeTdsConfig();

// The name of the section that holds the settings for one server in Torvane's own file.
std::string FreeTdsSectionName(const std::string& host, const std::string& instance, const std::string& port);

// Adds the section, or replaces it when it is there, in the file FREETDSCONF names.
// Throws EDbError when FREETDSCONF names no file TFreeTdsConfig made, when a value
// holds a line break, or when the file cannot be written.
void WriteFreeTdsSection(const std::string& name,
                         const std::vector<std::pair<std::string, std::string>>& lines);
