#pragma once
// Certificates for the tests of encrypted connections, made at run time with the openssl
// program in a temporary folder: a test authority, a server certificate it signed for
// localhost and 127.0.0.1, and a second authority that signed nothing the server has.

#include <QString>
#include <QTemporaryDir>

class TTestCertificates
{
public:
    TTestCertificates();

    // False, with Error() saying why, when openssl failed.
    bool Made() const { return FError.isEmpty(); }
    const QString& Error() const { return FError; }

    QString CaFile() const { return FDir.filePath(QStringLiteral("ca.pem")); }
    QString OtherCaFile() const { return FDir.filePath(QStringLiteral("other-ca.pem")); }
    QString CertificateFile() const { return FDir.filePath(QStringLiteral("server.pem")); }
    QString KeyFile() const { return FDir.filePath(QStringLiteral("server.key")); }

private:
    bool Run(const QStringList& arguments);

    QTemporaryDir FDir;
    QString FError;
};
