#pragma once
// Connection security as the next connection uses it, and what each ODBC driver is told
// to do about it. FreeTDS encrypts when the server offers and checks no certificate
// unless it is given a CA file; Microsoft's ODBC Driver 18 (and later) encrypts and
// checks the certificate against the system's trust store unless told otherwise, while
// its earlier drivers encrypt only the login unless told otherwise; none of Microsoft's
// takes a CA file.

#include "settings/Torvanesettings.h"

#include <string>
#include <utility>
#include <vector>

// The machine hive's connection security with the environment over it:
// TORVANE_ENCRYPT (off, offered or required), TORVANE_TRUST_SERVER_CERTIFICATE (yes or
// no), TORVANE_CA_FILE. A value that does not parse is refused with a warning and the
// hive's stands. Read afresh at every call, as every reader of the settings store is.
TConnectionSecurity ChosenConnectionSecurity();

// What one driver does, once its own defaults fill what the settings leave open.
struct TDriverSecurity
{
    EEncrypt Encrypt = EEncrypt::WhenOffered;
    bool ValidateCertificate = false;
    // FreeTDS only: the CA file for its freetds.conf section, "system" for the system's
    // trust store, empty when no certificate is checked (it then needs no section).
    std::string FreeTdsCaFile;
    // The attributes that say so in the driver's connection string, in order.
    std::vector<std::pair<std::string, std::string>> Attributes;
};
// driver: the ODBC driver's name as registered ("FreeTDS", "ODBC Driver 18 for SQL Server").
TDriverSecurity DriverSecurity(const TConnectionSecurity& settings, const std::string& driver);
