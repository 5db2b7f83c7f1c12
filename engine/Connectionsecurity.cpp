#include "engine/Connectionsecurity.h"

#include "engine/Dbconnectionstring.h"

#include <QDebug>
#include <QRegularExpression>

#include <cstdlib>

namespace {

QString Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? QString::fromLocal8Bit(value).trimmed() : QString();
}

void Refuse(const char* name, const QString& value, const char* accepted)
{
    // A mistyped value must not silently weaken or change how servers are reached.
    qWarning().noquote() << QStringLiteral("%1=%2 is refused: it takes %3. The saved setting is used.")
                                .arg(QString::fromLatin1(name), value, QString::fromLatin1(accepted));
}

// Microsoft's ODBC Driver 18 made encryption with a checked certificate the default.
bool EncryptsByDefault(const std::string& driver)
{
    static const QRegularExpression Version(QStringLiteral("ODBC Driver (\\d+) for SQL Server"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = Version.match(QString::fromStdString(driver));
    return match.hasMatch() && match.captured(1).toInt() >= 18;
}

} // namespace

TConnectionSecurity ChosenConnectionSecurity()
{
    TConnectionSecurity security = ReadConnectionSecurity();
    if (const QString encrypt = Environment("TORVANE_ENCRYPT").toLower(); !encrypt.isEmpty()) {
        if (encrypt == QLatin1String("off"))
            security.Encrypt = EEncrypt::Off;
        else if (encrypt == QLatin1String("offered"))
            security.Encrypt = EEncrypt::WhenOffered;
        else if (encrypt == QLatin1String("required"))
            security.Encrypt = EEncrypt::Required;
        else
            Refuse("TORVANE_ENCRYPT", encrypt, "off, offered or required");
    }
    if (const QString trust = Environment("TORVANE_TRUST_SERVER_CERTIFICATE").toLower(); !trust.isEmpty()) {
        if (trust == QLatin1String("yes"))
            security.TrustServerCertificate = true;
        else if (trust == QLatin1String("no"))
            security.TrustServerCertificate = false;
        else
            Refuse("TORVANE_TRUST_SERVER_CERTIFICATE", trust, "yes or no");
    }
    if (const QString caFile = Environment("TORVANE_CA_FILE"); !caFile.isEmpty())
        security.CAFile = caFile;
    return security;
}

TDriverSecurity DriverSecurity(const TConnectionSecurity& settings, const std::string& driverName)
{
    TDriverSecurity driver;
    if (IsFreeTdsDriver(driverName)) {
        driver.Encrypt = settings.Encrypt.value_or(EEncrypt::WhenOffered);
        // Naming a CA file asks for the certificate to be checked against it.
        driver.ValidateCertificate =
            settings.TrustServerCertificate ? !*settings.TrustServerCertificate : !settings.CAFile.isEmpty();
        if (driver.Encrypt == EEncrypt::Off)
            driver.ValidateCertificate = false;
        if (driver.ValidateCertificate)
            driver.FreeTdsCaFile =
                settings.CAFile.isEmpty() ? std::string("system") : settings.CAFile.toStdString();
        const char* encryption = driver.Encrypt == EEncrypt::Off        ? "off"
                                 : driver.Encrypt == EEncrypt::Required ? "require"
                                                                        : "request";
        driver.Attributes.emplace_back("Encryption", encryption);
        return driver;
    }
    const bool byDefault = EncryptsByDefault(driverName);
    driver.Encrypt = settings.Encrypt.value_or(byDefault ? EEncrypt::Required : EEncrypt::Off);
    // The earlier drivers check the certificate only when told to encrypt.
    driver.ValidateCertificate =
        !settings.TrustServerCertificate.value_or(!byDefault && driver.Encrypt != EEncrypt::Required);
    if (settings.Encrypt) {
        const char* encrypt = *settings.Encrypt == EEncrypt::Off        ? "no"
                              : *settings.Encrypt == EEncrypt::Required ? "yes"
                                                                        : "optional";
        driver.Attributes.emplace_back("Encrypt", encrypt);
    }
    if (settings.TrustServerCertificate)
        driver.Attributes.emplace_back("TrustServerCertificate",
                                       *settings.TrustServerCertificate ? "yes" : "no");
    return driver;
}
